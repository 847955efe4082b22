// Filling a block object from JSON: the keys and value forms that `carvix read --json`
// prints, put on the object by property name through IDispatch, so that a block read, edited
// and written comes back as it was edited.
#pragma once

#include "block_reader.h"

#include <functional>
#include <stdexcept>
#include <string>

namespace carvix::cli {

/// JSON that does not fit the block; the message names the field and what is wrong.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// Makes a new, empty voluntary-insurance object (CARVIX.VoluntaryInsurance).
using InsuranceFactory = std::function<Object()>;

/// Puts every field of `values` on `object`: texts as strings, numbers as 32-bit integers,
/// dates as "YYYY-MM-DD" (given to the object as dates), the voluntary insurances as an
/// array of new insurance objects. An optional field that is present is marked specified;
/// one that is absent stays unspecified. Throws InputError, before anything is put, for an
/// unknown key, a missing mandatory field or a value of the wrong form; ClientError when the
/// object refuses a value.
void FillBlock(const Object& object, const BlockInfo& block, const Json& values,
               const InsuranceFactory& newInsurance);

/// The DATE of "YYYY-MM-DD"; InputError naming `field` for anything else.
double DateOf(const std::string& field, const Json& value);

}  // namespace carvix::cli
