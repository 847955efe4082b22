"""Whether the PC/SC service answers at all.

`CARVIX.SmartCard.ListReaders` answers an unreachable service with an empty list, as its
callers have always received it; a script cannot tell that from a machine without readers.
The client asks the PC/SC library itself when the list comes back empty, so that the script
learns that the service is missing instead of seeing no readers.
"""
import ctypes as C
import ctypes.util

SCARD_SCOPE_SYSTEM = 2


def _library():
    for name in ("libpcsclite.so.1", ctypes.util.find_library("pcsclite")):
        if name:
            try:
                return C.CDLL(name)
            except OSError:
                continue
    return None


def unreachable():
    """The PC/SC failure of opening a context (0x8010001D when pcscd is not running), or None
    when the service answers or the PC/SC library cannot be loaded here (then nothing is
    claimed)."""
    lib = _library()
    if lib is None:
        return None
    establish = lib.SCardEstablishContext
    establish.restype = C.c_long
    establish.argtypes = [C.c_ulong, C.c_void_p, C.c_void_p, C.POINTER(C.c_long)]
    context = C.c_long(0)
    code = establish(SCARD_SCOPE_SYSTEM, None, None, C.byref(context)) & 0xFFFFFFFF
    if code != 0:
        return code
    release = lib.SCardReleaseContext
    release.restype = C.c_long
    release.argtypes = [C.c_long]
    release(context)
    return None
