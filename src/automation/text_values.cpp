#include "text_values.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace carvix::automation::detail {

bool ParseNumber(BSTR text, Number& out) {
    std::string narrow;
    for (std::uint32_t k = 0, n = SysStringLen(text); k < n; ++k) {
        if (text[k] > 0x7F || text[k] == 0) {
            return false;  // no number has other characters, nor an embedded terminator
        }
        narrow.push_back(static_cast<char>(text[k]));
    }
    const auto first = narrow.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return false;
    }
    narrow = narrow.substr(first, narrow.find_last_not_of(" \t") - first + 1);
    const char* s = narrow.c_str();
    char* end = nullptr;
    errno = 0;
    if ((s[0] == '&') && (s[1] == 'H' || s[1] == 'h') &&
        std::isxdigit(static_cast<unsigned char>(s[2]))) {
        out.form = Number::Unsigned;
        out.u = std::strtoull(s + 2, &end, 16);
    } else if (narrow.find_first_of(".eE") == std::string::npos) {
        if (s[0] == '-') {
            out.form = Number::Integer;
            out.i = std::strtoll(s, &end, 10);
        } else {
            out.form = Number::Unsigned;
            out.u = std::strtoull(s, &end, 10);
        }
    } else {
        out.form = Number::Real;
        out.r = std::strtod(s, &end);
    }
    return end != s && *end == '\0' && errno == 0;
}

bool EqualsAscii(BSTR text, const char* word) {
    std::uint32_t n = SysStringLen(text), k = 0;
    for (; k < n && word[k] != '\0'; ++k) {
        char16_t c = text[k];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char16_t>(c - 'A' + 'a');
        }
        if (c != static_cast<unsigned char>(word[k])) {
            return false;
        }
    }
    return k == n && word[k] == '\0';
}

HRESULT TextToDate(BSTR text, double& out) {
    std::string s;
    for (std::uint32_t k = 0, n = SysStringLen(text); k < n && text[k] < 0x80; ++k) {
        s.push_back(static_cast<char>(text[k]));
    }
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    char sep = 0, tail = 0;
    int fields = std::sscanf(s.c_str(), "%4u-%2u-%2u%c%2u:%2u:%2u%c", &y, &mo, &d, &sep, &h, &mi,
                             &se, &tail);
    if (s.size() == SysStringLen(text) &&
        (fields == 3 || (fields == 7 && (sep == ' ' || sep == 'T')))) {
        SYSTEMTIME st{static_cast<std::uint16_t>(y),
                      static_cast<std::uint16_t>(mo),
                      0,
                      static_cast<std::uint16_t>(d),
                      static_cast<std::uint16_t>(h),
                      static_cast<std::uint16_t>(mi),
                      static_cast<std::uint16_t>(se),
                      0};
        if (y < 100 || SystemTimeToVariantTime(&st, &out) == 0) {
            return DISP_E_TYPEMISMATCH;
        }
        return S_OK;
    }
    Number n;
    if (!ParseNumber(text, n)) {
        return DISP_E_TYPEMISMATCH;
    }
    out = n.form == Number::Real       ? n.r
          : n.form == Number::Unsigned ? static_cast<double>(n.u)
                                       : static_cast<double>(n.i);
    return S_OK;
}

}  // namespace carvix::automation::detail
