// SAFEARRAY with the Windows layout. The element type lives in the four bytes before the
// structure; bounds are stored rightmost dimension first, so rgsabound[0] is the dimension
// that SafeArrayRedim changes, and rgIndices[0] (leftmost) varies fastest in memory.
#include "carvix/automation/oleauto.h"
#include "tracked.h"
#include "variant_internal.h"

#include <cstdlib>
#include <cstring>

using carvix::automation::detail::IsTracked;
using carvix::automation::detail::Kind;
using carvix::automation::detail::ValueSize;

namespace {

constexpr std::size_t kPrefix = 16;
constexpr std::uint64_t kMaxBytes = 1ull << 31;

VARTYPE TypeOf(const SAFEARRAY* psa) {
    std::uint32_t vt;
    std::memcpy(&vt, reinterpret_cast<const unsigned char*>(psa) - 4, sizeof vt);
    return static_cast<VARTYPE>(vt);
}

bool Valid(const SAFEARRAY* psa) {
    return IsTracked(Kind::SafeArray, psa);
}

std::uint64_t CountOf(const SAFEARRAY* psa) {
    std::uint64_t n = 1;
    for (std::uint16_t d = 0; d < psa->cDims; ++d) {
        n *= psa->rgsabound[d].cElements;
    }
    return n;
}

void ReleaseElements(SAFEARRAY* psa, std::uint64_t from, std::uint64_t to) {
    const VARTYPE vt = TypeOf(psa);
    auto* base = static_cast<unsigned char*>(psa->pvData);
    for (std::uint64_t i = from; i < to; ++i) {
        void* cell = base + i * psa->cbElements;
        if (vt == VT_BSTR) {
            SysFreeString(*static_cast<BSTR*>(cell));
        } else if (vt == VT_VARIANT) {
            VariantClear(static_cast<VARIANT*>(cell));
        } else if ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && *static_cast<IUnknown**>(cell)) {
            (*static_cast<IUnknown**>(cell))->Release();
        }
    }
}

SAFEARRAY* Allocate(VARTYPE vt, std::uint32_t cDims) {
    const std::uint32_t size = ValueSize(vt);
    if (size == 0 || cDims == 0 || cDims > 64) {
        return nullptr;
    }
    const std::size_t bytes = kPrefix + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<unsigned char*>(std::calloc(1, bytes));
    if (block == nullptr) {
        return nullptr;
    }
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kPrefix);
    const std::uint32_t vt32 = vt;
    std::memcpy(block + kPrefix - 4, &vt32, sizeof vt32);
    psa->cDims = static_cast<std::uint16_t>(cDims);
    psa->cbElements = size;
    psa->fFeatures =
        FADF_HAVEVARTYPE | (vt == VT_BSTR ? FADF_BSTR : 0) | (vt == VT_UNKNOWN ? FADF_UNKNOWN : 0) |
        (vt == VT_DISPATCH ? FADF_DISPATCH : 0) | (vt == VT_VARIANT ? FADF_VARIANT : 0);
    return psa;
}

void FreeHeader(SAFEARRAY* psa) {
    std::free(reinterpret_cast<unsigned char*>(psa) - kPrefix);
}

HRESULT AllocateData(SAFEARRAY* psa) {
    const std::uint64_t bytes = CountOf(psa) * psa->cbElements;
    if (bytes > kMaxBytes) {
        return E_OUTOFMEMORY;
    }
    psa->pvData = std::calloc(1, bytes == 0 ? 1 : bytes);
    return psa->pvData != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT Cell(SAFEARRAY* psa, const std::int32_t* rgIndices, void*& cell) {
    if (!Valid(psa) || rgIndices == nullptr) {
        return E_INVALIDARG;
    }
    std::uint64_t offset = 0, stride = 1;
    for (std::uint16_t i = 0; i < psa->cDims; ++i) {
        const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - i];
        const std::int64_t k = static_cast<std::int64_t>(rgIndices[i]) - b.lLbound;
        if (k < 0 || k >= static_cast<std::int64_t>(b.cElements)) {
            return DISP_E_BADINDEX;
        }
        offset += static_cast<std::uint64_t>(k) * stride;
        stride *= b.cElements;
    }
    cell = static_cast<unsigned char*>(psa->pvData) + offset * psa->cbElements;
    return S_OK;
}

// Copies one element from `from` (storage of the array's type) into `to` (uninitialised).
HRESULT CopyElement(VARTYPE vt, std::uint32_t size, const void* from, void* to) {
    if (vt == VT_BSTR) {
        BSTR s = *static_cast<const BSTR*>(from);
        BSTR copy = s == nullptr ? nullptr : SysAllocStringLen(s, SysStringLen(s));
        if (s != nullptr && copy == nullptr) {
            return E_OUTOFMEMORY;
        }
        *static_cast<BSTR*>(to) = copy;
        return S_OK;
    }
    if (vt == VT_VARIANT) {
        VariantInit(static_cast<VARIANT*>(to));
        return VariantCopy(static_cast<VARIANT*>(to), static_cast<const VARIANT*>(from));
    }
    std::memcpy(to, from, size);
    if ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && *static_cast<IUnknown* const*>(from)) {
        (*static_cast<IUnknown* const*>(from))->AddRef();
    }
    return S_OK;
}

}  // namespace

extern "C" {

SAFEARRAY* SafeArrayCreate(VARTYPE vt, std::uint32_t cDims, const SAFEARRAYBOUND* rgsabound) {
    if (rgsabound == nullptr) {
        return nullptr;
    }
    SAFEARRAY* psa = Allocate(vt, cDims);
    if (psa == nullptr) {
        return nullptr;
    }
    for (std::uint32_t i = 0; i < cDims; ++i) {
        psa->rgsabound[cDims - 1 - i] = rgsabound[i];
    }
    if (FAILED(AllocateData(psa))) {
        FreeHeader(psa);
        return nullptr;
    }
    carvix::automation::detail::Track(Kind::SafeArray, psa);
    return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, std::int32_t lLbound, std::uint32_t cElements) {
    const SAFEARRAYBOUND bound{cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
    if (psa == nullptr) {
        return S_OK;
    }
    if (!Valid(psa)) {
        return E_INVALIDARG;
    }
    if (psa->cLocks > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    carvix::automation::detail::Untrack(Kind::SafeArray, psa);
    ReleaseElements(psa, 0, CountOf(psa));
    std::free(psa->pvData);
    FreeHeader(psa);
    return S_OK;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, const SAFEARRAYBOUND* psaboundNew) {
    if (!Valid(psa) || psaboundNew == nullptr) {
        return E_INVALIDARG;
    }
    if (psa->cLocks > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    std::uint64_t others = 1;
    for (std::uint16_t d = 1; d < psa->cDims; ++d) {
        others *= psa->rgsabound[d].cElements;
    }
    const std::uint64_t oldCount = CountOf(psa);
    const std::uint64_t newCount = others * psaboundNew->cElements;
    if (newCount * psa->cbElements > kMaxBytes) {
        return E_OUTOFMEMORY;
    }
    if (newCount < oldCount) {
        ReleaseElements(psa, newCount, oldCount);
    }
    void* data = std::realloc(psa->pvData, newCount == 0 ? 1 : newCount * psa->cbElements);
    if (data == nullptr) {
        return E_OUTOFMEMORY;  // only reachable when growing: nothing was released
    }
    if (newCount > oldCount) {
        std::memset(static_cast<unsigned char*>(data) + oldCount * psa->cbElements, 0,
                    (newCount - oldCount) * psa->cbElements);
    }
    psa->pvData = data;
    psa->rgsabound[0] = *psaboundNew;
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
    if (ppsaOut == nullptr) {
        return E_INVALIDARG;
    }
    *ppsaOut = nullptr;
    if (psa == nullptr) {
        return S_OK;
    }
    if (!Valid(psa)) {
        return E_INVALIDARG;
    }
    const VARTYPE vt = TypeOf(psa);
    SAFEARRAY* copy = Allocate(vt, psa->cDims);
    if (copy == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(copy->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
    if (FAILED(AllocateData(copy))) {
        FreeHeader(copy);
        return E_OUTOFMEMORY;
    }
    carvix::automation::detail::Track(Kind::SafeArray, copy);
    const std::uint64_t n = CountOf(psa);
    for (std::uint64_t i = 0; i < n; ++i) {
        HRESULT hr = CopyElement(vt, psa->cbElements,
                                 static_cast<unsigned char*>(psa->pvData) + i * psa->cbElements,
                                 static_cast<unsigned char*>(copy->pvData) + i * psa->cbElements);
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}

std::uint32_t SafeArrayGetDim(SAFEARRAY* psa) {
    return Valid(psa) ? psa->cDims : 0;
}

std::uint32_t SafeArrayGetElemsize(SAFEARRAY* psa) {
    return Valid(psa) ? psa->cbElements : 0;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
    if (!Valid(psa) || pvt == nullptr) {
        return E_INVALIDARG;
    }
    *pvt = TypeOf(psa);
    return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, std::uint32_t nDim, std::int32_t* plLbound) {
    if (!Valid(psa) || plLbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim < 1 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, std::uint32_t nDim, std::int32_t* plUbound) {
    if (!Valid(psa) || plUbound == nullptr) {
        return E_INVALIDARG;
    }
    if (nDim < 1 || nDim > psa->cDims) {
        return DISP_E_BADINDEX;
    }
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - nDim];
    *plUbound = static_cast<std::int32_t>(static_cast<std::int64_t>(b.lLbound) + b.cElements - 1);
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const std::int32_t* rgIndices, void* pv) {
    void* cell = nullptr;
    HRESULT hr = Cell(psa, rgIndices, cell);
    if (FAILED(hr)) {
        return hr;
    }
    if (pv == nullptr) {
        return E_INVALIDARG;
    }
    return CopyElement(TypeOf(psa), psa->cbElements, cell, pv);
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const std::int32_t* rgIndices, void* pv) {
    void* cell = nullptr;
    HRESULT hr = Cell(psa, rgIndices, cell);
    if (FAILED(hr)) {
        return hr;
    }
    const VARTYPE vt = TypeOf(psa);
    if (vt == VT_BSTR) {  // pv is the BSTR itself
        auto s = static_cast<BSTR>(pv);
        BSTR copy = s == nullptr ? nullptr : SysAllocStringLen(s, SysStringLen(s));
        if (s != nullptr && copy == nullptr) {
            return E_OUTOFMEMORY;
        }
        SysFreeString(*static_cast<BSTR*>(cell));
        *static_cast<BSTR*>(cell) = copy;
        return S_OK;
    }
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {  // pv is the interface pointer itself
        auto* fresh = static_cast<IUnknown*>(pv);
        if (fresh != nullptr) {
            fresh->AddRef();
        }
        IUnknown* old = *static_cast<IUnknown**>(cell);
        *static_cast<IUnknown**>(cell) = fresh;
        if (old != nullptr) {
            old->Release();
        }
        return S_OK;
    }
    if (pv == nullptr) {
        return E_INVALIDARG;
    }
    if (vt == VT_VARIANT) {
        return VariantCopy(static_cast<VARIANT*>(cell), static_cast<const VARIANT*>(pv));
    }
    std::memcpy(cell, pv, psa->cbElements);
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
    if (!Valid(psa)) {
        return E_INVALIDARG;
    }
    if (psa->cLocks == 0xFFFF) {
        return E_UNEXPECTED;
    }
    ++psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
    if (!Valid(psa)) {
        return E_INVALIDARG;
    }
    if (psa->cLocks == 0) {
        return E_UNEXPECTED;
    }
    --psa->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
    if (ppvData == nullptr) {
        return E_INVALIDARG;
    }
    HRESULT hr = SafeArrayLock(psa);
    if (SUCCEEDED(hr)) {
        *ppvData = psa->pvData;
    }
    return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
    return SafeArrayUnlock(psa);
}

}  // extern "C"
