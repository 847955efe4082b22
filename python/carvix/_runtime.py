"""Finding and loading the automation runtime, libcarvix-com, and declaring the functions
this package calls.

Where it is looked for, first match wins:
1. the file named by the environment variable CARVIX_COM_LIBRARY;
2. the installed library by its soname, libcarvix-com.so.1, then whatever the system's
   library search finds for "carvix-com";
3. the build folder of a source tree, when this package is run from one
   (build/src/automation/libcarvix-com.so beside the python/ folder).
"""
import ctypes as C
import ctypes.util
import os
import threading

from . import _types as T

SONAME = "libcarvix-com.so.1"
ENV_VARIABLE = "CARVIX_COM_LIBRARY"

_lock = threading.Lock()
_library = None


class RuntimeNotFound(OSError):
    """The automation runtime could not be loaded; the message lists where it was sought."""


def _candidates():
    named = os.environ.get(ENV_VARIABLE)
    if named:
        # An explicit choice is never replaced by a guess.
        yield named
        return
    yield SONAME
    found = ctypes.util.find_library("carvix-com")
    if found:
        yield found
    source_tree = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    yield os.path.join(source_tree, "build", "src", "automation", "libcarvix-com.so")


def _load():
    tried = []
    for candidate in _candidates():
        if os.sep in candidate and not os.path.exists(candidate):
            tried.append(f"{candidate} (no such file)")
            continue
        try:
            return C.CDLL(candidate)
        except OSError as error:
            tried.append(f"{candidate} ({error})")
    raise RuntimeNotFound("carvix: the automation runtime libcarvix-com was not found; tried "
                          + "; ".join(tried) + f". Set {ENV_VARIABLE} to its path.")


def _declare(lib):
    P, U32, I32 = C.c_void_p, C.c_uint32, C.c_int32
    table = {
        "SysAllocStringLen": (T.BSTR, [P, U32]),
        "SysFreeString": (None, [T.BSTR]),
        "SysStringLen": (U32, [T.BSTR]),
        "VariantInit": (None, [C.POINTER(T.VARIANT)]),
        "VariantClear": (T.HRESULT, [C.POINTER(T.VARIANT)]),
        "VariantCopyInd": (T.HRESULT, [C.POINTER(T.VARIANT), C.POINTER(T.VARIANT)]),
        "SafeArrayCreateVector": (P, [T.VARTYPE, I32, U32]),
        "SafeArrayDestroy": (T.HRESULT, [P]),
        "SafeArrayGetDim": (U32, [P]),
        "SafeArrayGetVartype": (T.HRESULT, [P, C.POINTER(T.VARTYPE)]),
        "SafeArrayGetLBound": (T.HRESULT, [P, U32, C.POINTER(I32)]),
        "SafeArrayGetUBound": (T.HRESULT, [P, U32, C.POINTER(I32)]),
        "SafeArrayGetElement": (T.HRESULT, [P, C.POINTER(I32), P]),
        "SafeArrayPutElement": (T.HRESULT, [P, C.POINTER(I32), P]),
        "SafeArrayAccessData": (T.HRESULT, [P, C.POINTER(P)]),
        "SafeArrayUnaccessData": (T.HRESULT, [P]),
        "SystemTimeToVariantTime": (I32, [C.POINTER(T.SYSTEMTIME), C.POINTER(C.c_double)]),
        "VariantTimeToSystemTime": (I32, [C.c_double, C.POINTER(T.SYSTEMTIME)]),
        "CLSIDFromProgID": (T.HRESULT, [P, C.POINTER(T.GUID)]),
        "CoCreateInstance": (T.HRESULT, [C.POINTER(T.GUID), P, U32, C.POINTER(T.GUID),
                                         C.POINTER(P)]),
    }
    for name, (restype, argtypes) in table.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes


def library():
    """The loaded runtime (loaded on first use, once per process)."""
    global _library
    with _lock:
        if _library is None:
            lib = _load()
            _declare(lib)
            _library = lib
        return _library


def library_path():
    """The file the runtime was loaded from (as the dynamic loader resolved it)."""
    lib = library()
    with open("/proc/self/maps", encoding="utf-8", errors="replace") as maps:
        address = C.cast(lib.SysFreeString, C.c_void_p).value
        for line in maps:
            fields = line.split()
            low, high = (int(x, 16) for x in fields[0].split("-"))
            if low <= address < high and len(fields) >= 6:
                return fields[5]
    return lib._name
