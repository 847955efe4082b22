#include "zk_variable_admin_block.h"

#include "block_classes.h"
#include "carvix/automation/oleauto.h"
#include "carvix/blocks/zk_models.h"

#include <vector>

namespace carvix::com {
namespace {

using Iface = IZKVariableAdminBlock;
using Model = ZKVariableAdminModel;

constexpr automation::MemberDesc VoluntaryInsurancesGetter() {
    const automation::ParamName names[] = {
        {u"pVal", automation::kParamOut | automation::kParamRetval}};
    return automation::detail::Build<&Iface::get_VoluntaryInsurances>(
        3, automation::MemberKind::PropertyGet, u"VoluntaryInsurances", names, 1,
        u"property VoluntaryInsurances");
}

constexpr automation::MemberDesc kRawMembers[] = {
    LoadMember<Iface>(kLoadHelp), StoreMember<Iface>(kStoreHelp), VoluntaryInsurancesGetter(),
    automation::PropPut<&Iface::put_VoluntaryInsurances>(3, u"VoluntaryInsurances",
                                                         u"property VoluntaryInsurances"),
    CARVIX_ZK_VARIABLE_ADMIN_FIELDS(CARVIX_DESCRIBE_GET_PUT)};

// The type library has always spelled these two help strings this way; clients may show them.
constexpr auto kMembers =
    WithHelp(WithHelp(std::to_array(kRawMembers), 7, u"property BookletIssurerCode"), 8,
             u"property BookletIssurerCodeSpecified");

constexpr FieldBinding<Model> kBindings[] = {CARVIX_ZK_VARIABLE_ADMIN_FIELDS(CARVIX_BIND_FIELD)};

/// Owns a SAFEARRAY until released.
struct ArrayHolder {
    SAFEARRAY* array = nullptr;
    ArrayHolder() = default;
    ArrayHolder(const ArrayHolder&) = delete;
    ArrayHolder& operator=(const ArrayHolder&) = delete;
    ~ArrayHolder() {
        if (array != nullptr) {
            SafeArrayDestroy(array);
        }
    }
};

/// Owns a VARIANT's content.
struct VariantHolder {
    VARIANT value;
    VariantHolder() { VariantInit(&value); }
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;
    ~VariantHolder() { VariantClear(&value); }
};

/// Releases an interface pointer at the end of a scope.
template <class I>
struct Released {
    I* p = nullptr;
    Released() = default;
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;
    ~Released() {
        if (p != nullptr) {
            p->Release();
        }
    }
};

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
        VariantHolder element;
        hr = SafeArrayGetElement(array, &i, &element.value);
        if (FAILED(hr)) {
            return hr;
        }
        const VARTYPE vt = element.value.vt;
        if ((vt != VT_DISPATCH && vt != VT_UNKNOWN) || element.value.punkVal == nullptr) {
            return E_INVALIDARG;  // only objects can be voluntary insurances
        }
        Released<IVoluntaryInsurance> insurance;
        hr = element.value.punkVal->QueryInterface(IVoluntaryInsurance::kIid,
                                                   reinterpret_cast<void**>(&insurance.p));
        if (FAILED(hr)) {
            return hr;
        }
        if (insurance.p == nullptr) {
            return E_NOINTERFACE;
        }
        VoluntaryInsuranceRecord record;
        hr = StoreBlock(insurance.p, record);
        if (FAILED(hr)) {
            return hr;
        }
        records.push_back(std::move(record));
    }
    return S_OK;
}

}  // namespace

const automation::InterfaceDesc kZKVariableAdminBlockDesc{
    u"IZKVariableAdminBlock", kIidIZKVariableAdminBlock, u"IZKVariableAdminBlock Interface",
    kMembers};

ZKVariableAdminBlock::~ZKVariableAdminBlock() {
    if (insurances_ != nullptr) {
        SafeArrayDestroy(insurances_);
    }
}

HRESULT ZKVariableAdminBlock::AppendInsurance(IDispatch* insurance) noexcept {
    std::int32_t index = 0;
    if (insurances_ == nullptr) {
        insurances_ = SafeArrayCreateVector(VT_VARIANT, 0, 1);
        if (insurances_ == nullptr) {
            return E_OUTOFMEMORY;
        }
    } else {
        std::int32_t upper = -1;
        HRESULT hr = SafeArrayGetUBound(insurances_, 1, &upper);
        if (FAILED(hr)) {
            return hr;
        }
        index = upper + 1;
        const SAFEARRAYBOUND grown{static_cast<std::uint32_t>(index) + 1, 0};
        hr = SafeArrayRedim(insurances_, &grown);
        if (FAILED(hr)) {
            return hr;
        }
    }
    VARIANT element;
    VariantInit(&element);
    element.vt = VT_DISPATCH;
    element.pdispVal = insurance;
    return SafeArrayPutElement(insurances_, &index, &element);  // adds its own reference
}

HRESULT ZKVariableAdminBlock::Load(VARIANT* pData) {
    const Model* model = ResolveModelForLoad<Model>(pData);
    if (model == nullptr) {
        return E_INVALIDARG;
    }
    try {
        if (insurances_ != nullptr) {
            SafeArrayDestroy(insurances_);
            insurances_ = nullptr;
        }
        if (!model->VoluntaryInsurances.IsNull()) {
            for (const VoluntaryInsuranceRecord& record : model->VoluntaryInsurances.GetValue()) {
                Released<IVoluntaryInsurance> insurance;
                HRESULT hr = Create<VoluntaryInsurance>(nullptr, IVoluntaryInsurance::kIid,
                                                        reinterpret_cast<void**>(&insurance.p));
                if (SUCCEEDED(hr)) {
                    hr = LoadBlock(insurance.p, record);
                }
                if (SUCCEEDED(hr)) {
                    hr = AppendInsurance(insurance.p);
                }
                if (FAILED(hr)) {
                    return hr;
                }
            }
        }
        fields_.Load(*model, std::span<const FieldBinding<Model>>(kBindings));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ZKVariableAdminBlock::Store(VARIANT* pData) {
    Model* model = ResolveModelForStore<Model>(pData);
    if (model == nullptr || insurances_ == nullptr) {
        return E_INVALIDARG;
    }
    try {
        // Walk a copy: an element's Store may call back into this object and replace the array.
        ArrayHolder walk;
        HRESULT hr = SafeArrayCopy(insurances_, &walk.array);
        if (FAILED(hr)) {
            return hr;
        }
        std::vector<VoluntaryInsuranceRecord> records;
        hr = CollectRecords(walk.array, records);
        if (FAILED(hr)) {
            return hr;
        }
        model->VoluntaryInsurances.SetValue(std::move(records));
        fields_.Store(*model, std::span<const FieldBinding<Model>>(kBindings));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT ZKVariableAdminBlock::get_VoluntaryInsurances(VARIANT* pVal) {
    if (pVal == nullptr) {
        return E_INVALIDARG;
    }
    VariantClear(pVal);
    if (insurances_ == nullptr) {
        return E_INVALIDARG;
    }
    SAFEARRAY* copy = nullptr;
    const HRESULT hr = SafeArrayCopy(insurances_, &copy);
    if (FAILED(hr)) {
        return hr;
    }
    pVal->vt = VT_ARRAY | VT_VARIANT;
    pVal->parray = copy;
    return S_OK;
}

HRESULT ZKVariableAdminBlock::put_VoluntaryInsurances(VARIANT* newVal) {
    if (newVal != nullptr && newVal->vt == (VT_BYREF | VT_VARIANT)) {
        newVal = newVal->pvarVal;
    }
    if (newVal == nullptr) {
        return E_INVALIDARG;
    }
    SAFEARRAY* given = nullptr;
    if (newVal->vt == VT_NULL) {
        if (insurances_ != nullptr) {
            SafeArrayDestroy(insurances_);
            insurances_ = nullptr;
        }
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
    SAFEARRAY* copy = nullptr;
    const HRESULT hr = SafeArrayCopy(given, &copy);
    if (FAILED(hr)) {
        return hr;
    }
    if (insurances_ != nullptr) {
        SafeArrayDestroy(insurances_);
    }
    insurances_ = copy;
    return S_OK;
}

}  // namespace carvix::com
