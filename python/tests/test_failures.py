"""Failures as Python sees them: one exception class per situation from the failure table,
the system's message text without creating an object, and help() that shows the members
with their parameters and help strings."""
import pydoc

import pytest

import carvix
from conftest import sample


def test_bench_failures_raise_their_situation(card, bench):
    c = card(sample("vl-full", 1))
    with carvix.Dispatch("CARVIX.DocAdmin") as admin:
        with pytest.raises(carvix.NoReaderError) as caught:
            admin.ReadVLDocumentData("No Such Reader 00 00", 1)
        assert caught.value.failure == "UnknownReader" and caught.value.next_step
        with pytest.raises(carvix.CardRefusedError) as caught:
            admin.ReadZKDocumentData(c.reader, 5)  # a VL card has no ZK application
        error = caught.value
        assert isinstance(error, carvix.ComError) and error.hresult == 0x80076A82
        assert error.status_word == 0x6A82
        assert error.meaning == "6A82: the card has no such application or file"
    with pytest.raises(carvix.NotRegisteredError):
        carvix.Dispatch("CARVIX.NoSuchClass")


def test_the_message_comes_from_the_runtime_without_an_object(bench, monkeypatch):
    with carvix.Dispatch("CARVIX.Utilities") as utilities:
        expected = utilities.GetErrorMessage(-2146434967)

    def refuse(*args, **kwargs):
        raise AssertionError("an object was created to find a message")
    monkeypatch.setattr(carvix.Dispatch, "__init__", refuse)
    assert carvix.error_message(0x80100069) == expected != ""
    assert carvix.ComError(0x80100069).message == expected
    # Codes the system's table does not know keep the runtime's own texts.
    assert carvix.error_message(0x80020006) == "Unknown name."


def test_help_shows_members_parameters_and_help_strings(bench):
    with carvix.Dispatch("CARVIX.Utilities") as utilities:
        assert type(utilities).__name__ == "IUtilitiesService"
        assert isinstance(utilities, carvix.Dispatch)
        text = pydoc.render_doc(utilities, renderer=pydoc.plaintext)
        assert "GetErrorMessage(self, ulErrorCode)" in text
        assert "Returns formated message string" in text
        assert "GetErrorMessage" in dir(utilities)
        # Calls still go by name: the generated method and the name in any case agree.
        assert utilities.GetErrorMessage(-2146434967) == utilities.geterrormessage(-2146434967)
