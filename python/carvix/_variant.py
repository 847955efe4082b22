"""Python values to VARIANTs and back.

To the runtime: None -> VT_NULL, bool -> VT_BOOL, int -> VT_I4 (VT_UI4, VT_I8 or VT_UI8 when it
does not fit), float -> VT_R8, str -> VT_BSTR, bytes/bytearray/memoryview -> an array of
VT_UI1, datetime.date and naive datetime.datetime -> VT_DATE, list/tuple -> an array of
VARIANTs, Dispatch -> VT_DISPATCH.

From the runtime: VT_EMPTY/VT_NULL -> None, integers -> int, VT_BOOL -> bool, VT_R4/VT_R8 ->
float, VT_CY -> decimal.Decimal, VT_BSTR -> str, VT_DATE -> datetime.date for a whole day and
datetime.datetime when it has a time of day (whole seconds), arrays -> list (nested for
several dimensions) and bytes for a one-dimensional VT_UI1 array, VT_DISPATCH (and VT_UNKNOWN
that answers for IDispatch) -> Dispatch, by-reference values read through.
"""
import ctypes as C
import datetime
import decimal

from . import _com, _runtime
from . import _types as T
from ._errors import ComError

_INT_FIELDS = {
    T.VT_I1: "cVal", T.VT_UI1: "bVal", T.VT_I2: "iVal", T.VT_UI2: "uiVal", T.VT_I4: "lVal",
    T.VT_UI4: "ulVal", T.VT_I8: "llVal", T.VT_UI8: "ullVal", T.VT_INT: "lVal",
    T.VT_UINT: "ulVal", T.VT_ERROR: "scode",
}


def _check(hr, what):
    if hr < 0:
        raise ComError(hr, member=what)


# ---- to the runtime ----

def to_variant(value, v):
    """Fills the (cleared) VARIANT `v` with `value`; on failure `v` is left empty. The caller
    owns what `v` holds and frees it with VariantClear."""
    from ._dispatch import Dispatch
    if value is None:
        v.vt = T.VT_NULL
    elif isinstance(value, bool):
        v.vt, v.boolVal = T.VT_BOOL, T.VARIANT_TRUE if value else T.VARIANT_FALSE
    elif isinstance(value, int):
        _int_variant(value, v)
    elif isinstance(value, float):
        v.vt, v.dblVal = T.VT_R8, value
    elif isinstance(value, str):
        v.bstrVal = _com.alloc_bstr(value)
        v.vt = T.VT_BSTR
    elif isinstance(value, (bytes, bytearray, memoryview)):
        v.parray = _byte_array(bytes(value))
        v.vt = T.VT_ARRAY | T.VT_UI1
    elif isinstance(value, datetime.date):
        v.date = to_date(value)
        v.vt = T.VT_DATE
    elif isinstance(value, (list, tuple)):
        v.parray = _variant_array(value)
        v.vt = T.VT_ARRAY | T.VT_VARIANT
    elif isinstance(value, Dispatch):
        pointer = value._pointer_or_raise()
        _com.add_ref(pointer)
        v.pdispVal = pointer
        v.vt = T.VT_DISPATCH
    else:
        raise TypeError(f"carvix: a {type(value).__name__} cannot be passed to an object")


def _int_variant(value, v):
    if -(1 << 31) <= value < (1 << 31):
        v.vt, v.lVal = T.VT_I4, value
    elif 0 <= value < (1 << 32):
        v.vt, v.ulVal = T.VT_UI4, value
    elif -(1 << 63) <= value < (1 << 63):
        v.vt, v.llVal = T.VT_I8, value
    elif 0 <= value < (1 << 64):
        v.vt, v.ullVal = T.VT_UI8, value
    else:
        raise OverflowError(f"carvix: {value} does not fit in 64 bits")


def to_date(value):
    """A DATE (days since 1899-12-30) for a date or naive datetime. The runtime keeps whole
    seconds: a fraction of a second is dropped."""
    if isinstance(value, datetime.datetime):
        if value.tzinfo is not None:
            raise TypeError("carvix: DATE values have no time zone; pass a naive datetime")
        time = (value.hour, value.minute, value.second, value.microsecond // 1000)
    else:
        time = (0, 0, 0, 0)
    st = T.SYSTEMTIME(value.year, value.month, 0, value.day, *time)
    out = C.c_double()
    # The runtime takes a year below 100 as a two-digit year (50 is 1950), which a Python
    # date never means: those are out of range here, like the runtime's own limits.
    if value.year < 100 or not _runtime.library().SystemTimeToVariantTime(C.byref(st),
                                                                           C.byref(out)):
        raise ValueError(f"carvix: {value} is outside the DATE range")
    return out.value


def _byte_array(data):
    rt = _runtime.library()
    array = rt.SafeArrayCreateVector(T.VT_UI1, 0, len(data))
    if not array:
        raise MemoryError("carvix: the runtime could not allocate an array")
    if data:
        address = C.c_void_p()
        hr = rt.SafeArrayAccessData(array, C.byref(address))
        if hr < 0:
            rt.SafeArrayDestroy(array)
            raise ComError(hr, member="SafeArrayAccessData")
        C.memmove(address, data, len(data))
        rt.SafeArrayUnaccessData(array)
    return array


def _variant_array(values):
    rt = _runtime.library()
    array = rt.SafeArrayCreateVector(T.VT_VARIANT, 0, len(values))
    if not array:
        raise MemoryError("carvix: the runtime could not allocate an array")
    try:
        for i, item in enumerate(values):
            element = T.VARIANT()
            to_variant(item, element)
            try:
                # The array keeps its own copy of the element.
                _check(rt.SafeArrayPutElement(array, C.byref(C.c_int32(i)), C.byref(element)),
                       "SafeArrayPutElement")
            finally:
                rt.VariantClear(C.byref(element))
    except BaseException:
        rt.SafeArrayDestroy(array)
        raise
    return array


# ---- from the runtime ----

def from_variant(v):
    """The Python value of VARIANT `v`; `v` keeps what it holds (the caller clears it)."""
    vt = v.vt
    if vt & T.VT_BYREF:
        return _through_reference(v)
    if vt & T.VT_ARRAY:
        return from_array(v.parray)
    if vt in (T.VT_EMPTY, T.VT_NULL):
        return None
    if vt in _INT_FIELDS:
        return getattr(v, _INT_FIELDS[vt])
    if vt == T.VT_BOOL:
        return v.boolVal != T.VARIANT_FALSE
    if vt == T.VT_R8:
        return v.dblVal
    if vt == T.VT_R4:
        return v.fltVal
    if vt == T.VT_CY:
        return decimal.Decimal(v.llVal).scaleb(-4)
    if vt == T.VT_BSTR:
        return _com.bstr_text(v.bstrVal)
    if vt == T.VT_DATE:
        return from_date(v.date)
    if vt in (T.VT_DISPATCH, T.VT_UNKNOWN):
        return _object(v.pdispVal, vt)
    raise ComError(T.DISP_E_BADVARTYPE, f"a result of VARIANT type {vt} has no Python value.")


def _through_reference(v):
    rt = _runtime.library()
    copy = T.VARIANT()
    _check(rt.VariantCopyInd(C.byref(copy), C.byref(v)), "VariantCopyInd")
    try:
        return from_variant(copy)
    finally:
        rt.VariantClear(C.byref(copy))


def _object(pointer, vt):
    from ._dispatch import Dispatch
    if not pointer:
        return None
    if vt == T.VT_DISPATCH:
        _com.add_ref(pointer)  # the VARIANT keeps its own reference
        return Dispatch._adopt(pointer)
    dispatch = _com.query_dispatch(pointer)
    if dispatch is None:
        raise ComError(T.E_NOINTERFACE, "the returned object has no IDispatch interface.")
    return Dispatch._adopt(dispatch)


def from_date(value):
    st = T.SYSTEMTIME()
    if not _runtime.library().VariantTimeToSystemTime(value, C.byref(st)):
        raise ComError(T.E_INVALIDARG, f"the DATE value {value} is out of range.")
    if (st.wHour, st.wMinute, st.wSecond, st.wMilliseconds) == (0, 0, 0, 0):
        return datetime.date(st.wYear, st.wMonth, st.wDay)
    return datetime.datetime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                             st.wMilliseconds * 1000)


def from_array(array):
    """A list (nested per dimension) of the array's elements, or bytes for a one-dimensional
    array of VT_UI1; the array is left alone."""
    if not array:
        return None
    rt = _runtime.library()
    vt = T.VARTYPE()
    _check(rt.SafeArrayGetVartype(array, C.byref(vt)), "SafeArrayGetVartype")
    dims = rt.SafeArrayGetDim(array)
    bounds = []
    for dim in range(1, dims + 1):
        low, high = C.c_int32(), C.c_int32()
        _check(rt.SafeArrayGetLBound(array, dim, C.byref(low)), "SafeArrayGetLBound")
        _check(rt.SafeArrayGetUBound(array, dim, C.byref(high)), "SafeArrayGetUBound")
        bounds.append((low.value, high.value))
    if vt.value == T.VT_UI1 and dims == 1:
        return _bytes_of(array, bounds[0][1] - bounds[0][0] + 1)
    indices = (C.c_int32 * max(dims, 1))()
    return _elements(array, vt.value, bounds, indices, 0)


def _bytes_of(array, count):
    if count <= 0:
        return b""
    rt = _runtime.library()
    address = C.c_void_p()
    _check(rt.SafeArrayAccessData(array, C.byref(address)), "SafeArrayAccessData")
    try:
        return C.string_at(address, count)
    finally:
        rt.SafeArrayUnaccessData(array)


def _elements(array, vt, bounds, indices, dim):
    low, high = bounds[dim]
    out = []
    for i in range(low, high + 1):
        indices[dim] = i
        if dim + 1 < len(bounds):
            out.append(_elements(array, vt, bounds, indices, dim + 1))
        else:
            out.append(_element(array, vt, indices))
    return out


def _element(array, vt, indices):
    rt = _runtime.library()
    # SafeArrayGetElement hands out a copy (a new BSTR, a new reference, a copied VARIANT);
    # read into a VARIANT of the element's type so that one VariantClear frees any of them.
    element = T.VARIANT()
    target = C.byref(element) if vt == T.VT_VARIANT else C.byref(element, T.VARIANT.u.offset)
    _check(rt.SafeArrayGetElement(array, indices, target), "SafeArrayGetElement")
    if vt != T.VT_VARIANT:
        element.vt = vt
    try:
        return from_variant(element)
    finally:
        rt.VariantClear(C.byref(element))
