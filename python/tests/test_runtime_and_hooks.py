"""Finding the runtime, error texts, and the host hooks as the module sees them (asked
through the runtime's own functions, the way the module asks them)."""
import ctypes
import os
import subprocess
import sys
import warnings

import pytest

import bench as B
import carvix
from carvix import _runtime

CO_E_CLASSSTRING = 0x800401F3
U16 = ctypes.c_char_p  # zero-terminated UTF-16 texts are passed as bytes


def wide(text):
    return text.encode("utf-16-le") + b"\0\0"


def run_python(code, **env):
    """Runs `code` in a fresh interpreter that imports the package under test."""
    full = dict(os.environ, **env)
    if not B.INSTALLED:
        full["PYTHONPATH"] = os.path.join(B.ROOT, "python")
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=full)


def test_the_runtime_is_the_one_named_by_the_environment():
    if os.environ.get("CARVIX_COM_LIBRARY"):
        assert os.path.samefile(carvix.library_path(), os.environ["CARVIX_COM_LIBRARY"])
    missing = run_python("import carvix; carvix.Dispatch('CARVIX.Utilities')",
                         CARVIX_COM_LIBRARY="/nonexistent/libcarvix-com.so")
    assert missing.returncode != 0
    assert "RuntimeNotFound" in missing.stderr and "/nonexistent/libcarvix-com.so" in missing.stderr
    # Importing alone never loads it.
    assert run_python("import carvix", CARVIX_COM_LIBRARY="/nonexistent").returncode == 0


def test_without_the_service_the_reader_list_fails_instead_of_being_empty():
    # The registration lives in this run's profile (HOME and the XDG folders it set).
    gone = run_python(
        "import carvix\n"
        "try:\n    print(carvix.Dispatch('CARVIX.SmartCard').ListReaders())\n"
        "except carvix.NoServiceError as e:\n    print(hex(e.hresult), e.message)\n",
        PCSCLITE_CSOCK_NAME="/nonexistent/pcscd.comm")
    assert gone.stdout.startswith("0x8010001d "), gone.stdout + gone.stderr


def test_an_unregistered_progid_says_how_to_register():
    with pytest.raises(carvix.ComError) as caught:
        carvix.Dispatch("CARVIX.NoSuchClass")
    assert caught.value.hresult == CO_E_CLASSSTRING
    assert "carvix register" in str(caught.value)
    # Without any registration (an empty profile) the module's texts are unavailable, and the
    # runtime's own failure still has a text.
    empty = run_python(
        "import carvix\n"
        "try:\n    carvix.Dispatch('CARVIX.DocAdmin')\n"
        "except carvix.ComError as e:\n    print(hex(e.hresult), e.message)\n",
        HOME="/nonexistent", XDG_CONFIG_HOME="/nonexistent", XDG_CONFIG_DIRS="/nonexistent")
    assert empty.stdout.startswith("0x800401f3 Invalid class string"), empty.stdout + empty.stderr


def test_error_messages():
    assert carvix.error_message(0x80100069) == carvix.error_message(-2146434967) != ""
    assert carvix.error_message(0x80004005)  # E_FAIL has the module's text
    text = str(carvix.ComError(0x80100009, member="ReadVLDocumentData"))
    assert text.startswith("ReadVLDocumentData: 0x80100009: ") and len(text) > 35
    assert str(carvix.ComError(0x1234, "")) == "0x00001234"
    assert carvix.ComError(-1, "x").hresult == 0xFFFFFFFF


@pytest.fixture
def rt():
    lib = _runtime.library()
    lib.CarvixAskPin.argtypes = [U16, ctypes.c_void_p, ctypes.c_uint32,
                                 ctypes.POINTER(ctypes.c_uint32)]
    lib.CarvixChooseReader.argtypes = [U16, ctypes.c_void_p, ctypes.c_uint32,
                                       ctypes.POINTER(ctypes.c_uint32)]
    lib.CarvixChooseCertificate.argtypes = [U16, U16, ctypes.c_void_p, ctypes.c_uint32,
                                            ctypes.POINTER(ctypes.c_uint32)]
    lib.CarvixNotify.argtypes = [U16, U16, ctypes.c_uint32]
    yield lib
    for setter in (carvix.set_pin_prompt, carvix.set_reader_chooser,
                   carvix.set_certificate_chooser, carvix.set_notifier):
        setter(None)


def ask_pin(rt, label, capacity=32):
    buffer = ctypes.create_string_buffer(capacity)
    length = ctypes.c_uint32(99)
    answered = rt.CarvixAskPin(wide(label), buffer, capacity, ctypes.byref(length))
    return answered, buffer.raw[:length.value]


def test_the_pin_prompt(rt):
    labels = []
    carvix.set_pin_prompt(lambda label: labels.append(label) or "12ć4")
    assert ask_pin(rt, "Token Ž") == (1, "12ć4".encode())
    assert labels == ["Token Ž"]
    carvix.set_pin_prompt(lambda label: "9" * 9)
    assert ask_pin(rt, "t", capacity=8) == (0, b"")  # never cut short: a cancel
    carvix.set_pin_prompt(lambda label: None)
    assert ask_pin(rt, "t") == (0, b"")
    carvix.set_pin_prompt(None)
    assert ask_pin(rt, "t") == (0, b"")
    with pytest.raises(TypeError):
        carvix.set_pin_prompt("1234")


def test_the_pin_prompt_told_the_state(rt):
    rt.CarvixAskPinWithState.argtypes = [U16, ctypes.c_int32, ctypes.c_uint32, ctypes.c_char_p,
                                         ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint32)]
    told = []
    carvix.set_pin_prompt(lambda label, state: told.append((label, state)) or "2468",
                          with_state=True)
    buffer = ctypes.create_string_buffer(16)
    length = ctypes.c_uint32(0)
    assert rt.CarvixAskPinWithState(wide("Token"), 1, 0x8 | 0x2, buffer, 16,
                                    ctypes.byref(length)) == 1
    assert buffer.raw[:length.value] == b"2468"
    assert rt.CarvixAskPinWithState(wide("Token"), -1, 0x4, buffer, 16, ctypes.byref(length)) == 0
    assert told == [("Token", carvix.PinState(1, True, False, True, False)),
                    ("Token", carvix.PinState(None, False, False, False, True))]
    # The plain prompt set afterwards replaces it.
    carvix.set_pin_prompt(lambda label: "1111")
    assert ask_pin(rt, "t") == (1, b"1111")
    assert len(told) == 2


def test_a_hook_that_raises_counts_as_a_cancel_and_is_not_lost(rt):
    def broken(label):
        raise RuntimeError("no terminal")
    carvix.set_pin_prompt(broken)
    assert ask_pin(rt, "t") == (0, b"")
    from carvix import _hooks
    failure = _hooks.take_failure()
    assert isinstance(failure, RuntimeError) and _hooks.take_failure() is None
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        _hooks.warn_lost(failure)
    assert "no terminal" in str(caught[0].message)


class ReaderOffer(ctypes.Structure):
    _fields_ = [("reader", ctypes.c_char_p), ("atr", ctypes.c_char_p),
                ("atrLength", ctypes.c_uint32)]


def choose_reader(rt, offers):
    array = (ReaderOffer * max(len(offers), 1))(
        *[ReaderOffer(wide(name), atr, len(atr)) for name, atr in offers])
    chosen = ctypes.c_uint32(99)
    answered = rt.CarvixChooseReader(wide("VL card"), array if offers else None, len(offers),
                                     ctypes.byref(chosen) if offers else None)
    return answered, chosen.value


def test_the_reader_chooser(rt):
    seen = []
    carvix.set_reader_chooser(lambda title, offers: seen.append((title, offers)) or 1)
    offers = [("Reader A 00 00", b"\x3B\x05"), ("Reader B 01 00", b"\x3B\x85\x01")]
    assert choose_reader(rt, offers) == (1, 1)
    assert seen[0] == ("VL card", [carvix.ReaderOffer(*o) for o in offers])
    for answer in (2, -1, True, "1", None):  # out of range or not an index: a cancel
        carvix.set_reader_chooser(lambda title, offers, a=answer: a)
        assert choose_reader(rt, offers)[0] == 0, answer
    # No acceptable reader yet: a true answer waits on, a false one cancels.
    carvix.set_reader_chooser(lambda title, offers: offers == [])
    assert choose_reader(rt, [])[0] == 1
    carvix.set_reader_chooser(lambda title, offers: False)
    assert choose_reader(rt, [])[0] == 0


class CertificateOffer(ctypes.Structure):
    _fields_ = [("subject", ctypes.c_char_p), ("issuer", ctypes.c_char_p),
                ("notAfter", ctypes.c_char_p), ("thumbprint", ctypes.c_char_p),
                ("der", ctypes.c_char_p), ("derLength", ctypes.c_uint32),
                ("initiallySelected", ctypes.c_int32)]


def test_the_certificate_chooser(rt):
    seen = []
    carvix.set_certificate_chooser(
        lambda title, text, offers: seen.append((title, text, offers)) or 0)
    offers = (CertificateOffer * 2)(
        CertificateOffer(wide("CN=One"), wide("CN=CA"), wide("2030-01-01 00:00:00"),
                         wide("AB" * 20), b"\x30\x03\x02\x01\x00", 5, 1),
        CertificateOffer(wide("CN=Two"), wide("CN=CA"), wide("2031-01-01 00:00:00"),
                         wide("CD" * 20), b"\x30\x00", 2, 0))
    chosen = ctypes.c_uint32(99)
    assert rt.CarvixChooseCertificate(wide("Sign"), wide("Pick one"), offers, 2,
                                      ctypes.byref(chosen)) == 1
    assert chosen.value == 0
    title, text, got = seen[0]
    assert (title, text) == ("Sign", "Pick one")
    assert got[0] == carvix.CertificateOffer("CN=One", "CN=CA", "2030-01-01 00:00:00", "AB" * 20,
                                             b"\x30\x03\x02\x01\x00", True)
    assert got[1].der == b"\x30\x00" and got[1].initially_selected is False
    carvix.set_certificate_chooser(lambda title, text, offers: None)
    assert rt.CarvixChooseCertificate(wide("Sign"), wide(""), offers, 2,
                                      ctypes.byref(chosen)) == 0


def test_the_notifier(rt, capfd):
    notices = []
    carvix.set_notifier(lambda caption, text, style: notices.append((caption, text, style)))
    rt.CarvixNotify(wide("Tessaro"), wide("Čitač je zauzet"), 0x30)
    assert notices == [("Tessaro", "Čitač je zauzet", 0x30)]
    carvix.set_notifier(None)
    rt.CarvixNotify(wide("Tessaro"), wide("to standard error"), 0x30)
    assert "Tessaro: to standard error" in capfd.readouterr().err
