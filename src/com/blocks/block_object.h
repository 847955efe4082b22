// The class of every block object whose properties are plain fields: IUnknown, IDispatch and
// creation from CoClass, the accessors from the interface, and IModelTransfer, through which
// the services hand over the model (model_transfer.h), and the signer a read found
// (SignerRecord, signer_trust_service.h).
#pragma once

#include "block_members.h"
#include "carvix/com/block_fields.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/com/model_transfer.h"
#include "carvix/com/object.h"
#include "carvix/com/signer_trust_service.h"

#include <typeinfo>

namespace carvix::com {

/// Runs `copy` and turns what it throws into an HRESULT: none may cross the interface.
template <class Copy>
HRESULT CopyFields(Copy copy) noexcept {
    return Guarded(FailurePolicy::Plain, [&] {
        copy();
        return S_OK;
    });
}

/// `model` as Model when it is one (models are final classes), else nullptr.
template <class Model, class Base>
Model* ModelAs(Base& model) noexcept {
    return typeid(model) == typeid(Model) ? static_cast<Model*>(&model) : nullptr;
}

/// A block class: its members all follow from Iface; Extra are further interfaces
/// (ObjectSafety).
template <class Iface, class... Extra>
class BlockObject final
    : public CoClass<BlockObject<Iface, Extra...>, Iface, kBlockDesc<Iface>,
                     IModelTransfer<TransferBase<typename Iface::Model>>, SignerRecord, Extra...> {
  public:
    using Model = typename Iface::Model;
    using Base = TransferBase<Model>;

    HRESULT LoadModel(const Base& model) override {
        const Model* typed = ModelAs<const Model>(model);
        if (typed == nullptr) {
            return E_INVALIDARG;
        }
        return CopyFields([&] { this->Fields().Load(*typed, FieldsOfOwner<Model>()); });
    }

    HRESULT StoreModel(Base& model) override {
        if constexpr (!Iface::kWritable) {
            (void)model;
            return E_NOINTERFACE;  // a get-only block is never written back
        } else {
            Model* typed = ModelAs<Model>(model);
            if (typed == nullptr) {
                return E_INVALIDARG;
            }
            return CopyFields([&] { this->Fields().Store(*typed, FieldsOfOwner<Model>()); });
        }
    }
};

/// The object-map row of BlockObject<Iface, Extra...>.
template <class Iface, class... Extra>
ClassEntry BlockClassEntry(const char16_t* className, const char16_t* coclassName,
                           const CLSID& clsid, const char16_t* progIdStem, int scriptId) {
    constexpr bool kSafety = (std::is_same_v<Extra, ObjectSafety> || ...);
    return {className, coclassName,       clsid,   progIdStem,
            scriptId,  kBlockDesc<Iface>, kSafety, &Create<BlockObject<Iface, Extra...>>};
}

}  // namespace carvix::com
