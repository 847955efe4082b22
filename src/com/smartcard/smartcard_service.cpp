#include "smartcard_service.h"

#include "carvix/automation/oleauto.h"
#include "carvix/support/pcsc_call.h"
#include "carvix/support/pcsc_context.h"
#include "carvix/support/text.h"

#include <PCSC/winscard.h>

#include <memory>

namespace carvix::com {

namespace ca = automation;

inline constexpr ca::MemberDesc kSmartCardMembers[] = {
    ca::Method<&ISmartCardService::SelectReader>(1, u"SelectReader", {u"bsReaderName"},
                                                 u"Returns name of the selected smart card reader"),
    ca::Method<&ISmartCardService::SelectContactlessReader>(
        2, u"SelectContactlessReader", {u"bsReaderName"},
        u"Returns name of the selected contactless smart card reader"),
    ca::Method<&ISmartCardService::ListReaders>(
        3, u"ListReaders", {{u"pReaders", ca::kParamOut | ca::kParamRetval}},
        u"Returns list of the readers available on the system"),
};

const ca::InterfaceDesc kSmartCardServiceDesc{u"ISmartCardService", kIidISmartCardService,
                                              u"ISmartCardService Interface", kSmartCardMembers};

namespace {

constexpr std::uint32_t kNoReadersAvailable = 0x8010002Eu;
constexpr std::uint32_t kNoService = 0x8010001Du;
constexpr std::uint32_t kServiceStopped = 0x8010001Eu;

struct SafeArrayDeleter {
    void operator()(SAFEARRAY* array) const noexcept { SafeArrayDestroy(array); }
};
using SafeArrayPtr = std::unique_ptr<SAFEARRAY, SafeArrayDeleter>;

// Frees the resource manager's buffer; the result is judged by the caller.
struct ReaderBuffer {
    SCARDCONTEXT context = 0;
    LPSTR names = nullptr;
    ReaderBuffer() = default;
    ReaderBuffer(const ReaderBuffer&) = delete;
    ReaderBuffer& operator=(const ReaderBuffer&) = delete;
    ~ReaderBuffer() noexcept {
        if (names != nullptr) {
            SCardFreeMemory(context, names);
        }
    }
    LONG Free() noexcept {
        const LONG rv = SCardFreeMemory(context, names);
        names = nullptr;
        return rv;
    }
};

}  // namespace

std::vector<std::u16string> SystemReaderNames() {
    namespace pcsc = Orvel::PCSC;
    std::vector<std::u16string> readers;
    pcsc::PCSCContext context(pcsc::kScopeUser);
    ReaderBuffer buffer;
    buffer.context = context.Handle();
    DWORD length = SCARD_AUTOALLOCATE;
    const std::uint32_t code = pcsc::detail::Code(SCardListReaders(
        context.Handle(), nullptr, reinterpret_cast<LPSTR>(&buffer.names), &length));
    if (code == kNoReadersAvailable || code == kNoService || code == kServiceStopped) {
        buffer.names = nullptr;
        context.Release();
        return readers;
    }
    if (code != pcsc::kSuccess) {
        buffer.names = nullptr;
        throw pcsc::PCSCWin32Exception("SCardListReaders", code);
    }
    // A multi-string: names ending in NUL, the list ending in an empty name. The reported
    // length bounds the walk, so a buffer without its final NUL is not overrun.
    if (buffer.names != nullptr) {
        const char* p = buffer.names;
        const char* end = buffer.names + length;
        while (p < end && *p != '\0') {
            std::size_t n = 0;
            while (p + n < end && p[n] != '\0') {
                ++n;
            }
            readers.push_back(Orvel::Utf8ToUtf16(std::string_view(p, n)));
            p += n + 1;
        }
        pcsc::detail::Check("SCardFreeMemory", buffer.Free());
    }
    context.Release();
    return readers;
}

HRESULT SmartCardService::SelectReader(BSTR* bsReaderName) {
    return bsReaderName == nullptr ? E_INVALIDARG : E_NOTIMPL;
}

HRESULT SmartCardService::SelectContactlessReader(BSTR* bsReaderName) {
    return bsReaderName == nullptr ? E_INVALIDARG : E_NOTIMPL;
}

HRESULT SmartCardService::ListReaders(VARIANT* pReaders) {
    if (pReaders == nullptr) {
        return E_INVALIDARG;
    }
    std::vector<std::u16string> names;
    try {
        names = SystemReaderNames();
    } catch (const Orvel::PCSC::PCSCWin32Exception&) {
        // A resource manager that cannot be asked has no readers to offer.
        names.clear();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
    // An empty list is an empty array, never a missing one: scripts can always take its
    // bounds and walk it.
    SafeArrayPtr array(
        SafeArrayCreateVector(VT_VARIANT, 0, static_cast<std::uint32_t>(names.size())));
    if (array == nullptr) {
        return E_OUTOFMEMORY;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        VARIANT item;
        VariantInit(&item);
        item.vt = VT_BSTR;
        item.bstrVal = nullptr;
        if (!names[i].empty()) {
            item.bstrVal =
                SysAllocStringLen(names[i].data(), static_cast<std::uint32_t>(names[i].size()));
            if (item.bstrVal == nullptr) {
                return E_OUTOFMEMORY;
            }
        }
        const std::int32_t index = static_cast<std::int32_t>(i);
        const HRESULT hr = SafeArrayPutElement(array.get(), &index, &item);  // copies the item
        VariantClear(&item);
        if (FAILED(hr)) {
            return hr;
        }
    }
    const HRESULT cleared = VariantClear(pReaders);
    if (FAILED(cleared)) {
        return cleared;
    }
    pReaders->vt = static_cast<VARTYPE>(VT_ARRAY | VT_VARIANT);
    pReaders->parray = array.release();
    return S_OK;
}

}  // namespace carvix::com
