"""Host hooks: Python callables that the component asks when a method needs the user.

Each setter installs its callable for the whole process (None removes it). The callables run
on the thread of the method call that needs them. An exception raised inside one counts as
a cancel; it becomes the cause (__cause__) of the ComError that the call then raises, or a
RuntimeWarning when the call succeeds anyway.
"""
import collections
import ctypes as C
import threading
import warnings

from . import _runtime
from ._com import utf16z

P, I32, U32 = C.c_void_p, C.c_int32, C.c_uint32


class _ReaderOffer(C.Structure):
    _fields_ = [("reader", P), ("atr", P), ("atrLength", U32)]


class _CertificateOffer(C.Structure):
    _fields_ = [("subject", P), ("issuer", P), ("notAfter", P), ("thumbprint", P), ("der", P),
                ("derLength", U32), ("initiallySelected", I32)]


ReaderOffer = collections.namedtuple("ReaderOffer", "reader atr")
ReaderOffer.__doc__ = "A reader holding an acceptable card: its name and the card's ATR bytes."
CertificateOffer = collections.namedtuple(
    "CertificateOffer", "subject issuer not_after thumbprint der initially_selected")
CertificateOffer.__doc__ = ("A certificate on offer: subject and issuer lines, end of validity "
                            "('YYYY-MM-DD HH:MM:SS' UTC), SHA-1 thumbprint (hex), DER bytes, "
                            "and whether the module suggests it.")

_PinPromptFn = C.CFUNCTYPE(I32, P, P, P, U32, C.POINTER(U32))
_PinStatePromptFn = C.CFUNCTYPE(I32, P, P, I32, U32, P, U32, C.POINTER(U32))

PinState = collections.namedtuple(
    "PinState", "tries_left was_wrong count_low final_try locked")
PinState.__doc__ = ("What the token says of its PIN: tries left (None when it does not say), "
                    "whether the PIN given just before was wrong, few tries left, the final "
                    "try, locked (then the prompt is only told; its answer is not used).")
_ReaderChooserFn = C.CFUNCTYPE(I32, P, P, C.POINTER(_ReaderOffer), U32, C.POINTER(U32))
_CertificateChooserFn = C.CFUNCTYPE(I32, P, P, P, C.POINTER(_CertificateOffer), U32,
                                    C.POINTER(U32))
_NotifierFn = C.CFUNCTYPE(None, P, P, P, U32)

# The installed ctypes callbacks: the runtime holds only their addresses, so they must live
# here. A replaced one is kept too, since another thread may still be running inside it.
_installed = {}
_retired = []
_install_lock = threading.Lock()
_failures = threading.local()


def take_failure():
    """The exception a hook raised on this thread since the last call, cleared."""
    failure = getattr(_failures, "error", None)
    _failures.error = None
    return failure


def warn_lost(failure):
    if failure is not None:
        warnings.warn(f"carvix: a host hook raised {failure!r}; it counted as a cancel",
                      RuntimeWarning, stacklevel=3)


def _guarded(function, cancel):
    def run(*args):
        try:
            return function(*args)
        except BaseException as error:  # never let an exception cross the C frames
            if getattr(_failures, "error", None) is None:
                _failures.error = error
            return cancel
    return run


def _install(setter_name, key, prototype, wrapper, user_function):
    setter = getattr(_runtime.library(), setter_name)
    setter.restype = None
    setter.argtypes = [prototype, P]
    with _install_lock:
        if user_function is None:
            setter(prototype(), None)  # a null function removes the hook
            _retire(key)
            return
        if not callable(user_function):
            raise TypeError(f"carvix: the {key} must be callable or None")
        callback = prototype(_guarded(wrapper, 0 if prototype is not _NotifierFn else None))
        setter(callback, None)
        _retire(key)
        _installed[key] = callback


def _retire(key):
    old = _installed.pop(key, None)
    if old is not None:
        _retired.append(old)


def _index(answer, count):
    # bool is an int, but True is no reader's index: an answer that is not a plain int cancels.
    if type(answer) is not int or not 0 <= answer < count:
        return None
    return answer


def set_pin_prompt(prompt, *, with_state=False):
    """Installs `prompt(token_label) -> str | None`: the user PIN for the token, or None to
    cancel. The PIN goes to the module as UTF-8; one longer than the module accepts is a
    cancel, never cut short. With `with_state=True` the prompt is called as
    `prompt(token_label, state)` with a PinState, and is asked again after a wrong PIN."""
    def answer(result, pin, capacity, length):
        if result is None:
            return 0
        data = result.encode("utf-8") if isinstance(result, str) else bytes(result)
        if len(data) > capacity:
            return 0
        C.memmove(pin, data, len(data))
        length[0] = len(data)
        return 1

    if with_state:
        def state_hook(_context, label, tries_left, state, pin, capacity, length):
            told = PinState(tries_left if tries_left >= 0 else None, bool(state & 0x8),
                            bool(state & 0x1), bool(state & 0x2), bool(state & 0x4))
            return answer(prompt(utf16z(label), told), pin, capacity, length)
        _install("CarvixSetPinPromptWithState", "PIN prompt", _PinStatePromptFn, state_hook,
                 prompt)
        return

    def hook(_context, label, pin, capacity, length):
        return answer(prompt(utf16z(label)), pin, capacity, length)
    _install("CarvixSetPinPrompt", "PIN prompt", _PinPromptFn, hook, prompt)


def set_reader_chooser(chooser):
    """Installs `chooser(title, offers) -> int | bool | None`. With offers (a list of
    ReaderOffer) it returns the index of the reader to use, or None to cancel. With an empty
    list no reader holds an acceptable card yet: it returns True to go on waiting (it is asked
    again about once a second) or False/None to cancel."""
    def hook(_context, title, offers, count, chosen):
        items = [ReaderOffer(utf16z(offers[i].reader), C.string_at(offers[i].atr,
                                                                   offers[i].atrLength))
                 for i in range(count)]
        answer = chooser(utf16z(title), items)
        if count == 0:
            return 1 if answer else 0
        index = _index(answer, count)
        if index is None:
            return 0
        chosen[0] = index
        return 1
    _install("CarvixSetReaderChooser", "reader chooser", _ReaderChooserFn, hook, chooser)


def set_certificate_chooser(chooser):
    """Installs `chooser(title, text, offers) -> int | None`: the index of the certificate
    to use among `offers` (a list of CertificateOffer), or None to cancel."""
    def hook(_context, title, text, offers, count, chosen):
        items = []
        for i in range(count):
            o = offers[i]
            items.append(CertificateOffer(utf16z(o.subject), utf16z(o.issuer),
                                          utf16z(o.notAfter), utf16z(o.thumbprint),
                                          C.string_at(o.der, o.derLength) if o.der else b"",
                                          bool(o.initiallySelected)))
        index = _index(chooser(utf16z(title), utf16z(text), items), count)
        if index is None:
            return 0
        chosen[0] = index
        return 1
    _install("CarvixSetCertificateChooser", "certificate chooser", _CertificateChooserFn, hook,
             chooser)


def set_notifier(notifier):
    """Installs `notifier(caption, text, style)` for the component's notices (style holds
    the message-box bits; 0x30 is a warning). Without one, notices go to standard error."""
    def hook(_context, caption, text, style):
        notifier(utf16z(caption), utf16z(text), style)
    _install("CarvixSetNotifier", "notifier", _NotifierFn, hook, notifier)


def set_desktop_dialogs(enabled):
    """Turns the desktop dialogs (carvix-dialog, shown for a question no hook answers when a
    graphical session is present) on or off for the whole process; they are on at first."""
    setter = _runtime.library().CarvixSetDesktopDialogs
    setter.restype = None
    setter.argtypes = [I32]
    setter(1 if enabled else 0)
