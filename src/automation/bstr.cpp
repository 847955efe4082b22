// BSTR allocation: [uint32 byte length][UTF-16 text][16-bit terminator].
#include "carvix/automation/oleauto.h"
#include "tracked.h"

#include <cstdlib>
#include <cstring>
#include <limits>

using carvix::automation::detail::Kind;

namespace {

constexpr std::uint32_t kMaxBytes = std::numeric_limits<std::uint32_t>::max() - 16;

BSTR AllocateBytes(const void* data, std::uint32_t bytes) {
    if (bytes > kMaxBytes) {
        return nullptr;
    }
    auto* base = static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + 2));
    if (base == nullptr) {
        return nullptr;
    }
    std::memcpy(base, &bytes, sizeof bytes);
    unsigned char* text = base + sizeof(std::uint32_t);
    if (data != nullptr) {
        std::memcpy(text, data, bytes);
    } else {
        std::memset(text, 0, bytes);
    }
    text[bytes] = 0;
    text[bytes + 1] = 0;
    auto* result = reinterpret_cast<BSTR>(text);
    carvix::automation::detail::Track(Kind::Bstr, result);
    return result;
}

std::uint32_t ForeignLength(const OLECHAR* p) {
    std::uint32_t n = 0;
    while (p[n] != 0) {
        ++n;
    }
    return n;
}

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* psz) {
    if (psz == nullptr) {
        return nullptr;
    }
    return SysAllocStringLen(psz, ForeignLength(psz));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, std::uint32_t ui) {
    if (ui > kMaxBytes / 2) {
        return nullptr;
    }
    return AllocateBytes(strIn, ui * 2);
}

BSTR SysAllocStringByteLen(const char* psz, std::uint32_t len) {
    return AllocateBytes(psz, len);
}

std::int32_t SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (pbstr == nullptr) {
        return 0;
    }
    BSTR fresh = SysAllocString(psz);
    if (fresh == nullptr && psz != nullptr) {
        return 0;
    }
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return 1;
}

void SysFreeString(BSTR bstrString) {
    if (bstrString == nullptr) {
        return;
    }
    if (!carvix::automation::detail::Untrack(Kind::Bstr, bstrString)) {
        return;  // not ours, or freed already: leave it alone
    }
    std::free(reinterpret_cast<unsigned char*>(bstrString) - sizeof(std::uint32_t));
}

std::uint32_t SysStringByteLen(BSTR bstr) {
    if (bstr == nullptr) {
        return 0;
    }
    if (!carvix::automation::detail::IsTracked(Kind::Bstr, bstr)) {
        return ForeignLength(bstr) * 2;
    }
    std::uint32_t bytes;
    std::memcpy(&bytes, reinterpret_cast<unsigned char*>(bstr) - sizeof bytes, sizeof bytes);
    return bytes;
}

std::uint32_t SysStringLen(BSTR pbstr) {
    return SysStringByteLen(pbstr) / 2;
}

void* CoTaskMemAlloc(std::size_t cb) {
    return std::malloc(cb == 0 ? 1 : cb);
}

void CoTaskMemFree(void* pv) {
    std::free(pv);
}

}  // extern "C"
