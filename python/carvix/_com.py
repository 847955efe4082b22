"""Calls through interface pointers: the vtable slots of IUnknown, IDispatch and the few
ITypeInfo slots this package uses, plus the runtime's text and object helpers."""
import ctypes as C

from . import _runtime
from . import _types as T

P = C.c_void_p
_PROTOTYPES = {
    # IUnknown
    "QueryInterface": (0, C.CFUNCTYPE(T.HRESULT, P, C.POINTER(T.GUID), C.POINTER(P))),
    "AddRef": (1, C.CFUNCTYPE(C.c_uint32, P)),
    "Release": (2, C.CFUNCTYPE(C.c_uint32, P)),
    # IDispatch
    "GetTypeInfo": (4, C.CFUNCTYPE(T.HRESULT, P, C.c_uint32, C.c_uint32, C.POINTER(P))),
    "GetIDsOfNames": (5, C.CFUNCTYPE(T.HRESULT, P, C.POINTER(T.GUID), C.POINTER(P), C.c_uint32,
                                     C.c_uint32, C.POINTER(T.DISPID))),
    "Invoke": (6, C.CFUNCTYPE(T.HRESULT, P, T.DISPID, C.POINTER(T.GUID), C.c_uint32, C.c_uint16,
                              C.POINTER(T.DISPPARAMS), C.POINTER(T.VARIANT),
                              C.POINTER(T.EXCEPINFO), C.POINTER(C.c_uint32))),
    # ITypeInfo
    "TypeInfoGetDocumentation": (12, C.CFUNCTYPE(T.HRESULT, P, T.DISPID, C.POINTER(T.BSTR),
                                                 C.POINTER(T.BSTR), C.POINTER(C.c_uint32),
                                                 C.POINTER(T.BSTR))),
}


def call(pointer, slot_name, *args):
    """Calls the named vtable slot of the interface at `pointer` (an int address)."""
    slot, prototype = _PROTOTYPES[slot_name]
    vtable = C.cast(pointer, C.POINTER(C.POINTER(P)))[0]
    return prototype(vtable[slot])(pointer, *args)


def add_ref(pointer):
    call(pointer, "AddRef")


def release(pointer):
    call(pointer, "Release")


def query_dispatch(pointer):
    """An IDispatch reference (owned by the caller) for an interface pointer, or None."""
    out = P()
    if call(pointer, "QueryInterface", C.byref(T.IID_IDispatch), C.byref(out)) < 0:
        return None
    return out.value


# ---- BSTR ----

def bstr_text(bstr):
    """The text of a BSTR address (None is empty); the BSTR is left alone."""
    if not bstr:
        return ""
    rt = _runtime.library()
    length = rt.SysStringLen(bstr)
    return C.string_at(bstr, length * 2).decode("utf-16-le", "surrogatepass")


def alloc_bstr(text):
    """A new BSTR holding `text` (embedded NULs kept); the caller frees it."""
    data = text.encode("utf-16-le", "surrogatepass")
    bstr = _runtime.library().SysAllocStringLen(data, len(data) // 2)
    if not bstr:
        raise MemoryError("carvix: the runtime could not allocate a BSTR")
    return bstr


def free_bstr(bstr):
    if bstr:
        _runtime.library().SysFreeString(bstr)


def take_bstr(bstr):
    """The text of a BSTR that the caller owns, which is freed here."""
    try:
        return bstr_text(bstr)
    finally:
        free_bstr(bstr)


class WideText:
    """A zero-terminated UTF-16 copy of a Python text for LPOLESTR arguments; lives as long
    as this object."""

    def __init__(self, text):
        data = text.encode("utf-16-le", "surrogatepass") + b"\0\0"
        self._buffer = C.create_string_buffer(data, len(data))

    @property
    def pointer(self):
        return C.cast(self._buffer, P)


def utf16z(address):
    """The text of a zero-terminated UTF-16 string at `address` (None/0 is empty)."""
    if not address:
        return ""
    units = C.cast(address, C.POINTER(C.c_uint16))
    end = 0
    while units[end] != 0:
        end += 1
    return C.string_at(address, end * 2).decode("utf-16-le", "surrogatepass")
