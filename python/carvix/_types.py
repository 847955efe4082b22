"""The runtime's data layouts (the Windows x64 ones, LP64 here) and constants, as ctypes
structures. The sizes are checked at import so that a layout change cannot go unnoticed."""
import ctypes as C

HRESULT = C.c_int32
DISPID = C.c_int32
VARTYPE = C.c_uint16
BSTR = C.c_void_p  # kept as an address: the text is read with its length, never by scanning


class GUID(C.Structure):
    _fields_ = [("Data1", C.c_uint32), ("Data2", C.c_uint16), ("Data3", C.c_uint16),
                ("Data4", C.c_uint8 * 8)]


def guid(d1, d2, d3, *d4):
    return GUID(d1, d2, d3, (C.c_uint8 * 8)(*d4))


IID_NULL = GUID()
IID_IDispatch = guid(0x00020400, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46)


class _VariantValue(C.Union):
    _fields_ = [("llVal", C.c_int64), ("ullVal", C.c_uint64), ("lVal", C.c_int32),
                ("ulVal", C.c_uint32), ("iVal", C.c_int16), ("uiVal", C.c_uint16),
                ("cVal", C.c_int8), ("bVal", C.c_uint8), ("fltVal", C.c_float),
                ("dblVal", C.c_double), ("boolVal", C.c_int16), ("scode", C.c_int32),
                ("date", C.c_double), ("bstrVal", BSTR), ("pdispVal", C.c_void_p),
                ("punkVal", C.c_void_p), ("parray", C.c_void_p), ("byref", C.c_void_p),
                ("record", C.c_void_p * 2)]


class VARIANT(C.Structure):
    """24 bytes: the type, three reserved words, then a 16-byte union."""
    _anonymous_ = ("u",)
    _fields_ = [("vt", VARTYPE), ("wReserved1", C.c_uint16), ("wReserved2", C.c_uint16),
                ("wReserved3", C.c_uint16), ("u", _VariantValue)]


class SAFEARRAYBOUND(C.Structure):
    _fields_ = [("cElements", C.c_uint32), ("lLbound", C.c_int32)]


class SAFEARRAY(C.Structure):
    _fields_ = [("cDims", C.c_uint16), ("fFeatures", C.c_uint16), ("cbElements", C.c_uint32),
                ("cLocks", C.c_uint32), ("pvData", C.c_void_p),
                ("rgsabound", SAFEARRAYBOUND * 1)]


class DISPPARAMS(C.Structure):
    _fields_ = [("rgvarg", C.POINTER(VARIANT)), ("rgdispidNamedArgs", C.POINTER(DISPID)),
                ("cArgs", C.c_uint32), ("cNamedArgs", C.c_uint32)]


class EXCEPINFO(C.Structure):
    _fields_ = [("wCode", C.c_uint16), ("wReserved", C.c_uint16), ("bstrSource", BSTR),
                ("bstrDescription", BSTR), ("bstrHelpFile", BSTR), ("dwHelpContext", C.c_uint32),
                ("pvReserved", C.c_void_p), ("pfnDeferredFillIn", C.c_void_p),
                ("scode", C.c_int32)]


class SYSTEMTIME(C.Structure):
    _fields_ = [("wYear", C.c_uint16), ("wMonth", C.c_uint16), ("wDayOfWeek", C.c_uint16),
                ("wDay", C.c_uint16), ("wHour", C.c_uint16), ("wMinute", C.c_uint16),
                ("wSecond", C.c_uint16), ("wMilliseconds", C.c_uint16)]


for _struct, _size in ((GUID, 16), (VARIANT, 24), (SAFEARRAYBOUND, 8), (SAFEARRAY, 32),
                       (DISPPARAMS, 24), (EXCEPINFO, 64), (SYSTEMTIME, 16)):
    if C.sizeof(_struct) != _size:  # pragma: no cover - only on a foreign ABI
        raise ImportError(f"carvix: {_struct.__name__} is {C.sizeof(_struct)} bytes, "
                          f"the runtime's is {_size}")
if VARIANT.u.offset != 8 or EXCEPINFO.scode.offset != 56 or SAFEARRAY.rgsabound.offset != 24:
    raise ImportError("carvix: the structure layouts differ from the runtime's")

# VARIANT types.
VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE = 0, 1, 2, 3, 4, 5, 6, 7
VT_BSTR, VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN = 8, 9, 10, 11, 12, 13
VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT = 16, 17, 18, 19, 20, 21, 22, 23
VT_ARRAY, VT_BYREF, VT_TYPEMASK = 0x2000, 0x4000, 0x0FFF

# IDispatch::Invoke.
DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT = 1, 2, 4
DISPID_PROPERTYPUT = -3
LOCALE_USER_DEFAULT = 0x400
CLSCTX_INPROC_SERVER = 1

VARIANT_TRUE, VARIANT_FALSE = -1, 0


def _hr(value):
    return value - (1 << 32) if value >= 1 << 31 else value


S_OK = 0
E_NOTIMPL = _hr(0x80004001)
E_NOINTERFACE = _hr(0x80004002)
E_POINTER = _hr(0x80004003)
E_FAIL = _hr(0x80004005)
E_OUTOFMEMORY = _hr(0x8007000E)
E_INVALIDARG = _hr(0x80070057)
DISP_E_MEMBERNOTFOUND = _hr(0x80020003)
DISP_E_PARAMNOTFOUND = _hr(0x80020004)
DISP_E_TYPEMISMATCH = _hr(0x80020005)
DISP_E_UNKNOWNNAME = _hr(0x80020006)
DISP_E_NONAMEDARGS = _hr(0x80020007)
DISP_E_BADVARTYPE = _hr(0x80020008)
DISP_E_EXCEPTION = _hr(0x80020009)
DISP_E_OVERFLOW = _hr(0x8002000A)
DISP_E_BADINDEX = _hr(0x8002000B)
DISP_E_BADPARAMCOUNT = _hr(0x8002000E)
DISP_E_PARAMNOTOPTIONAL = _hr(0x8002000F)
REGDB_E_CLASSNOTREG = _hr(0x80040154)
CO_E_CLASSSTRING = _hr(0x800401F3)
CO_E_DLLNOTFOUND = _hr(0x800401F8)
CO_E_ERRORINDLL = _hr(0x800401F9)
