// CARVIX.ZKVXAdminBlock: the variable administrative block, whose voluntary-insurance list is
// held as a SAFEARRAY of VoluntaryInsurance objects that scripts read, edit and replace.
#pragma once

#include "carvix/automation/scoped.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/com/model_transfer.h"
#include "carvix/com/object.h"
#include "carvix/com/signer_trust_service.h"

namespace carvix::com {

extern const automation::InterfaceDesc kZKVariableAdminBlockDesc;

class ZKVariableAdminBlock final
    : public CoClass<ZKVariableAdminBlock, IZKVariableAdminBlock, kZKVariableAdminBlockDesc,
                     IModelTransfer<CardBlock>, SignerRecord, ObjectSafety> {
  public:
    /// Replaces the array with one new VoluntaryInsurance per record of the model's list (no
    /// array for an absent or empty list), then copies the other fields.
    HRESULT LoadModel(const CardBlock& model) override;
    /// Builds the model's list from the array's elements (each one's own StoreModel), then
    /// copies the other fields. E_INVALIDARG, with the model unchanged, when there is no
    /// array, when it has more than one dimension or a lower bound other than 0, or when an
    /// element holds no VoluntaryInsurance of this module.
    HRESULT StoreModel(CardBlock& model) override;
    HRESULT get_VoluntaryInsurances(VARIANT* pVal) override;
    HRESULT put_VoluntaryInsurances(VARIANT* newVal) override;

  private:
    HRESULT AppendInsurance(IDispatch* insurance) noexcept;

    automation::ScopedSafeArray insurances_;  // VT_VARIANT elements, each VT_DISPATCH; or none
};

}  // namespace carvix::com
