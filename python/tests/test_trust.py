"""Who signed a card, and whether that signer is trusted: cards personalised with signers of a
PKI made here (a CA with a revocation list; a good, an expired, a revoked and an
encipherment-only signer; a self-signed "Anyone"), read through the command-line client and
through Python, with and without anchors and with the administrator's policy. Every key made
here is a throw-away TEST key."""
import json
import os
import subprocess

import pytest

import bench as B
import carvix
from conftest import sample

UNTRUSTED_ROOT = 0x800B0109
EXPIRED = 0x800B0101
REVOKED = 0x80092010
WRONG_USAGE = 0x800B0110

SAMPLE_SIGNER = "CN=TEST Document Signer,O=carvix-qx test bench,C=XX"
BENCH_ISSUER = os.path.join(B.ROOT, "tests", "data", "pki", "issuer.cert.pem")


def openssl(*args, cwd):
    run = subprocess.run(["openssl", *args], cwd=cwd, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    return run


CA_CONFIG = """[ca]
default_ca = test
[test]
dir = .
database = index.txt
serial = serial
new_certs_dir = issued
certificate = ca.pem
private_key = ca.key
default_md = sha256
default_crl_days = 7
policy = any
unique_subject = no
[any]
commonName = supplied
[signing]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
[encipher]
basicConstraints = critical, CA:FALSE
keyUsage = critical, keyEncipherment
[req]
distinguished_name = dn
[dn]
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
"""


@pytest.fixture(scope="module")
def pki(tmp_path_factory):
    """The CA (ca.pem with its list in crl.pem) and the signers, name -> (cert, key)."""
    d = tmp_path_factory.mktemp("trust-pki")
    (d / "ca.cnf").write_text(CA_CONFIG)
    (d / "index.txt").write_text("")
    (d / "serial").write_text("10\n")
    (d / "issued").mkdir()
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
            "ca.pem", "-days", "3650", "-subj", "/CN=TEST Trust CA", "-config", "ca.cnf",
            "-extensions", "root", cwd=d)
    signers = {}

    def issue(name, extensions, start="20200101000000Z", end="20491231000000Z"):
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out",
                f"{name}.csr", "-subj", f"/CN=TEST {name} signer", "-config", "ca.cnf", cwd=d)
        openssl("ca", "-batch", "-config", "ca.cnf", "-in", f"{name}.csr", "-out", f"{name}.pem",
                "-extensions", extensions, "-startdate", start, "-enddate", end, "-notext",
                cwd=d)
        signers[name] = (str(d / f"{name}.pem"), str(d / f"{name}.key"))

    issue("good", "signing")
    issue("expired", "signing", end="20210101000000Z")
    issue("revoked", "signing")
    issue("encipher", "encipher")
    openssl("ca", "-config", "ca.cnf", "-revoke", "revoked.pem", cwd=d)
    openssl("ca", "-config", "ca.cnf", "-gencrl", "-out", "crl.pem", cwd=d)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "anyone.key", "-out",
            "anyone.pem", "-days", "3650", "-subj", "/CN=Anyone", "-config", "ca.cnf",
            "-extensions", "signing", cwd=d)
    signers["anyone"] = (str(d / "anyone.pem"), str(d / "anyone.key"))
    return d, signers


@pytest.fixture(scope="module")
def images(pki, tmp_path_factory):
    """A VL card image per signer."""
    d, signers = pki
    out = tmp_path_factory.mktemp("trust-cards")
    source = os.path.join(B.PERSO_DIR, "vl-minimal.json")
    made = {}
    for name, (cert, key) in signers.items():
        image = out / f"{name}.json"
        run = subprocess.run([B.PERSO, source, "-o", str(image), "--protocol", "T=1",
                              "--signer-cert", cert, "--signer-key", key],
                             capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        made[name] = str(image)
    return made


@pytest.fixture
def anchors(tmp_path, monkeypatch):
    """anchors(*files): a private administrator's folder holding these files."""
    folder = tmp_path / "anchors"
    folder.mkdir(mode=0o755)
    monkeypatch.setenv("CARVIX_TRUST_DIR", str(folder))

    def install(*files):
        for f in files:
            target = folder / os.path.basename(f)
            target.write_bytes(open(f, "rb").read())
            target.chmod(0o644)
        return folder
    return install


def signer_of(reader, method="ReadVLDocumentData"):
    with carvix.Dispatch("CARVIX.DocAdmin") as admin, \
            carvix.Dispatch("CARVIX.SignerTrust") as trust:
        with getattr(admin, method)(reader, 1) as block:
            s = trust.SignerOf(block)
            return {"Subject": s.Subject, "Trust": s.Trust, "Reason": s.Reason,
                    "TrustResult": s.TrustResult & 0xFFFFFFFF, "Certificate": s.Certificate}


def test_without_anchors_reads_are_as_before_and_trust_is_not_checked(card, anchors):
    anchors()
    c = card(sample("vl-minimal", 1))
    plain = B.run_cli("read", "vl-document", "--reader", c.reader, "--app", "1")
    assert plain.returncode == 0, plain.stderr
    assert "verified" not in plain.stdout
    shown = B.run_cli("read", "vl-document", "--reader", c.reader, "--app", "1", "--show-signer")
    assert shown.returncode == 0, shown.stderr
    assert shown.stdout.endswith(f"  verified, signed by {SAMPLE_SIGNER}, trust not checked\n")
    got = signer_of(c.reader)
    assert got["Subject"] == SAMPLE_SIGNER
    assert got["Trust"] == "not checked" and not got["Reason"] and got["TrustResult"] == 1
    assert got["Certificate"]
    refused = B.run_cli("read", "vl-document", "--reader", c.reader, "--app", "1",
                        "--require-trusted")
    assert refused.returncode == 1
    assert "the signer is not trusted" in refused.stderr and "CardID" not in refused.stdout


def test_the_bench_issuer_installed_by_the_user_makes_the_sample_card_trusted(card, anchors):
    anchors()
    added = B.run_cli("trust", "add", BENCH_ISSUER)
    assert added.returncode == 0, added.stderr
    try:
        listed = B.run_cli("trust", "list")
        assert "CN=TEST Card Issuer" in listed.stdout and listed.stdout.startswith("user")
        c = card(sample("vl-minimal", 1))
        # Shown without being asked once anchors are installed, in the listing and the JSON.
        r = B.run_cli("read", "all", "--reader", c.reader, "--app", "1", "--json",
                      "--require-trusted")
        assert r.returncode == 0, r.stderr
        printed = json.loads(r.stdout)
        for block in printed.values():
            assert block["$signer"]["trust"] == "trusted"
            assert block["$signer"]["text"] == f"verified, signed by {SAMPLE_SIGNER}, trusted"
        assert signer_of(c.reader, "ReadVLFixedPersoData")["TrustResult"] == 0
    finally:
        thumbprint = listed.stdout.split()[1]
        assert B.run_cli("trust", "remove", thumbprint).returncode == 0
    assert "CN=TEST Card Issuer" not in B.run_cli("trust", "list").stdout


@pytest.mark.parametrize("name,trust,code", [
    ("good", "trusted", 0),
    ("anyone", "untrusted (unknown issuer)", UNTRUSTED_ROOT),
    ("expired", "untrusted (expired)", EXPIRED),
    ("revoked", "untrusted (revoked)", REVOKED),
    ("encipher", "untrusted (wrong usage)", WRONG_USAGE),
])
def test_each_signer_gets_its_trust_in_every_client(card, pki, images, anchors, monkeypatch,
                                                    tmp_path, name, trust, code):
    d, signers = pki
    anchors(str(d / "ca.pem"), str(d / "crl.pem"))
    c = card(images[name])
    subject = "CN=Anyone" if name == "anyone" else f"CN=TEST {name} signer"
    r = B.run_cli("read", "vl-document", "--reader", c.reader, "--app", "1")
    assert r.returncode == 0, r.stderr
    assert r.stdout.endswith(f"  verified, signed by {subject}, {trust}\n")
    strict = B.run_cli("read", "vl-document", "--reader", c.reader, "--app", "1",
                       "--require-trusted")
    assert strict.returncode == (0 if code == 0 else 1), strict.stderr
    got = signer_of(c.reader)
    assert got["TrustResult"] == (code or 0)
    assert got["Trust"] == trust.split(" (")[0]

    # The administrator's policy: an untrusted signer fails the read itself, with its code.
    policy = tmp_path / "trust-policy"
    policy.write_text("require-trusted-signer = yes\n")
    policy.chmod(0o644)
    monkeypatch.setenv("CARVIX_TRUST_POLICY", str(policy))
    if code == 0:
        assert signer_of(c.reader)["Trust"] == "trusted"
        return
    with pytest.raises(carvix.ComError) as failed:
        signer_of(c.reader)
    assert failed.value.hresult == code
    r = B.run_cli("read", "vl-document", "--reader", c.reader, "--app", "1")
    assert r.returncode == 1
    assert f"0x{code:08X}" in r.stderr


def test_a_forged_card_fails_under_the_policy_even_without_anchors(card, images, anchors,
                                                                  monkeypatch, tmp_path):
    anchors()
    policy = tmp_path / "trust-policy"
    policy.write_text("require-trusted-signer = yes\n")
    policy.chmod(0o644)
    monkeypatch.setenv("CARVIX_TRUST_POLICY", str(policy))
    c = card(images["anyone"])
    with pytest.raises(carvix.ComError) as failed:
        signer_of(c.reader)
    assert failed.value.hresult == UNTRUSTED_ROOT
