#!/usr/bin/env python3
"""A Python ctypes client of the runtime and module, using only the Windows layouts:
per-user registration in a temporary HOME, activation by ProgID and a late-bound call."""
import ctypes as C
import os
import sys
import tempfile

runtime_path, module_path = sys.argv[1], sys.argv[2]
home = tempfile.mkdtemp(prefix="carvix-ctypes-")
os.environ.update(HOME=home, XDG_CONFIG_HOME=home + "/config", XDG_CONFIG_DIRS=home + "/sys")


class GUID(C.Structure):
    _fields_ = [("Data1", C.c_uint32), ("Data2", C.c_uint16), ("Data3", C.c_uint16),
                ("Data4", C.c_uint8 * 8)]


class VARIANT(C.Structure):
    class _U(C.Union):
        _fields_ = [("lVal", C.c_int32), ("bstrVal", C.c_void_p), ("rec", C.c_void_p * 2)]
    _anonymous_ = ("u",)
    _fields_ = [("vt", C.c_uint16), ("r1", C.c_uint16), ("r2", C.c_uint16), ("r3", C.c_uint16),
                ("u", _U)]


class DISPPARAMS(C.Structure):
    _fields_ = [("rgvarg", C.POINTER(VARIANT)), ("rgdispidNamedArgs", C.c_void_p),
                ("cArgs", C.c_uint32), ("cNamedArgs", C.c_uint32)]


assert C.sizeof(VARIANT) == 24 and C.sizeof(DISPPARAMS) == 24

rt = C.CDLL(runtime_path)
qx = C.CDLL(module_path)
HRESULT = C.c_int32
IID_NULL = GUID()
IID_IDispatch = GUID(0x00020400, 0, 0, (C.c_uint8 * 8)(0xC0, 0, 0, 0, 0, 0, 0, 0x46))


def wide(text):  # UTF-16 text with its terminator
    data = text.encode("utf-16-le") + b"\0\0"
    return C.create_string_buffer(data, len(data))


def method(obj, slot, *argtypes):
    vtbl = C.cast(obj, C.POINTER(C.POINTER(C.c_void_p)))[0]
    return C.CFUNCTYPE(HRESULT, C.c_void_p, *argtypes)(vtbl[slot])


def bstr_text(b):
    n = rt.SysStringLen(C.c_void_p(b))
    return C.string_at(b, n * 2).decode("utf-16-le")


qx.DllInstall.argtypes = [C.c_int32, C.c_void_p]
rt.SysStringLen.argtypes = [C.c_void_p]
rt.VariantClear.argtypes = [C.POINTER(VARIANT)]
assert qx.DllInstall(1, C.cast(wide("User"), C.c_void_p)) == 0

clsid = GUID()
assert rt.CLSIDFromProgID(wide("CARVIX.Utilities"), C.byref(clsid)) == 0
obj = C.c_void_p()
assert rt.CoCreateInstance(C.byref(clsid), None, 1, C.byref(IID_IDispatch), C.byref(obj)) == 0

name = wide("GetErrorMessage")
names = (C.c_void_p * 1)(C.cast(name, C.c_void_p))
dispid = C.c_int32(-1)
get_ids = method(obj, 5, C.POINTER(GUID), C.c_void_p, C.c_uint32, C.c_uint32, C.POINTER(C.c_int32))
assert get_ids(obj, C.byref(IID_NULL), names, 1, 0x400, C.byref(dispid)) == 0 and dispid.value == 1

arg = VARIANT(vt=3)
arg.lVal = 0x1234ABCD
params = DISPPARAMS(C.pointer(arg), None, 1, 0)
result = VARIANT()
invoke = method(obj, 6, C.c_int32, C.POINTER(GUID), C.c_uint32, C.c_uint16, C.POINTER(DISPPARAMS),
                C.POINTER(VARIANT), C.c_void_p, C.c_void_p)
assert invoke(obj, 1, C.byref(IID_NULL), 0, 1, C.byref(params), C.byref(result), None, None) == 0
assert result.vt == 8, result.vt
text = bstr_text(result.bstrVal)
assert text == "An unrecognized Win32Exception was thrown.", text
rt.VariantClear(C.byref(result))
method(obj, 2)(obj)  # Release

assert qx.DllInstall(0, C.cast(wide("user"), C.c_void_p)) == 0
with open(home + "/config/carvix-com/current-user.hive") as f:
    assert "CARVIX" not in f.read()
print("ok")
