"""carvix: the carvix-qx scripting classes from Python.

    import carvix
    with carvix.Dispatch("CARVIX.DocAdmin") as admin:
        doc = admin.ReadVLDocumentData("Virtual PCD 00 00", 1)
        print(doc.CardID, doc.DateOfExpiry)        # str, datetime.date
    print(carvix.Dispatch("CARVIX.SmartCard").ListReaders())

Objects are created by ProgID from the registered module (register it once with
`carvix register`). Members are called by name; results come back as Python values and
failures as ComError (with `hresult` and `message`), raised as the class of its situation
(NoCardError, CardRemovedError, WrongPinError, ...; each a ComError) with the failure
table's `failure`, `meaning` and `next_step`. help() on an object shows its members. The runtime libcarvix-com is found
through CARVIX_COM_LIBRARY, the installed libcarvix-com.so.1, or a source tree's build folder.
Plain standard library over ctypes; nothing to build.
"""
from ._convert import to_dict, to_json
from ._dispatch import Dispatch, methods, properties
from ._errors import (ComError, ReadOnlyProperty, UnknownMember, WrongArgumentCount,
                      error_message, explanation, status_word_meaning)
from ._failures import (BadCallError, CancelledError, CardRefusedError, CardRemovedError,
                        InUseError, NoCardError, NoReaderError, NoServiceError,
                        NotAllowedError, NotRegisteredError, PinBlockedError, TokenError,
                        TrustError, WrongCardError, WrongPinError)
from ._hooks import (CertificateOffer, PinState, ReaderOffer, set_certificate_chooser,
                     set_desktop_dialogs, set_notifier, set_pin_prompt, set_reader_chooser)
from ._runtime import RuntimeNotFound, library_path
from ._settings import card_wait_limit, set_card_wait_limit

__all__ = [
    "BadCallError", "CancelledError", "CardRefusedError", "CardRemovedError", "InUseError",
    "NoCardError", "NoReaderError", "NoServiceError", "NotRegisteredError", "PinBlockedError",
    "TokenError", "TrustError", "WrongPinError", "WrongCardError", "NotAllowedError", "explanation", "status_word_meaning",
    "CertificateOffer", "ComError", "Dispatch", "PinState", "ReaderOffer", "RuntimeNotFound",
    "ReadOnlyProperty", "UnknownMember", "WrongArgumentCount", "card_wait_limit", "error_message",
    "library_path", "methods", "properties",
    "set_card_wait_limit", "set_certificate_chooser", "set_desktop_dialogs", "set_notifier",
    "set_pin_prompt", "set_reader_chooser", "to_dict", "to_json",
]
__version__ = "1.0"
__license__ = "MIT"
__copyright__ = "2026 The carvix-qx authors"
