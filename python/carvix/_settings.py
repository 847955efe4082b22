"""Process-wide settings of the component that a script may change."""
import ctypes

from . import _runtime


def set_card_wait_limit(seconds):
    """How long a call waits for a card that another program holds (connected exclusively,
    or inside a transaction) before it fails with 0x8010000B and the in-use message.
    The default is 5 seconds; 0 does not wait."""
    if seconds < 0:
        raise ValueError("the card wait limit cannot be negative")
    lib = _runtime.library()
    lib.CarvixSetCardWaitLimit.argtypes = [ctypes.c_uint32]
    lib.CarvixSetCardWaitLimit.restype = None
    lib.CarvixSetCardWaitLimit(int(round(seconds * 1000)))


def card_wait_limit():
    """The card wait limit in seconds."""
    lib = _runtime.library()
    lib.CarvixCardWaitLimit.argtypes = []
    lib.CarvixCardWaitLimit.restype = ctypes.c_uint32
    return lib.CarvixCardWaitLimit() / 1000
