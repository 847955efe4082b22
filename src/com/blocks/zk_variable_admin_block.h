// CARVIX.ZKVXAdminBlock: the variable administrative block, whose voluntary-insurance list is
// held as a SAFEARRAY of VoluntaryInsurance objects that scripts read, edit and replace.
#pragma once

#include "block_macros.h"
#include "carvix/com/block_interfaces.h"

namespace carvix::com {

extern const automation::InterfaceDesc kZKVariableAdminBlockDesc;

class ZKVariableAdminBlock final : public CoClass<ZKVariableAdminBlock, IZKVariableAdminBlock,
                                                  kZKVariableAdminBlockDesc, ObjectSafety> {
  public:
    ~ZKVariableAdminBlock();

    /// Replaces the array with one new VoluntaryInsurance per record of the model's list (no
    /// array for an absent or empty list), then copies the other fields.
    HRESULT Load(VARIANT* pData) override;
    /// Builds the model's list from the array's elements (each one's own Store), then copies
    /// the other fields. E_INVALIDARG, with the model unchanged, when there is no array, when
    /// it has more than one dimension or a lower bound other than 0, or when an element holds
    /// no object.
    HRESULT Store(VARIANT* pData) override;
    HRESULT get_VoluntaryInsurances(VARIANT* pVal) override;
    HRESULT put_VoluntaryInsurances(VARIANT* newVal) override;

    CARVIX_BLOCK_FIELDS(CARVIX_ZK_VARIABLE_ADMIN_FIELDS, CARVIX_IMPLEMENT_GET_PUT)

  private:
    HRESULT AppendInsurance(IDispatch* insurance) noexcept;

    SAFEARRAY* insurances_ = nullptr;  // VT_VARIANT elements, each VT_DISPATCH; or none
};

}  // namespace carvix::com
