#include "wholecard/whole_card_service.h"

#include "carvix/automation/oleauto.h"
#include "carvix/automation/scoped.h"
#include "carvix/blocks/card_block.h"
#include "carvix/card/card_applet.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/com/model_transfer.h"
#include "carvix/com/module.h"
#include "carvix/com/signer_trust_service.h"
#include "wholecard/read_application.h"

#include <new>
#include <string>

namespace carvix::com {

namespace ca = automation;

inline constexpr ca::MemberDesc kWholeCardMembers[] = {
    ca::Method<&IWholeCardService::ReadApplication>(
        1, u"ReadApplication",
        {u"bsReaderName", u"uwAppID", {u"pBlocks", ca::kParamOut | ca::kParamRetval}},
        u"Reads every block of the application in one card transaction; returns the block "
        u"objects"),
};

const ca::InterfaceDesc kWholeCardServiceDesc{u"IWholeCardService", kIidIWholeCardService,
                                              u"IWholeCardService Interface", kWholeCardMembers};

namespace {

// The block object of `method`'s interface loaded from the read block, with its signer.
HRESULT BlockObject(const ReadMethod& method, ApplicationBlock& block, IDispatch** out) {
    const ClassEntry* blockClass = FindClassOf(method.iid);
    if (blockClass == nullptr) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    ca::ComPtr<IDispatch> object;
    const HRESULT created = CreateObject(blockClass->clsid, IID_IDispatch, object.PutVoid());
    if (FAILED(created) || !object) {
        return FAILED(created) ? created : E_NOINTERFACE;
    }
    HRESULT loaded = E_FAIL;
    try {
        loaded = LoadBlock(object.Get(), static_cast<const CardBlock&>(*block.model));
    } catch (...) {
        loaded = E_FAIL;  // a model that cannot give its values; never escapes the call
    }
    if (FAILED(loaded)) {
        return loaded;
    }
    AttachSigner(object.Get(), std::move(block.signer));
    *out = object.Detach();
    return S_OK;
}

}  // namespace

HRESULT WholeCardService::ReadApplication(BSTR bsReaderName, std::uint16_t uwAppID,
                                          VARIANT* pBlocks) {
    const std::span<const ReadMethod> methods = BlocksOfApplication(uwAppID);
    const std::uint32_t length = SysStringLen(bsReaderName);
    if (pBlocks == nullptr || length == 0 || methods.empty()) {
        return E_INVALIDARG;
    }
    return Guarded(FailurePolicy::Document, [&]() -> HRESULT {
        const std::u16string reader(bsReaderName, length);
        std::vector<ApplicationBlock> blocks;
        std::unique_ptr<CardApplet> applet;
        // The card is held from the open to the close: every block and SOD in one
        // transaction, and the card free again before the objects are built.
        applet = CardApplet::OpenForRead(reader, uwAppID, CardApplet::Hold::UntilClose);
        blocks = ReadApplicationBlocks(*applet, methods);
        CardApplet::Close(std::move(applet));
        // Each block's failure travels as its code in the array; the call itself succeeded,
        // so no block's message stays behind as the thread's error object.
        SetErrorInfo(0, nullptr);

        ca::ScopedSafeArray array(
            SafeArrayCreateVector(VT_VARIANT, 0, static_cast<std::uint32_t>(blocks.size())));
        if (!array) {
            return E_OUTOFMEMORY;
        }
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            ca::ScopedVariant item;
            HRESULT result = blocks[i].result;
            if (SUCCEEDED(result)) {
                IDispatch* object = nullptr;
                result = BlockObject(methods[i], blocks[i], &object);
                if (SUCCEEDED(result)) {
                    item->vt = VT_DISPATCH;
                    item->pdispVal = object;
                }
            }
            if (FAILED(result)) {
                item->vt = VT_ERROR;
                item->scode = result;
            }
            const std::int32_t index = static_cast<std::int32_t>(i);
            const HRESULT put = SafeArrayPutElement(array.Get(), &index, item.Get());  // copies
            if (FAILED(put)) {
                return put;
            }
        }
        const HRESULT cleared = VariantClear(pBlocks);
        if (FAILED(cleared)) {
            return cleared;
        }
        pBlocks->vt = static_cast<VARTYPE>(VT_ARRAY | VT_VARIANT);
        pBlocks->parray = array.Detach();
        return S_OK;
    });
}

}  // namespace carvix::com
