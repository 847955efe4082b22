"""ComError, the exception of a failed call (one subclass per situation), and the message
text and explanation of an HRESULT."""
from . import _types as T

# The runtime's own failures, which the module's message table does not describe.
_RUNTIME_MESSAGES = {
    T.E_NOTIMPL: "Not implemented.",
    T.E_NOINTERFACE: "No such interface supported.",
    T.E_POINTER: "Invalid pointer.",
    T.E_FAIL: "Unspecified error.",
    T.E_OUTOFMEMORY: "Not enough memory.",
    T.E_INVALIDARG: "One or more arguments are invalid.",
    T.DISP_E_MEMBERNOTFOUND: "Member not found.",
    T.DISP_E_PARAMNOTFOUND: "Parameter not found.",
    T.DISP_E_TYPEMISMATCH: "Type mismatch.",
    T.DISP_E_UNKNOWNNAME: "Unknown name.",
    T.DISP_E_NONAMEDARGS: "No named arguments.",
    T.DISP_E_BADVARTYPE: "Bad variable type.",
    T.DISP_E_EXCEPTION: "Exception occurred.",
    T.DISP_E_OVERFLOW: "Out of present range.",
    T.DISP_E_BADINDEX: "Invalid index.",
    T.DISP_E_BADPARAMCOUNT: "Invalid number of parameters.",
    T.REGDB_E_CLASSNOTREG: "Class not registered (register the module with `carvix register`).",
    T.CO_E_CLASSSTRING: "Invalid class string (no such ProgID is registered; register the "
                        "module with `carvix register`).",
    T.CO_E_DLLNOTFOUND: "The registered module file was not found.",
    T.CO_E_ERRORINDLL: "The registered module could not be loaded.",
}

_FORMAT_MESSAGE_FROM_SYSTEM = 0x1000
_FORMAT_MESSAGE_IGNORE_INSERTS = 0x200


def signed(hresult):
    """The HRESULT as the signed 32-bit value the runtime returns."""
    hresult &= 0xFFFFFFFF
    return hresult - (1 << 32) if hresult & 0x80000000 else hresult


def error_message(hresult):
    """The message text for an HRESULT: for the runtime's own failures (calls, activation) the
    runtime's text from the table here, whether or not the module is registered; otherwise
    the system's text (the runtime's FormatMessageW, the text CARVIX.Utilities GetErrorMessage
    gives), found without creating an object. Never raises; empty when no text is known."""
    code = signed(hresult)
    if code in _RUNTIME_MESSAGES:
        return _RUNTIME_MESSAGES[code]
    return _system_message(code)


def _system_message(code):
    import ctypes as C

    from . import _runtime
    try:
        format_message = _runtime.library().FormatMessageW
    except Exception:  # no runtime, or one without FormatMessageW: the table here answers
        return ""
    format_message.restype = C.c_uint32
    format_message.argtypes = [C.c_uint32, C.c_void_p, C.c_uint32, C.c_uint32, C.c_void_p,
                               C.c_uint32, C.c_void_p]
    size = 1024
    buffer = C.create_string_buffer(size * 2)
    length = format_message(_FORMAT_MESSAGE_FROM_SYSTEM | _FORMAT_MESSAGE_IGNORE_INSERTS, None,
                            code & 0xFFFFFFFF, 0x400, buffer, size, None)
    return buffer.raw[:length * 2].decode("utf-16-le", errors="replace")


def explanation(hresult):
    """What the failure table says of an HRESULT: a dict with name, situation, meaning and
    next_step, or None when the table does not know the code. A card's status word inside
    an HRESULT (0x8007 6xxx) gets its interindustry meaning."""
    from ._failures import TABLE
    code = hresult & 0xFFFFFFFF
    row = TABLE["failures"].get(f"0x{code:08X}")
    if row:
        return {"name": row[0], "situation": row[1], "meaning": row[2], "next_step": row[3]}
    words = TABLE["statusWords"]
    sw = code & 0xFFFF
    if (code >> 16) not in words["facilities"] or sw & 0xF000 != 0x6000:
        return None
    meaning = (status_word_meaning(sw)
               or f"{sw:04X}: a status word the card uses for its own errors")
    for mask, value, name, situation, next_step in words["words"]:
        if sw & mask == value:
            return {"name": name, "situation": situation, "meaning": meaning,
                    "next_step": next_step}
    name, situation = words["default"]
    return {"name": name, "situation": situation, "meaning": meaning, "next_step": ""}


def status_word_meaning(sw):
    """"6A82: the card has no such application or file", or "" for a status word outside
    the interindustry ranges."""
    from ._failures import TABLE
    words = TABLE["statusWords"]
    for word, text in words["exact"]:
        if word == sw:
            return f"{sw:04X}: {text}"
    for mask, value, before, after in words["counted"]:
        if sw & mask == value:
            return f"{sw:04X}: {before}{sw & ~mask & 0xFFFF}{after}"
    for word, text in words["ranges"]:
        if sw & 0xFF00 == word:
            return f"{sw:04X}: {text}"
    return ""


class ComError(Exception):
    """A failed call. `hresult` is the failure code as an unsigned 32-bit int (the way it is
    written, 0x80100069); `message` the text from the object's exception information or,
    without one, the message for the code; `member` the member being called (may be None);
    `source` the failing interface as the object reported it (may be None).

    From the failure table: `failure` (the failure's name, "NoCard"), `meaning` and
    `next_step` (empty when the table does not know the code). ComError(hresult, ...) is an
    instance of the situation's class (NoCardError, WrongPinError, ...), all subclasses of
    ComError."""

    def __new__(cls, hresult=0, *args, **kwargs):
        if cls is ComError:
            cls = _situation_class(hresult)
        return super().__new__(cls)

    def __init__(self, hresult, message=None, member=None, source=None):
        self.hresult = hresult & 0xFFFFFFFF
        self.message = error_message(self.hresult) if message is None else message
        self.member = member
        self.source = source
        known = explanation(self.hresult) or {}
        self.failure = known.get("name")
        self.meaning = known.get("meaning", "")
        self.next_step = known.get("next_step", "")
        super().__init__(self.hresult, self.message)

    @property
    def status_word(self):
        """The card's status word (0x6A82) when the failure is one, else None."""
        if self.failure is None:
            return None
        sw = self.hresult & 0xFFFF
        return sw if sw & 0xF000 == 0x6000 and self.meaning.startswith(f"{sw:04X}:") else None

    @property
    def tries_left(self):
        """The tries the card still allows after a failed verification (status word 63Cx),
        else None."""
        sw = self.status_word
        return sw & 0xF if sw is not None and sw & 0xFFF0 == 0x63C0 else None

    def __str__(self):
        text = f"0x{self.hresult:08X}"
        if self.message:
            text += f": {self.message}"
        return f"{self.member}: {text}" if self.member else text


def _situation_class(hresult):
    try:
        from ._failures import SITUATIONS
        known = explanation(hresult & 0xFFFFFFFF)
    except Exception:  # a broken table must not hide the failure itself
        return ComError
    return SITUATIONS.get(known["situation"], ComError) if known else ComError


class WrongArgumentCount(ComError, TypeError):
    """A method called with too few or too many arguments: also a TypeError, as a Python
    function would raise. The message names the parameters when the type information has
    them."""

    def __init__(self, hresult, member, names=None, given=0, source=None):
        if names is not None:
            listed = f" ({', '.join(names)})" if names else ""
            plural = "" if len(names) == 1 else "s"
            text = f"{member}() takes {len(names)} argument{plural}{listed}, {given} given."
        else:
            text = f"{member}() was given the wrong number of arguments ({given})."
        super().__init__(hresult, text, member=member, source=source)


class ReadOnlyProperty(ComError, AttributeError):
    """A property that cannot be set: also an AttributeError, as for a Python read-only
    attribute."""

    def __init__(self, name, interface=None):
        where = f" of {interface}" if interface else ""
        super().__init__(T.DISP_E_MEMBERNOTFOUND, f"{name}{where} is read-only.", member=name,
                         source=interface)
        self.name = name


class UnknownMember(ComError, AttributeError):
    """The object has no member of that name (also an AttributeError, so hasattr works)."""

    def __init__(self, name, interface=None):
        where = f" on {interface}" if interface else ""
        super().__init__(T.DISP_E_UNKNOWNNAME, f"the object has no member {name!r}{where}.",
                         member=name, source=interface)
        self.name = name
