#!/usr/bin/env python3
"""Checks the SODs of card images with the openssl command, independently of carvix-qx.

For every application of every image: each SOD's message must verify with
`openssl cms -verify -noverify` (signature only, no chain), and its content must be the
SHA-256 hashes of the covered blocks' stored bytes in the card's order (32 zero bytes for a
covered block the card does not hold). Exits 77 when openssl is missing."""
import hashlib
import json
import shutil
import subprocess
import sys
import tempfile

# SOD -> covered blocks, VL application (IDs 1 to 4) and ZK application (ID 5).
VL = {"0D05": ["0D00", "0D01", "0D02", "0D04", "0D07"], "0D06": ["0D03"]}
ZK = {"0D05": ["0D00", "0D01", "0D02", "0E01", "0D07"], "0D06": ["0D03"], "0D09": ["0E02"]}
ELEMENT = {"0D05": 0x0650, "0D06": 0x0660, "0D09": 0x0690}
AIDS = {"F3810000025345525158564C01": VL, "F38100000253455251585A4B01": ZK}


def le16(b, at):
    return b[at] | b[at + 1] << 8


def stored_block(data):
    """A file's block as the card reads it: the header and the length it declares. A file
    rewritten with a shorter block keeps the old tail beyond it, which is no part of the block."""
    if len(data) < 4:
        return data
    return data[:4 + le16(data, 2)]


def sod_message(sod_id, block):
    if le16(block, 0) != int(sod_id, 16) or le16(block, 2) != len(block) - 4:
        raise ValueError(f"SOD {sod_id}: bad block header")
    if le16(block, 4) != ELEMENT[sod_id] or le16(block, 6) != len(block) - 8:
        raise ValueError(f"SOD {sod_id}: bad element header")
    return block[8:]


def verify(message, folder):
    der = f"{folder}/sod.der"
    out = f"{folder}/content.bin"
    with open(der, "wb") as f:
        f.write(message)
    result = subprocess.run(["openssl", "cms", "-verify", "-noverify", "-binary", "-inform", "DER",
                             "-in", der, "-out", out], capture_output=True, text=True)
    if result.returncode != 0:
        raise ValueError("openssl cms -verify failed: " + result.stderr.strip())
    with open(out, "rb") as f:
        return f.read()


def main(images):
    if shutil.which("openssl") is None:
        print("openssl not found")
        return 77
    checked = 0
    with tempfile.TemporaryDirectory() as folder:
        for path in images:
            with open(path) as f:
                image = json.load(f)
            for app in image["applications"]:
                table = AIDS.get(app["aid"].upper())
                if table is None:
                    continue
                files = {e["id"].upper(): stored_block(bytes.fromhex(e["data"]))
                         for e in app["files"]}
                for sod_id, covered in table.items():
                    if sod_id not in files:
                        continue
                    content = verify(sod_message(sod_id, files[sod_id]), folder)
                    expected = b"".join(hashlib.sha256(files[b]).digest() if b in files
                                        else bytes(32) for b in covered)
                    if content != expected:
                        print(f"{path}: SOD {sod_id} does not list the hashes of {covered}")
                        return 1
                    checked += 1
    print(f"{checked} SODs verified with openssl")
    return 0 if checked > 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
