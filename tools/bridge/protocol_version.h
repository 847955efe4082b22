// The version of the bridge protocol this host speaks. scripts/generate-clients reads these
// two numbers into the page library and the extension, so every part states the same one.
// The major number changes when a message means something else than before (parts of
// different majors cannot talk); the minor number when an operation or a field is added (a
// page library needs a host and an extension of at least its minor).
#pragma once

namespace carvix::bridge {

inline constexpr int kProtocolMajor = 1;
inline constexpr int kProtocolMinor = 1;

}  // namespace carvix::bridge
