#include "carvix/support/pkcs11_hresult.h"

#include <iterator>

namespace Orvel::Pkcs11 {
namespace {

struct Row {
    CK_RV rv;
    std::uint32_t hresult;
};

// Login and PIN results become the PC/SC warnings a card's own provider reports; token
// presence becomes the PC/SC card errors; key and data results become the NTE_* codes of
// the crypto provider.
constexpr Row kTable[] = {
    {CKR_OK, 0x00000000u},
    {CKR_HOST_MEMORY, 0x8009000Eu},                 // NTE_NO_MEMORY
    {CKR_SLOT_ID_INVALID, 0x80100009u},             // SCARD_E_UNKNOWN_READER
    {CKR_GENERAL_ERROR, 0x80090020u},               // NTE_FAIL
    {CKR_FUNCTION_FAILED, 0x80090020u},             // NTE_FAIL
    {CKR_ARGUMENTS_BAD, 0x80070057u},               // E_INVALIDARG
    {CKR_ATTRIBUTE_TYPE_INVALID, 0x80090005u},      // NTE_BAD_DATA
    {CKR_ATTRIBUTE_VALUE_INVALID, 0x80090005u},     // NTE_BAD_DATA
    {CKR_DATA_INVALID, 0x80090005u},                // NTE_BAD_DATA
    {CKR_DATA_LEN_RANGE, 0x80090004u},              // NTE_BAD_LEN
    {CKR_DEVICE_ERROR, 0x80100013u},                // SCARD_F_COMM_ERROR
    {CKR_DEVICE_MEMORY, 0x80100028u},               // SCARD_E_WRITE_TOO_MANY (card full)
    {CKR_DEVICE_REMOVED, 0x8010000Cu},              // SCARD_E_NO_SMARTCARD
    {CKR_ENCRYPTED_DATA_INVALID, 0x80090005u},      // NTE_BAD_DATA
    {CKR_ENCRYPTED_DATA_LEN_RANGE, 0x80090004u},    // NTE_BAD_LEN
    {CKR_FUNCTION_CANCELED, 0x8010006Eu},           // SCARD_W_CANCELLED_BY_USER
    {CKR_FUNCTION_NOT_SUPPORTED, 0x80090029u},      // NTE_NOT_SUPPORTED
    {CKR_KEY_HANDLE_INVALID, 0x8009000Du},          // NTE_NO_KEY
    {CKR_KEY_SIZE_RANGE, 0x80090009u},              // NTE_BAD_FLAGS (key length refused)
    {CKR_KEY_TYPE_INCONSISTENT, 0x80090003u},       // NTE_BAD_KEY
    {CKR_KEY_FUNCTION_NOT_PERMITTED, 0x80090010u},  // NTE_PERM
    {CKR_MECHANISM_INVALID, 0x80090008u},           // NTE_BAD_ALGID
    {CKR_MECHANISM_PARAM_INVALID, 0x80090008u},     // NTE_BAD_ALGID
    {CKR_OBJECT_HANDLE_INVALID, 0x80090016u},       // NTE_BAD_KEYSET
    {CKR_PIN_INCORRECT, 0x8010006Bu},               // SCARD_W_WRONG_CHV
    {CKR_PIN_INVALID, 0x8010006Bu},                 // SCARD_W_WRONG_CHV
    {CKR_PIN_LEN_RANGE, 0x8010006Bu},               // SCARD_W_WRONG_CHV
    {CKR_PIN_EXPIRED, 0x8010006Cu},                 // SCARD_W_CHV_BLOCKED
    {CKR_PIN_LOCKED, 0x8010006Cu},                  // SCARD_W_CHV_BLOCKED
    {CKR_SESSION_COUNT, 0x8010000Bu},               // SCARD_E_SHARING_VIOLATION
    {CKR_SESSION_HANDLE_INVALID, 0x80100003u},      // SCARD_E_INVALID_HANDLE
    {CKR_SESSION_READ_ONLY, 0x8010006Au},           // SCARD_W_SECURITY_VIOLATION
    {CKR_SIGNATURE_INVALID, 0x80090006u},           // NTE_BAD_SIGNATURE
    {CKR_TEMPLATE_INCOMPLETE, 0x80090009u},         // NTE_BAD_FLAGS
    {CKR_TEMPLATE_INCONSISTENT, 0x80090009u},       // NTE_BAD_FLAGS
    {CKR_TOKEN_NOT_PRESENT, 0x8010000Cu},           // SCARD_E_NO_SMARTCARD
    {CKR_TOKEN_NOT_RECOGNIZED, 0x8010000Du},        // SCARD_E_UNKNOWN_CARD
    {CKR_TOKEN_WRITE_PROTECTED, 0x8010006Au},       // SCARD_W_SECURITY_VIOLATION
    {CKR_USER_NOT_LOGGED_IN, 0x8010006Fu},          // SCARD_W_CARD_NOT_AUTHENTICATED
    {CKR_USER_PIN_NOT_INITIALIZED, 0x8010006Fu},    // SCARD_W_CARD_NOT_AUTHENTICATED
    {CKR_BUFFER_TOO_SMALL, 0x800700EAu},            // ERROR_MORE_DATA
    {CKR_CRYPTOKI_NOT_INITIALIZED, 0x8010001Du},    // SCARD_E_NO_SERVICE
};

}  // namespace

std::uint32_t HResultOf(CK_RV rv) noexcept {
    for (const Row& row : kTable) {
        if (row.rv == rv) {
            return row.hresult;
        }
    }
    return 0x80090020u;  // NTE_FAIL
}

}  // namespace Orvel::Pkcs11
