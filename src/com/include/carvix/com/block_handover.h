// Handing a block model to a block object's Load or Store inside the process.
//
// Load and Store are declared with a VARIANT* parameter, and scripts reach them through
// IDispatch like any member. A script's VARIANT must never be read as a model, so a model is
// never passed by address. Instead the caller registers the model for the length of the call
// and passes a private tagged VARIANT that carries only a random token:
//
//     VLDocumentModel model;                 // filled and verified from the card
//     IVLDocumentBlock* block = ...;         // created with CreateInProcess
//     HRESULT hr = LoadBlock(block, model);  // or, spelled out:
//     {
//         ModelHandOver handOver(model);     // registers {token -> &model, its type}
//         hr = block->Load(handOver.Arg());  // the object resolves the token
//     }                                      // unregistered: the token is dead
//
// The object looks the token up in a process-wide table of live hand-overs and uses the
// model only when the token is live and registered for the model type it expects (and, for
// Store, when the model was handed over writable). Anything else - a script's VARIANT, a
// forged tag, a stale token, a model of another block, a raw model address - is refused with
// E_INVALIDARG and never dereferenced. IDispatch::Invoke refuses Load and Store outright.
//
// The table lives in the module (carvix-qx.so). Block objects must therefore be created by
// the module itself (CreateInProcess below), not through registry activation, which could
// load a second copy of the module with a table of its own.
#pragma once

#include "carvix/automation/types.h"

#include <cstdint>

class CardBlock;

namespace carvix::com {

namespace detail {

/// One address per model type, compared to tell the types apart.
template <class Model>
inline constexpr char kModelTypeTag = 0;

std::uint64_t RegisterHandOver(const void* typeTag, void* model, bool writable);
void UnregisterHandOver(std::uint64_t token) noexcept;
/// The registered model, or nullptr when `arg` is no live hand-over of that type.
void* ResolveHandOver(const void* typeTag, const VARIANT* arg, bool forWriting) noexcept;

}  // namespace detail

/// The VARIANT type of a hand-over argument. It is no automation type: VariantCopy and
/// VariantChangeType refuse it, so it cannot travel anywhere else.
inline constexpr VARTYPE kHandOverVarType = 0x0F01;

/// Registers one model for the lifetime of the object (one Load or Store call). Not
/// copyable; the model must outlive it. A const model can be loaded from but not stored into.
class ModelHandOver {
  public:
    template <class Model>
    explicit ModelHandOver(Model& model)
        : ModelHandOver(&detail::kModelTypeTag<Model>, &model, true) {}
    template <class Model>
    explicit ModelHandOver(const Model& model)
        : ModelHandOver(&detail::kModelTypeTag<Model>, const_cast<Model*>(&model), false) {}
    ~ModelHandOver() { detail::UnregisterHandOver(token_); }
    ModelHandOver(const ModelHandOver&) = delete;
    ModelHandOver& operator=(const ModelHandOver&) = delete;

    /// The argument for Load or Store.
    VARIANT* Arg() noexcept { return &arg_; }

  private:
    ModelHandOver(const void* typeTag, void* model, bool writable);

    std::uint64_t token_;
    VARIANT arg_;
};

/// For the block objects: the model `arg` hands over, or nullptr (answer E_INVALIDARG).
template <class Model>
Model* ResolveModelForLoad(const VARIANT* arg) noexcept {
    return static_cast<Model*>(detail::ResolveHandOver(&detail::kModelTypeTag<Model>, arg, false));
}
template <class Model>
Model* ResolveModelForStore(const VARIANT* arg) noexcept {
    return static_cast<Model*>(detail::ResolveHandOver(&detail::kModelTypeTag<Model>, arg, true));
}

/// block->Load with `model` handed over for the call.
template <class Block, class Model>
HRESULT LoadBlock(Block* block, const Model& model) {
    ModelHandOver handOver(model);
    return block->Load(handOver.Arg());
}

/// block->Store into `model`, handed over for the call.
template <class Block, class Model>
HRESULT StoreBlock(Block* block, Model& model) {
    ModelHandOver handOver(model);
    return block->Store(handOver.Arg());
}

/// Load of any block object with the model of its block: the object is asked for the block
/// interface that matches the model's type. E_INVALIDARG for a null object or a model of no
/// block class; E_NOINTERFACE when the object is not the block class of the model.
HRESULT LoadBlockObject(IUnknown* object, const CardBlock& model);
/// Store of any writable block object into the (fresh) model of its block; errors as for
/// LoadBlockObject, and E_NOINTERFACE for a get-only block's model.
HRESULT StoreBlockObject(IUnknown* object, CardBlock& model);

/// Creates an object of a class the module serves, through the module's own object map (no
/// registry, no second copy of the module). CLASS_E_CLASSNOTAVAILABLE for an unknown class.
HRESULT CreateInProcess(REFCLSID clsid, REFIID riid, void** ppv);

}  // namespace carvix::com
