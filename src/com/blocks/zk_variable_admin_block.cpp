#include "zk_variable_admin_block.h"

#include "block_object.h"
#include "carvix/automation/oleauto.h"
#include "carvix/com/module.h"

#include <vector>

namespace carvix::com {
namespace {

namespace ca = automation;
using Iface = IZKVariableAdminBlock;
using Model = ZKVariableAdminModel;

constexpr ca::MemberDesc VoluntaryInsurancesGetter() {
    const ca::ParamName names[] = {{u"pVal", ca::kParamOut | ca::kParamRetval}};
    return ca::detail::Build<&Iface::get_VoluntaryInsurances>(3, ca::MemberKind::PropertyGet,
                                                              u"VoluntaryInsurances", names, 1,
                                                              u"property VoluntaryInsurances");
}

constexpr std::array<ca::MemberDesc, 2> kListMembers = {
    VoluntaryInsurancesGetter(), ca::PropPut<&Iface::put_VoluntaryInsurances>(
                                     3, u"VoluntaryInsurances", u"property VoluntaryInsurances")};

// The type library has always spelled these two help strings this way; clients may show them.
constexpr auto kMembers =
    WithHelp(WithHelp(BlockMembers<Iface>(kListMembers), 7, u"property BookletIssurerCode"), 8,
             u"property BookletIssurerCodeSpecified");

/// The records of the array's elements, in index order.
HRESULT CollectRecords(SAFEARRAY* array, std::vector<VoluntaryInsuranceRecord>& records) {
    if (SafeArrayGetDim(array) != 1) {
        return E_INVALIDARG;
    }
    std::int32_t lower = 0;
    std::int32_t upper = -1;
    HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
    if (SUCCEEDED(hr)) {
        hr = SafeArrayGetUBound(array, 1, &upper);
    }
    if (FAILED(hr)) {
        return hr;
    }
    const std::int64_t count = std::int64_t{upper} - lower + 1;
    if (count > 0 && lower != 0) {
        return E_INVALIDARG;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        ca::ScopedVariant element;
        hr = SafeArrayGetElement(array, &i, element.Get());
        if (FAILED(hr)) {
            return hr;
        }
        const VARTYPE vt = element->vt;
        if ((vt != VT_DISPATCH && vt != VT_UNKNOWN) || element->punkVal == nullptr) {
            return E_INVALIDARG;  // only objects can be voluntary insurances
        }
        VoluntaryInsuranceRecord record;
        hr = StoreBlock(element->punkVal, record);
        if (FAILED(hr)) {
            return hr;  // E_NOINTERFACE: not a VoluntaryInsurance of this module
        }
        records.push_back(std::move(record));
    }
    return S_OK;
}

}  // namespace

const ca::InterfaceDesc kZKVariableAdminBlockDesc = BlockInterfaceDesc<Iface>(kMembers);

HRESULT ZKVariableAdminBlock::AppendInsurance(IDispatch* insurance) noexcept {
    std::int32_t index = 0;
    if (!insurances_) {
        insurances_.Reset(SafeArrayCreateVector(VT_VARIANT, 0, 1));
        if (!insurances_) {
            return E_OUTOFMEMORY;
        }
    } else {
        std::int32_t upper = -1;
        HRESULT hr = SafeArrayGetUBound(insurances_.Get(), 1, &upper);
        if (FAILED(hr)) {
            return hr;
        }
        index = upper + 1;
        const SAFEARRAYBOUND grown{static_cast<std::uint32_t>(index) + 1, 0};
        hr = SafeArrayRedim(insurances_.Get(), &grown);
        if (FAILED(hr)) {
            return hr;
        }
    }
    VARIANT element;
    VariantInit(&element);
    element.vt = VT_DISPATCH;
    element.pdispVal = insurance;
    return SafeArrayPutElement(insurances_.Get(), &index, &element);  // adds its own reference
}

HRESULT ZKVariableAdminBlock::LoadModel(const CardBlock& model) {
    const Model* typed = ModelAs<const Model>(model);
    if (typed == nullptr) {
        return E_INVALIDARG;
    }
    HRESULT hr = S_OK;
    const HRESULT copied = CopyFields([&] {
        insurances_.Reset();
        if (!typed->VoluntaryInsurances.IsNull()) {
            for (const VoluntaryInsuranceRecord& record : typed->VoluntaryInsurances.GetValue()) {
                ca::ComPtr<IVoluntaryInsurance> insurance;
                hr = CreateObject(kClsidVoluntaryInsurance, IVoluntaryInsurance::kIid,
                                  insurance.PutVoid());
                if (SUCCEEDED(hr)) {
                    hr = LoadBlock(insurance.Get(), record);
                }
                if (SUCCEEDED(hr)) {
                    hr = AppendInsurance(insurance.Get());
                }
                if (FAILED(hr)) {
                    return;
                }
            }
        }
        Fields().Load(*typed, FieldsOfOwner<Model>());
    });
    return FAILED(copied) ? copied : hr;
}

HRESULT ZKVariableAdminBlock::StoreModel(CardBlock& model) {
    Model* typed = ModelAs<Model>(model);
    if (typed == nullptr || !insurances_) {
        return E_INVALIDARG;
    }
    HRESULT hr = S_OK;
    const HRESULT copied = CopyFields([&] {
        // Walk a copy: an element's Store may call back into this object and replace the array.
        ca::ScopedSafeArray walk;
        hr = SafeArrayCopy(insurances_.Get(), walk.Put());
        std::vector<VoluntaryInsuranceRecord> records;
        if (SUCCEEDED(hr)) {
            hr = CollectRecords(walk.Get(), records);
        }
        if (FAILED(hr)) {
            return;
        }
        typed->VoluntaryInsurances.SetValue(std::move(records));
        Fields().Store(*typed, FieldsOfOwner<Model>());
    });
    return FAILED(copied) ? copied : hr;
}

HRESULT ZKVariableAdminBlock::get_VoluntaryInsurances(VARIANT* pVal) {
    if (pVal == nullptr) {
        return E_INVALIDARG;
    }
    VariantClear(pVal);
    if (!insurances_) {
        return E_INVALIDARG;
    }
    ca::ScopedSafeArray copy;
    const HRESULT hr = SafeArrayCopy(insurances_.Get(), copy.Put());
    if (FAILED(hr)) {
        return hr;
    }
    pVal->vt = VT_ARRAY | VT_VARIANT;
    pVal->parray = copy.Detach();
    return S_OK;
}

HRESULT ZKVariableAdminBlock::put_VoluntaryInsurances(VARIANT* newVal) {
    if (newVal != nullptr && newVal->vt == (VT_BYREF | VT_VARIANT)) {
        newVal = newVal->pvarVal;
    }
    if (newVal == nullptr) {
        return E_INVALIDARG;
    }
    SAFEARRAY* given = nullptr;  // the caller's; copied below
    if (newVal->vt == VT_NULL) {
        insurances_.Reset();
        return S_OK;
    } else if (newVal->vt == (VT_ARRAY | VT_VARIANT)) {
        given = newVal->parray;
    } else if (newVal->vt == (VT_BYREF | VT_ARRAY | VT_VARIANT)) {
        given = newVal->pparray != nullptr ? *newVal->pparray : nullptr;
    } else {
        return E_INVALIDARG;
    }
    VARTYPE elementType = VT_EMPTY;
    if (given == nullptr || FAILED(SafeArrayGetVartype(given, &elementType)) ||
        elementType != VT_VARIANT) {
        return E_INVALIDARG;
    }
    ca::ScopedSafeArray copy;
    const HRESULT hr = SafeArrayCopy(given, copy.Put());
    if (FAILED(hr)) {
        return hr;
    }
    insurances_ = std::move(copy);
    return S_OK;
}

}  // namespace carvix::com
