#include "carvix/support/system_message.h"

#include "carvix/support/id_text.h"
#include "carvix/support/string_table.h"
#include "carvix/support/text.h"

#include <PCSC/winscard.h>

#include <cstring>

namespace Orvel {
namespace {

// Win32 error codes that the component or its platform layers report (also reached through
// HRESULTs of the form 0x8007xxxx). Sorted by code.
constexpr IdText kWin32Texts[] = {
    {0, u"The operation succeeded."},
    {1, u"The function is not supported."},
    {2, u"The file was not found."},
    {3, u"The path was not found."},
    {5, u"Access was denied."},
    {6, u"The handle is not valid."},
    {8, u"Not enough memory to complete the operation."},
    {13, u"The data is not valid."},
    {14, u"Out of memory."},
    {80, u"The file already exists."},
    {87, u"A parameter is not valid."},
    {122, u"The buffer is too small for the data."},
    {126, u"The library module was not found."},
    {127, u"The procedure was not found in the library."},
    {183, u"The object already exists."},
    {206, u"The file name or path is too long."},
    {234, u"More data is available."},
    {1113, u"The text cannot be translated to the requested code page."},
    {1168, u"The element was not found."},
    {1223, u"The operation was cancelled by the user."},
    {1359, u"An internal error occurred."},
};

// HRESULT codes (other than 0x8007xxxx) and PC/SC codes that pcsc-lite has no text for.
// Sorted by code.
constexpr IdText kHResultTexts[] = {
    {0x00000001u, u"The operation succeeded with a false result."},
    {0x80004001u, u"Not implemented."},
    {0x80004002u, u"The interface is not supported."},
    {0x80004003u, u"A pointer is not valid."},
    {0x80004005u, u"Unspecified failure."},
    {0x8000FFFFu, u"Unexpected failure."},
    {0x80020003u, u"The member was not found."},
    {0x80020004u, u"A parameter was not found."},
    {0x80020005u, u"The types do not match."},
    {0x80020006u, u"The name is not known."},
    {0x80020009u, u"An exception occurred."},
    {0x8002000Bu, u"The index is not valid."},
    {0x8002000Eu, u"The number of parameters is not valid."},
    {0x8002801Du, u"The type library is not registered."},
    {0x80040110u, u"The class does not support aggregation."},
    {0x80040111u, u"The class factory cannot supply the requested class."},
    {0x80040154u, u"The class is not registered."},
    {0x800401F3u, u"The class string is not valid."},
    {0x80040200u, u"The type library could not be registered."},
    {0x80040201u, u"The class could not be registered."},
    {0x80090005u, u"The data is bad."},
    {0x80090006u, u"The signature is not valid."},
    {0x80090008u, u"The algorithm is not valid."},
    {0x80090009u, u"The flags are not valid."},
    {0x8009000Du, u"The key does not exist."},
    {0x8009000Eu, u"Not enough memory for the cryptographic operation."},
    {0x8009000Fu, u"The object already exists."},
    {0x80090010u, u"Access was denied to the cryptographic object."},
    {0x80090011u, u"The cryptographic object was not found."},
    {0x80090016u, u"The key set does not exist."},
    {0x80090019u, u"The key set is not defined."},
    {0x80090020u, u"An internal cryptographic error occurred."},
    {0x80090029u, u"The requested cryptographic operation is not supported."},
    {0x80092004u, u"The object or property was not found."},
    {0x80092005u, u"The object or property already exists."},
    {0x80092010u, u"The certificate has been revoked by its issuer."},
    {0x800B0100u, u"No signature was present in the subject."},
    {0x800B0101u, u"A required certificate is not within its validity period."},
    {0x800B0109u, u"The certificate chain ends in a certificate that is not trusted."},
    {0x800B010Au, u"The certificate chain could not be built to a trusted authority."},
    {0x800B0110u, u"The certificate is not valid for the requested usage."},
    // PC/SC codes without a text in pcsc-lite.
    {0x80100014u, u"An internal error with no known cause occurred."},
    {0x80100018u, u"The resource manager is shutting down."},
    {0x80100020u, u"No primary provider can be found for the smart card."},
    {0x80100021u, u"The requested order of object creation is not supported."},
    {0x80100022u, u"The smart card does not support the requested feature."},
    {0x80100023u, u"The directory does not exist on the smart card."},
    {0x80100024u, u"The file does not exist on the smart card."},
    {0x80100025u, u"The path is not a directory."},
    {0x80100026u, u"The path is not a file."},
    {0x80100027u, u"Access to the file was denied."},
    {0x80100028u, u"The smart card has no room left for the data."},
    {0x80100029u, u"The file pointer could not be set."},
    {0x8010002Au, u"The PIN is not valid."},
    {0x8010002Bu, u"An unknown resource manager error occurred."},
    {0x8010002Cu, u"The requested certificate does not exist."},
    {0x8010002Du, u"The requested certificate could not be obtained."},
    {0x8010002Fu, u"Communication with the smart card was lost."},
    {0x80100030u, u"The requested key container does not exist on the smart card."},
    {0x80100031u, u"The resource manager is too busy to complete the operation."},
    {0x8010006Bu, u"The card cannot be accessed because the wrong PIN was presented."},
    {0x8010006Cu, u"The card cannot be accessed because the PIN is blocked."},
    {0x8010006Du, u"The end of the smart card file was reached."},
    {0x8010006Eu, u"The action was cancelled by the user."},
    {0x8010006Fu, u"No PIN was presented to the smart card."},
};

static_assert(SortedById(kWin32Texts) && SortedById(kHResultTexts));

// pcsc-lite's text, or null when the library does not know the code.
const char* PcscText(std::uint32_t code) {
    const char* text = pcsc_stringify_error(static_cast<LONG>(code));
    static constexpr char kUnknown[] = "Unknown error";
    if (text == nullptr || text[0] == '\0' ||
        std::strncmp(text, kUnknown, sizeof kUnknown - 1) == 0) {
        return nullptr;
    }
    return text;
}

std::u16string WithoutLineBreaks(std::u16string text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

std::u16string Lookup(std::uint32_t code) {
    if ((code & 0xFFFF0000u) == 0x80100000u) {
        if (const char* text = PcscText(code)) {
            return Utf8ToUtf16(text);
        }
    }
    if (code <= 0xFFFFu) {
        if (const char16_t* text = FindText(kWin32Texts, code)) {
            return text;
        }
    } else if ((code & 0xFFFF0000u) == 0x80070000u) {
        if (const char16_t* text = FindText(kWin32Texts, code & 0xFFFFu)) {
            return text;
        }
    }
    if (const char16_t* text = FindText(kHResultTexts, code)) {
        return text;
    }
    return {};
}

}  // namespace

std::u16string SystemMessageText(std::uint32_t code) {
    std::u16string text = WithoutLineBreaks(Lookup(code));
    if (text.empty()) {
        return LoadString(20490);
    }
    return text;
}

}  // namespace Orvel
