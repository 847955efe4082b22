#include "smartcard_service.h"

#include "card_checks.h"
#include "reader_select_dialog.h"

#include "carvix/automation/oleauto.h"
#include "carvix/automation/scoped.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/pcsc_context.h"
#include "carvix/support/unicode.h"

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

std::vector<std::u16string> SystemReaderNames() {
    Orvel::PCSC::PCSCContext context(Orvel::PCSC::kScopeUser);
    std::vector<std::u16string> readers = context.ListReaders();
    context.Release();
    return readers;
}

// Why a selection ended without a reader when there was no chooser to ask: several readers
// qualified, or none did and nobody could be asked to wait; and how a program gets a chooser.
std::u16string NobodyToAsk(std::size_t qualified) {
    const std::u16string how =
        u" Name the reader, or install a reader chooser (CarvixSetReaderChooser in the host "
        u"program, set_reader_chooser in Python) or run in a desktop session, where the carvix "
        u"dialog asks.";
    if (qualified == 0) {
        return u"No reader holds a suitable card, and no reader chooser is installed that could "
               u"wait for one: insert the card and try again." +
               how;
    }
    return u"Several readers (" + Orvel::Utf8ToUtf16(std::to_string(qualified)) +
           u") hold a suitable card, and no reader chooser is installed to ask which one." + how;
}

HRESULT SelectReaderWith(BSTR* bsReaderName, CardCheck check, const std::u16string& title) {
    if (bsReaderName == nullptr) {
        return E_INVALIDARG;
    }
    return Guarded(FailurePolicy::Plain, [&] {
        ReaderSelection selection;
        {
            Orvel::PCSC::PCSCContext context(Orvel::PCSC::kScopeSystem);
            ReaderSelectDialog dialog(context, std::move(check), title);
            selection = dialog.Run();
            context.Release();
        }
        const std::u16string& name = selection.readerName;
        if (selection.nobodyAskedAmong) {
            // Still the cancel code callers test for, but with the reason: nobody cancelled.
            return Fail(kCancelled, NobodyToAsk(*selection.nobodyAskedAmong));
        }
        if (name.empty()) {
            return kCancelled;  // the out BSTR stays as the caller left it
        }
        BSTR text = SysAllocStringLen(name.data(), static_cast<std::uint32_t>(name.size()));
        if (text == nullptr) {
            return E_OUTOFMEMORY;
        }
        *bsReaderName = text;
        return S_OK;
    });
}

HRESULT SmartCardService::SelectReader(BSTR* bsReaderName) {
    return SelectReaderWith(bsReaderName, &ContactCardCheck,
                            u"Choose the reader that holds the identity card");
}

HRESULT SmartCardService::SelectContactlessReader(BSTR* bsReaderName) {
    return SelectReaderWith(bsReaderName, &ContactlessCardCheck,
                            u"Choose the reader that holds the contactless card");
}

HRESULT SmartCardService::ListReaders(VARIANT* pReaders) {
    if (pReaders == nullptr) {
        return E_INVALIDARG;
    }
    std::vector<std::u16string> names;
    const HRESULT listed = Guarded(FailurePolicy::Plain, [&] {
        try {
            names = SystemReaderNames();
        } catch (const Orvel::PCSC::PCSCWin32Exception&) {
            // A resource manager that cannot be asked has no readers to offer.
            names.clear();
        }
        return S_OK;
    });
    if (FAILED(listed)) {
        return listed;
    }
    // An empty list is an empty array, never a missing one: scripts can always take its
    // bounds and walk it.
    ca::ScopedSafeArray array(
        SafeArrayCreateVector(VT_VARIANT, 0, static_cast<std::uint32_t>(names.size())));
    if (!array) {
        return E_OUTOFMEMORY;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        ca::ScopedVariant item;
        item->vt = VT_BSTR;
        if (!names[i].empty()) {
            item->bstrVal =
                SysAllocStringLen(names[i].data(), static_cast<std::uint32_t>(names[i].size()));
            if (item->bstrVal == nullptr) {
                return E_OUTOFMEMORY;
            }
        }
        const std::int32_t index = static_cast<std::int32_t>(i);
        const HRESULT hr = SafeArrayPutElement(array.Get(), &index, item.Get());  // copies it
        if (FAILED(hr)) {
            return hr;
        }
    }
    const HRESULT cleared = VariantClear(pReaders);
    if (FAILED(cleared)) {
        return cleared;
    }
    pReaders->vt = static_cast<VARTYPE>(VT_ARRAY | VT_VARIANT);
    pReaders->parray = array.Detach();
    return S_OK;
}

}  // namespace carvix::com
