// Numbers, booleans and dates read from BSTR text, for VariantChangeType.
#pragma once

#include "carvix/automation/oleauto.h"

namespace carvix::automation::detail {

// A value reduced to one of three forms.
struct Number {
    enum Form { Integer, Unsigned, Real } form = Integer;
    std::int64_t i = 0;
    std::uint64_t u = 0;
    double r = 0;
};

/// Decimal (with sign, fraction or exponent, surrounding blanks) or "&H" hexadecimal text.
bool ParseNumber(BSTR text, Number& out);
/// ASCII comparison without regard to case; `word` is lower case.
bool EqualsAscii(BSTR text, const char* word);
/// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS" (also with 'T'), else a number of days.
HRESULT TextToDate(BSTR text, double& out);

}  // namespace carvix::automation::detail
