"""The sample cards on the bench read through the Python client: every block must give what
`carvix read all --json` prints for the same card, field for field, with the values as
Python types; readers are listed and chosen; failures carry their HRESULT and message."""
import base64
import datetime
import json
import os

import pytest

import bench as B
import carvix
from conftest import sample

E_FAIL = 0x80004005
CANCELLED = 0x800704C7

# The read method of each block, by the name the command-line client prints.
BLOCKS = {
    "vl-document": "ReadVLDocumentData",
    "vl-fixed": "ReadVLFixedPersoData",
    "vl-photo": "ReadVLPhotoData",
    "vl-variable": "ReadVLVariablePersoData",
    "zk-document": "ReadZKDocumentData",
    "zk-fixed-admin": "ReadZKFixedAdminData",
    "zk-fixed": "ReadZKFixedPersoData",
    "zk-variable-admin": "ReadZKVariableAdminData",
    "zk-variable": "ReadZKVariablePersoData",
}


def plain(obj):
    """The object's properties as the command-line client prints them: optional fields
    only when their ...Specified flag is set, dates as ISO days, lists of objects as lists."""
    names = carvix.properties(obj)
    out = {}
    for name in names:
        if name.endswith("Specified") and name[:-len("Specified")] in names:
            continue
        if name + "Specified" in names and not getattr(obj, name + "Specified"):
            continue
        try:
            value = getattr(obj, name)
        except carvix.ComError as error:
            # An object list the block does not hold is absent, as in the client.
            if error.hresult == 0x80070057 and name == "VoluntaryInsurances":
                continue
            raise
        if isinstance(value, list):
            value = [plain(item) for item in value]
        elif isinstance(value, datetime.date):
            assert not isinstance(value, datetime.datetime), f"{name} has a time of day"
            value = value.isoformat()
        out[name] = value
    return out


@pytest.mark.parametrize("name,protocol,app,family", [
    ("vl-full", 0, 1, "vl"),
    ("vl-minimal", 1, 1, "vl"),
    ("zk-full", 1, 5, "zk"),
])
def test_every_block_matches_the_command_line_client(card, name, protocol, app, family):
    c = card(sample(name, protocol))
    printed = B.run_cli("read", "all", "--reader", c.reader, "--app", str(app), "--json")
    assert printed.returncode == 0, printed.stderr
    expected = json.loads(printed.stdout)
    got = {}
    with carvix.Dispatch("CARVIX.DocAdmin") as admin:
        for block, method in BLOCKS.items():
            if not block.startswith(family):
                continue
            with getattr(admin, method)(c.reader, app) as obj:
                got[block] = plain(obj)
    assert set(got) == set(expected)
    for block in expected:
        assert got[block] == expected[block], block


@pytest.mark.parametrize("name,protocol,app,family", [
    ("vl-full", 0, 1, "vl"),
    ("zk-full", 1, 5, "zk"),
])
def test_the_whole_application_in_one_call_gives_every_block(card, name, protocol, app, family):
    c = card(sample(name, protocol))
    expected = {}
    with carvix.Dispatch("CARVIX.DocAdmin") as admin:
        for block, method in BLOCKS.items():
            if block.startswith(family):
                with getattr(admin, method)(c.reader, app) as obj:
                    expected[block] = plain(obj)
    with carvix.Dispatch("CARVIX.WholeCard") as whole:
        objects = whole.ReadApplication(c.reader, app)
    try:
        # One element per block, in the order of the read methods.
        assert [plain(obj) for obj in objects] == list(expected.values())
    finally:
        for obj in objects:
            obj.close()


def test_values_come_back_as_python_types(card):
    c = card(sample("zk-full", 0))
    admin = carvix.Dispatch("CARVIX.DocAdmin")
    document = admin.ReadZKDocumentData(c.reader, 5)
    assert type(document.DateOfIssue) is datetime.date
    assert document.DateOfExpiry > document.DateOfIssue
    assert isinstance(document.CardID, str) and document.CardID
    person = admin.ReadZKFixedPersoData(c.reader, 5)
    assert type(person.Gender) is int
    assert isinstance(person.LastName, str)
    admin_block = admin.ReadZKVariableAdminData(c.reader, 5)
    insurances = admin_block.VoluntaryInsurances
    assert isinstance(insurances, list) and insurances
    assert all(isinstance(i, carvix.Dispatch) for i in insurances)
    assert all(type(i.ValidTo) is datetime.date for i in insurances)
    assert type(admin_block.BookletIssuerCodeSpecified) is bool


def _jpeg_card(tmp_path):
    """A VL card personalised with a (tiny) JPEG photo."""
    with open(os.path.join(B.PERSO_DIR, "vl-minimal.json"), encoding="utf-8") as f:
        perso = json.load(f)
    for part in ("certificate", "key"):
        perso["signer"][part] = os.path.normpath(os.path.join(B.PERSO_DIR,
                                                              perso["signer"][part]))
    jpeg = bytes.fromhex("FFD8FFE000104A46494600010100000100010000") + bytes(range(256)) + \
        bytes.fromhex("FFD9")
    perso["applications"][0]["blocks"]["VLPhoto"]["Photo"] = {"hex": jpeg.hex()}
    source = tmp_path / "jpeg-perso.json"
    source.write_text(json.dumps(perso), encoding="utf-8")
    image = tmp_path / "jpeg-card.json"
    made = B.subprocess.run([B.PERSO, str(source), "-o", str(image), "--protocol", "T=1"],
                            capture_output=True, text=True)
    assert made.returncode == 0, made.stderr
    return str(image), jpeg


def test_the_photo_decodes_to_the_jpeg_bytes(card, tmp_path):
    image, jpeg = _jpeg_card(tmp_path)
    c = card(image)
    with carvix.Dispatch("CARVIX.DocAdmin") as admin:
        photo = admin.ReadVLPhotoData(c.reader, 1).Photo
    assert isinstance(photo, str)  # the block hands the photo out as Base64 text
    data = base64.b64decode(photo)
    assert data[:3] == b"\xFF\xD8\xFF" and data[-2:] == b"\xFF\xD9"
    assert data == jpeg


def test_readers_are_listed_and_a_single_card_is_selected(card):
    c = card(sample("vl-full", 1))
    smartcard = carvix.Dispatch("CARVIX.SmartCard")
    readers = smartcard.ListReaders()
    assert isinstance(readers, list) and all(isinstance(r, str) for r in readers)
    assert c.reader in readers
    asked = []

    def choose(title, offers):
        asked.append(offers)
        names = [o.reader for o in offers]
        return names.index(c.reader) if c.reader in names else None
    carvix.set_reader_chooser(choose)
    try:
        assert smartcard.SelectReader() == c.reader
    finally:
        carvix.set_reader_chooser(None)
    # A single acceptable card is taken without asking; the chooser is asked only when
    # other programs' tests have cards in other readers of the same bench.
    assert all(len(offers) > 1 for offers in asked)


def test_the_reader_chooser_picks_among_several_and_can_cancel(card):
    first, second = card(sample("vl-full", 0)), card(sample("zk-full", 1))
    smartcard = carvix.Dispatch("CARVIX.SmartCard")
    seen = []

    def choose(title, offers):
        seen.append((title, offers))
        return [o.reader for o in offers].index(second.reader)
    carvix.set_reader_chooser(choose)
    try:
        assert smartcard.SelectReader() == second.reader
        title, offers = seen[-1]
        assert {first.reader, second.reader} <= {o.reader for o in offers}
        assert all(isinstance(o.atr, bytes) and o.atr[:1] == b"\x3B" for o in offers)

        def fail(title, offers):
            raise KeyError("the user closed the window")
        carvix.set_reader_chooser(fail)
        with pytest.raises(carvix.ComError) as caught:
            smartcard.SelectReader()
        assert caught.value.hresult == CANCELLED
        assert isinstance(caught.value.__cause__, KeyError)

        carvix.set_reader_chooser(lambda title, offers: None)
        with pytest.raises(carvix.ComError) as caught:
            smartcard.SelectReader()
        assert caught.value.hresult == CANCELLED and caught.value.__cause__ is None
    finally:
        carvix.set_reader_chooser(None)


def test_failures_carry_their_code_and_message(card, bench):
    c = card(sample("vl-full", 1))
    admin = carvix.Dispatch("CARVIX.DocAdmin")
    with pytest.raises(carvix.ComError) as caught:
        admin.ReadVLDocumentData("No Such Reader 00 00", 1)
    error = caught.value
    assert error.hresult >> 12 == 0x80100, hex(error.hresult)  # a PC/SC failure
    assert error.message == carvix.error_message(error.hresult) != ""
    assert error.member == "ReadVLDocumentData"
    assert f"0x{error.hresult:08X}" in str(error) and error.message in str(error)

    notices = []
    carvix.set_notifier(lambda caption, text, style: notices.append((caption, text, style)))
    try:
        with pytest.raises(carvix.ComError) as caught:
            admin.ReadVLDocumentData(c.reader, 2)  # the card's document has ID 1
    finally:
        carvix.set_notifier(None)
    assert caught.value.hresult == E_FAIL
    assert notices and "ID 2 was requested" in notices[0][1]

    with pytest.raises(carvix.ComError) as caught:
        admin.ReadZKDocumentData(c.reader, 5)  # a VL card has no ZK application
    assert caught.value.hresult == 0x80076A82


def test_many_reads_leave_nothing_alive(card):
    c = card(sample("vl-full", 1))
    from test_lifetime import live_objects, rss_kib
    with carvix.Dispatch("CARVIX.DocAdmin") as admin:
        for _ in range(20):
            plain(admin.ReadVLFixedPersoData(c.reader, 1))
        before = rss_kib()
        for _ in range(150):
            plain(admin.ReadVLFixedPersoData(c.reader, 1))
            photo = base64.b64decode(admin.ReadVLPhotoData(c.reader, 1).Photo)
            assert photo[:2] == b"\xff\xd8" and photo[-2:] == b"\xff\xd9"
        grown = rss_kib() - before
    assert live_objects() == 0
    assert grown < 8 * 1024, f"{grown} KiB more after 150 reads"


def test_a_card_held_by_another_program_fails_within_the_wait_limit(card, bench):
    """Another program inside a long transaction: the read gives up after the limit the
    script set, with the in-use code, instead of waiting for ever."""
    import subprocess
    import time
    c = card(sample("vl-full", 0))
    env = dict(os.environ, PCSCLITE_CSOCK_NAME=bench.socket)
    holder = subprocess.Popen([B.PROBE, "hold", c.reader, "transaction", "--seconds", "30"],
                              env=env, stdout=subprocess.PIPE, text=True)
    try:
        assert holder.stdout.readline().startswith("holding")
        assert carvix.card_wait_limit() == 5
        carvix.set_card_wait_limit(0.5)
        try:
            started = time.monotonic()
            with carvix.Dispatch("CARVIX.DocAdmin") as admin:
                with pytest.raises(carvix.ComError) as failure:
                    admin.ReadVLDocumentData(c.reader, 1)
            assert failure.value.hresult == 0x8010000B
            assert time.monotonic() - started < 3
        finally:
            carvix.set_card_wait_limit(5)
    finally:
        holder.terminate()
        holder.wait()
