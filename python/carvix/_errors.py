"""ComError, the one exception of a failed call, and the message text of an HRESULT."""
import threading

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

# What the module's table says for a code it does not know.
_UNRECOGNIZED = "An unrecognized Win32Exception was thrown."
_looking_up = threading.local()


def signed(hresult):
    """The HRESULT as the signed 32-bit value the runtime returns."""
    hresult &= 0xFFFFFFFF
    return hresult - (1 << 32) if hresult & 0x80000000 else hresult


def error_message(hresult):
    """The message text for an HRESULT, from the module's message table (CARVIX.Utilities
    GetErrorMessage); for the runtime's own failures that the table does not know, and when
    the module cannot be reached, from a table here. Never raises; empty when no text is
    known."""
    code = signed(hresult)
    text = _module_message(code)
    if text and text != _UNRECOGNIZED:
        return text
    return _RUNTIME_MESSAGES.get(code, text)


def _module_message(code):
    if getattr(_looking_up, "active", False):
        return ""  # the lookup itself failed: no second lookup for that failure
    _looking_up.active = True
    try:
        from ._dispatch import Dispatch
        with Dispatch("CARVIX.Utilities") as utilities:
            return utilities.GetErrorMessage(code) or ""
    except Exception:  # any failure leaves the message to the table; the code is kept
        return ""
    finally:
        _looking_up.active = False


class ComError(Exception):
    """A failed call. `hresult` is the failure code as an unsigned 32-bit int (the way it is
    written, 0x80100069); `message` the text from the object's exception information or,
    without one, the message for the code; `member` the member being called (may be None);
    `source` the failing interface as the object reported it (may be None)."""

    def __init__(self, hresult, message=None, member=None, source=None):
        self.hresult = hresult & 0xFFFFFFFF
        self.message = error_message(self.hresult) if message is None else message
        self.member = member
        self.source = source
        super().__init__(self.hresult, self.message)

    def __str__(self):
        text = f"0x{self.hresult:08X}"
        if self.message:
            text += f": {self.message}"
        return f"{self.member}: {text}" if self.member else text


class UnknownMember(ComError, AttributeError):
    """The object has no member of that name (also an AttributeError, so hasattr works)."""

    def __init__(self, name, interface=None):
        where = f" on {interface}" if interface else ""
        super().__init__(T.DISP_E_UNKNOWNNAME, f"the object has no member {name!r}{where}.",
                         member=name, source=interface)
        self.name = name
