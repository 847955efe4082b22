// Handing a block model to a block object inside the process.
//
// The script-facing Load and Store take a VARIANT* and refuse everything (nothing a script
// can pass is a model). A service that has read a model from the card instead asks the block
// object it created for IModelTransfer, a private interface that IDispatch never exposes, and
// calls it with the model itself:
//
//     VLDocumentModel model;                       // filled and verified from the card
//     ComPtr<IUnknown> block = ...;                // created with CreateObject (module.h)
//     HRESULT hr = LoadBlock(block.Get(), model);  // IModelTransfer::LoadModel
//
// The write direction is the same call the other way round: the service makes an empty model
// and has the caller's block object fill it (StoreBlock). An object that is not one of this
// module's block classes has no IModelTransfer and is refused with E_NOINTERFACE.
#pragma once

#include "carvix/automation/interfaces.h"
#include "carvix/automation/scoped.h"
#include "carvix/blocks/card_block.h"
#include "carvix/blocks/insurance_list_element.h"

#include <type_traits>

namespace carvix::com {

/// The models of the card's blocks travel as CardBlock; a voluntary insurance as its record.
template <class Model>
using TransferBase = std::conditional_t<std::is_base_of_v<CardBlock, Model>, CardBlock, Model>;

template <class Base>
struct ModelTransferIid;
template <>
struct ModelTransferIid<CardBlock> {
    static constexpr IID kValue = {
        0x6B1D2E40, 0x3C5A, 0x4F17, {0x9A, 0x62, 0x0D, 0x4E, 0x81, 0x7C, 0x25, 0xB1}};
};
template <>
struct ModelTransferIid<VoluntaryInsuranceRecord> {
    static constexpr IID kValue = {
        0x6B1D2E41, 0x3C5A, 0x4F17, {0x9A, 0x62, 0x0D, 0x4E, 0x81, 0x7C, 0x25, 0xB1}};
};

/// The private in-process interface of the block objects.
template <class Base>
struct IModelTransfer : IUnknown {
    static constexpr const IID& kIid = ModelTransferIid<Base>::kValue;
    static constexpr const char16_t* kName = u"IModelTransfer";

    /// Copies the model's fields into the object. E_INVALIDARG, with the object unchanged,
    /// for a model of another block.
    virtual HRESULT LoadModel(const Base& model) = 0;
    /// Copies the object's fields into the model. E_INVALIDARG for a model of another block,
    /// E_NOINTERFACE on a get-only block.
    virtual HRESULT StoreModel(Base& model) = 0;

  protected:
    ~IModelTransfer() = default;
};

namespace detail {

template <class Base, class Call>
HRESULT WithTransfer(IUnknown* object, Call call) {
    if (object == nullptr) {
        return E_INVALIDARG;
    }
    automation::ComPtr<IModelTransfer<Base>> transfer;
    HRESULT hr = object->QueryInterface(IModelTransfer<Base>::kIid, transfer.PutVoid());
    if (FAILED(hr) || !transfer) {
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    return call(*transfer.Get());
}

}  // namespace detail

/// The object's LoadModel with `model`: E_INVALIDARG for a null object, E_NOINTERFACE for an
/// object that is no block object of this module.
template <class Model>
HRESULT LoadBlock(IUnknown* object, const Model& model) {
    return detail::WithTransfer<TransferBase<Model>>(
        object, [&](IModelTransfer<TransferBase<Model>>& t) { return t.LoadModel(model); });
}

/// The object's StoreModel into `model`; errors as for LoadBlock.
template <class Model>
HRESULT StoreBlock(IUnknown* object, Model& model) {
    return detail::WithTransfer<TransferBase<Model>>(
        object, [&](IModelTransfer<TransferBase<Model>>& t) { return t.StoreModel(model); });
}

}  // namespace carvix::com
