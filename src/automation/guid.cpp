#include "carvix/automation/guid.h"
#include "carvix/automation/oleauto.h"

#include <cstdio>

namespace carvix::automation {

std::u16string GuidToString(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return std::u16string(buf, buf + 38);
}

std::optional<GUID> ParseGuid(std::u16string_view text) {
    if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') {
        return std::nullopt;
    }
    auto hex = [&](std::size_t pos, std::size_t digits, std::uint64_t& out) {
        out = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            char16_t c = text[pos + i];
            int v = c >= u'0' && c <= u'9'   ? c - u'0'
                    : c >= u'a' && c <= u'f' ? c - u'a' + 10
                    : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                             : -1;
            if (v < 0) {
                return false;
            }
            out = out << 4 | static_cast<unsigned>(v);
        }
        return true;
    };
    if (text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-') {
        return std::nullopt;
    }
    GUID g{};
    std::uint64_t v;
    if (!hex(1, 8, v))
        return std::nullopt;
    g.Data1 = static_cast<std::uint32_t>(v);
    if (!hex(10, 4, v))
        return std::nullopt;
    g.Data2 = static_cast<std::uint16_t>(v);
    if (!hex(15, 4, v))
        return std::nullopt;
    g.Data3 = static_cast<std::uint16_t>(v);
    static constexpr std::size_t kPos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!hex(kPos[i], 2, v))
            return std::nullopt;
        g.Data4[i] = static_cast<std::uint8_t>(v);
    }
    return g;
}

}  // namespace carvix::automation

extern "C" {

std::int32_t StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, std::int32_t cchMax) {
    if (lpsz == nullptr || cchMax < 39) {
        return 0;
    }
    const std::u16string s = carvix::automation::GuidToString(rguid);
    s.copy(lpsz, s.size());
    lpsz[s.size()] = 0;
    return 39;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
    if (lpsz == nullptr || pclsid == nullptr) {
        return E_INVALIDARG;
    }
    std::size_t n = 0;
    while (n < 39 && lpsz[n] != 0) {
        ++n;
    }
    auto g = carvix::automation::ParseGuid(std::u16string_view(lpsz, n));
    if (!g) {
        return CO_E_CLASSSTRING;
    }
    *pclsid = *g;
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR lpsz, IID* lpiid) {
    HRESULT hr = CLSIDFromString(lpsz, lpiid);
    return hr == CO_E_CLASSSTRING ? E_INVALIDARG : hr;
}

std::int32_t IsEqualGUID(REFGUID rguid1, REFGUID rguid2) {
    return rguid1 == rguid2 ? 1 : 0;
}

}  // extern "C"
