// Addresses of the BSTRs and SAFEARRAYs this runtime handed out, so that a foreign or
// already freed pointer is recognised without being dereferenced as one of ours.
#pragma once

namespace carvix::automation::detail {

enum class Kind { Bstr, SafeArray };

void Track(Kind kind, const void* p);
/// Removes p; false when p was not handed out (or already freed).
bool Untrack(Kind kind, const void* p);
bool IsTracked(Kind kind, const void* p);

}  // namespace carvix::automation::detail
