#pragma once

#include <string>

namespace carvix::com {

/// {"name","version","help","libid","coclasses":[...],"interfaces":[...]}; each interface
/// is in the form of carvix::automation::DescribeInterfaceJson.
std::string DescribeTypeLibraryJson();

}  // namespace carvix::com
