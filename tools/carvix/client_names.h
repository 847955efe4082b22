// The client library's names as the command-line client uses them.
#pragma once

#include "carvix/automation/client.h"

namespace carvix::cli {

using automation::Arguments;
using automation::BoolValue;
using automation::ClientError;
using automation::ForEachElement;
using automation::IntValue;
using automation::Object;
using automation::ObjectValue;
using automation::ScopedVariant;
using automation::TextValue;
using automation::UIntValue;
using automation::Utf16;
using automation::Utf8;
using automation::Utf8Of;

}  // namespace carvix::cli
