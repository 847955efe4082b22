// Load and Store for callers that hold a block object as IUnknown and a model as CardBlock.
#include "carvix/blocks/models.h"
#include "carvix/com/block_handover.h"
#include "carvix/com/block_interfaces.h"

namespace carvix::com {
namespace {

template <class Iface>
struct Held {
    Iface* p = nullptr;
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (p != nullptr) {
            p->Release();
        }
    }
};

/// When `model` is a Model: asks the object for Iface and runs `call` with both.
template <class Model, class Iface, class BlockT, class Call>
bool TryAs(IUnknown* object, BlockT& model, HRESULT& hr, Call call) {
    auto* typed =
        dynamic_cast<std::conditional_t<std::is_const_v<BlockT>, const Model, Model>*>(&model);
    if (typed == nullptr) {
        return false;
    }
    Held<Iface> block;
    hr = object->QueryInterface(Iface::kIid, reinterpret_cast<void**>(&block.p));
    if (SUCCEEDED(hr) && block.p == nullptr) {
        hr = E_NOINTERFACE;
    }
    if (SUCCEEDED(hr)) {
        hr = call(block.p, *typed);
    }
    return true;
}

struct LoadCall {
    template <class Iface, class Model>
    HRESULT operator()(Iface* block, const Model& model) const {
        return LoadBlock(block, model);
    }
};

struct StoreCall {
    template <class Iface, class Model>
    HRESULT operator()(Iface* block, Model& model) const {
        if constexpr (requires { block->Store(nullptr); }) {
            return StoreBlock(block, model);
        } else {
            return E_NOINTERFACE;  // a get-only block cannot be stored
        }
    }
};

template <class BlockT, class Call>
HRESULT Dispatch(IUnknown* object, BlockT& model, Call call) {
    if (object == nullptr) {
        return E_INVALIDARG;
    }
    HRESULT hr = E_INVALIDARG;  // a model of no block class
    (void)(TryAs<VLDocumentModel, IVLDocumentBlock>(object, model, hr, call) ||
           TryAs<VLFixedPersoModel, IVLFixedPersoBlock>(object, model, hr, call) ||
           TryAs<VLPhotoModel, IVLPhotoBlock>(object, model, hr, call) ||
           TryAs<VLVariablePersoModel, IVLVariablePersoBlock>(object, model, hr, call) ||
           TryAs<VLContactlessModel, IVLContactlessBlock>(object, model, hr, call) ||
           TryAs<ZKDocumentModel, IZKDocumentBlock>(object, model, hr, call) ||
           TryAs<ZKFixedAdminModel, IZKFixedAdminBlock>(object, model, hr, call) ||
           TryAs<ZKFixedPersoModel, IZKFixedPersoBlock>(object, model, hr, call) ||
           TryAs<ZKVariableAdminModel, IZKVariableAdminBlock>(object, model, hr, call) ||
           TryAs<ZKVariablePersoModel, IZKVariablePersoBlock>(object, model, hr, call));
    return hr;
}

}  // namespace

HRESULT LoadBlockObject(IUnknown* object, const CardBlock& model) {
    return Dispatch(object, model, LoadCall{});
}

HRESULT StoreBlockObject(IUnknown* object, CardBlock& model) {
    return Dispatch(object, model, StoreCall{});
}

}  // namespace carvix::com
