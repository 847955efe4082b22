"""The desktop dialogs through the Python client with no hook installed: carvix-dialog on
Qt's offscreen platform, its user played by CARVIX_DIALOG_TEST_KEYS (tools/dialog/PROTOCOL.md).
Questions are put the way the module puts them, through the runtime's own functions."""
import ctypes
import os

import pytest

import bench as B
import carvix
from carvix import _runtime

U16 = ctypes.c_char_p
PROGRAM = os.environ.get("CARVIX_DIALOG_BUILT", "")

pytestmark = pytest.mark.skipif(not os.access(PROGRAM, os.X_OK),
                                reason="carvix-dialog not built (CARVIX_DIALOG_BUILT)")


def wide(text):
    return text.encode("utf-16-le") + b"\0\0"


class ReaderOffer(ctypes.Structure):
    _fields_ = [("reader", ctypes.c_void_p), ("atr", ctypes.c_void_p),
                ("atrLength", ctypes.c_uint32)]


@pytest.fixture
def desktop(monkeypatch, tmp_path):
    for name in ("pin prompt", "reader chooser"):
        assert name not in carvix._hooks._installed, "no hook may be installed"
    monkeypatch.setenv("CARVIX_DIALOG", "on")
    monkeypatch.setenv("CARVIX_DIALOG_PROGRAM", PROGRAM)
    monkeypatch.setenv("QT_QPA_PLATFORM", "offscreen")
    monkeypatch.setenv("DISPLAY", ":carvix-test")
    shots = os.environ.get("CARVIX_DIALOG_SHOTS")
    monkeypatch.setenv("CARVIX_DIALOG_TEST_SHOTS", os.path.join(shots, "python") if shots
                       else str(tmp_path))
    lib = _runtime.library()
    lib.CarvixAskPin.argtypes = [U16, ctypes.c_void_p, ctypes.c_uint32,
                                 ctypes.POINTER(ctypes.c_uint32)]
    lib.CarvixChooseReader.argtypes = [U16, ctypes.c_void_p, ctypes.c_uint32,
                                       ctypes.POINTER(ctypes.c_uint32)]
    yield lib, monkeypatch
    carvix.set_desktop_dialogs(True)


def ask_pin(lib):
    buffer = ctypes.create_string_buffer(64)
    length = ctypes.c_uint32(0)
    if not lib.CarvixAskPin(wide("Signing token"), buffer, 64, ctypes.byref(length)):
        return None
    return buffer.raw[:length.value].decode()


def test_a_script_without_hooks_gets_the_dialogs(desktop):
    lib, env = desktop
    env.setenv("CARVIX_DIALOG_TEST_KEYS", "type:2468 enter")
    assert ask_pin(lib) == "2468"

    names = [wide("Reader A"), wide("Reader B")]
    offers = (ReaderOffer * 2)(*[ReaderOffer(ctypes.cast(ctypes.c_char_p(n), ctypes.c_void_p),
                                             None, 0) for n in names])
    chosen = ctypes.c_uint32(9)
    env.setenv("CARVIX_DIALOG_TEST_KEYS", "down enter")
    assert lib.CarvixChooseReader(wide("Choose the reader"), offers, 2, ctypes.byref(chosen)) == 1
    assert chosen.value == 1

    env.setenv("CARVIX_DIALOG_TEST_KEYS", "escape")
    assert lib.CarvixChooseReader(wide("Choose the reader"), offers, 2, ctypes.byref(chosen)) == 0

    # Turned off by the script: as without a dialog, a cancel.
    carvix.set_desktop_dialogs(False)
    env.setenv("CARVIX_DIALOG_TEST_KEYS", "type:1 enter")
    assert ask_pin(lib) is None


def test_a_hook_wins_over_the_dialog(desktop):
    lib, env = desktop
    env.setenv("CARVIX_DIALOG_TEST_KEYS", "type:1111 enter")
    carvix.set_pin_prompt(lambda token: "9999")
    try:
        assert ask_pin(lib) == "9999"
    finally:
        carvix.set_pin_prompt(None)


def test_select_reader_without_a_hook_asks_in_the_dialog(desktop, card):
    from conftest import sample
    from urllib.parse import quote
    first, second = card(sample("vl-full", 0)), card(sample("zk-full", 1))
    _lib, env = desktop
    smartcard = carvix.Dispatch("CARVIX.SmartCard")
    # Typing in the list selects the reader whose entry starts with the text.
    env.setenv("CARVIX_DIALOG_TEST_KEYS", f"type:{quote(second.reader)} enter")
    assert smartcard.SelectReader() == second.reader
    env.setenv("CARVIX_DIALOG_TEST_KEYS", f"type:{quote(first.reader)} enter")
    assert smartcard.SelectReader() == first.reader
    env.setenv("CARVIX_DIALOG_TEST_KEYS", "escape")
    with pytest.raises(carvix.ComError) as caught:
        smartcard.SelectReader()
    assert caught.value.hresult == 0x800704C7


def test_the_dialog_waits_for_a_card_and_takes_the_one_inserted(desktop, card, bench):
    import threading
    import time
    from conftest import sample
    _lib, env = desktop
    # Only on a bench where no reader holds a usable card yet (a chooser that is told so).
    # A single card another test put on the shared bench is taken without asking anyone.
    told = []
    carvix.set_reader_chooser(lambda title, offers: told.append(len(offers)))
    try:
        carvix.Dispatch("CARVIX.SmartCard").SelectReader()
        told.append("taken")
    except carvix.ComError:
        pass
    finally:
        carvix.set_reader_chooser(None)
    if told != [0]:
        pytest.skip("other cards on this bench qualify already")
    shots = os.environ["CARVIX_DIALOG_TEST_SHOTS"]
    before = set(os.listdir(shots)) if os.path.isdir(shots) else set()
    env.setenv("CARVIX_DIALOG_TEST_KEYS", "wait:30000 escape")  # never waits for ever
    result = {}

    def select():
        try:
            result["reader"] = carvix.Dispatch("CARVIX.SmartCard").SelectReader()
        except carvix.ComError as error:
            result["error"] = error
    waiting = threading.Thread(target=select)
    waiting.start()
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline and not (set(os.listdir(shots)) - before
                                               if os.path.isdir(shots) else False):
        time.sleep(0.1)
    assert waiting.is_alive(), result
    inserted = card(sample("vl-full", 0))
    waiting.join(30)
    assert not waiting.is_alive()
    assert "reader" in result, result
    # The bench is shared with tests that run beside this one: a card another test put into
    # another reader meanwhile may be the one offered first, and is as good an answer.
    if result["reader"] != inserted.reader:
        assert B.wait_for_card(bench, result["reader"], "present", timeout=1), result
