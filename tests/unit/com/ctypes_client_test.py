#!/usr/bin/env python3
"""A Python client of the runtime and module through the carvix package (python/carvix, plain
ctypes over the Windows layouts): per-user registration in a temporary HOME through the
module's DllInstall, activation by ProgID and a late-bound call."""
import ctypes as C
import os
import sys
import tempfile

runtime_path, module_path = sys.argv[1], sys.argv[2]
home = tempfile.mkdtemp(prefix="carvix-ctypes-")
os.environ.update(HOME=home, XDG_CONFIG_HOME=home + "/config", XDG_CONFIG_DIRS=home + "/sys",
                  CARVIX_COM_LIBRARY=runtime_path)
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..",
                                "python"))
import carvix  # noqa: E402
from carvix import _com  # noqa: E402


def wide(text):  # UTF-16 text with its terminator
    data = text.encode("utf-16-le") + b"\0\0"
    return C.create_string_buffer(data, len(data))


qx = C.CDLL(module_path)
qx.DllInstall.argtypes = [C.c_int32, C.c_void_p]
qx.DllCanUnloadNow.restype = C.c_int32
assert qx.DllInstall(1, C.cast(wide("User"), C.c_void_p)) == 0

with carvix.Dispatch("CARVIX.Utilities") as utilities:
    assert os.path.samefile(carvix.library_path(), runtime_path)
    assert utilities._member("GetErrorMessage").dispid == 1
    text = utilities.GetErrorMessage(0x1234ABCD)
    assert text == "An unrecognized Win32Exception was thrown.", text
    assert qx.DllCanUnloadNow() == 1  # the object is alive
assert qx.DllCanUnloadNow() == 0  # and released at the end of the block
assert _com.bstr_text(None) == ""

assert qx.DllInstall(0, C.cast(wide("user"), C.c_void_p)) == 0
with open(home + "/config/carvix-com/current-user.hive") as f:
    assert "CARVIX" not in f.read()
print("ok")
