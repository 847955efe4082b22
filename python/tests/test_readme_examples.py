"""The Python examples of README.md and python/README.md, run as written against a card on the
bench, so that they cannot drift from what the package and the bench really offer."""
import contextlib
import io
import os
import re

import pytest

import bench as B
import carvix
from conftest import sample

EXAMPLES = [os.path.join(B.ROOT, "README.md"), os.path.join(B.ROOT, "python", "README.md")]


def python_blocks(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    return re.findall(r"^```python\n(.*?)^```", text, flags=re.S | re.M)


@pytest.mark.parametrize("path", EXAMPLES, ids=["README", "python-README"])
def test_examples_run_as_written(card, path):
    """A file's examples run in order in one namespace, as a reader following it would."""
    inserted = card(sample("vl-full", 0))
    # Other tests may hold cards in the bench's other readers at the same time: when several
    # readers qualify, the chooser picks this test's one (nobody is asked on the bench).
    carvix.set_reader_chooser(
        lambda title, offers: next(
            (i for i, offer in enumerate(offers) if offer.reader == inserted.reader), None))
    out = io.StringIO()
    namespace = {}
    code = python_blocks(path)
    assert code, f"{path} lost its Python examples"
    try:
        with contextlib.redirect_stdout(out):
            for block in code:
                exec(compile(block, path, "exec"), namespace)  # noqa: S102 (our own README)
    finally:
        for reset in (carvix.set_reader_chooser, carvix.set_pin_prompt,
                      carvix.set_certificate_chooser, carvix.set_notifier):
            reset(None)
    if any("ReadVLDocumentData" in block for block in code):
        expected = carvix.Dispatch("CARVIX.DocAdmin").ReadVLDocumentData(inserted.reader, 1)
        assert out.getvalue().split() == [expected.CardID, expected.DateOfExpiry.isoformat()]
