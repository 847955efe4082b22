// The component's warning notices (its message box) as the client's own warnings on standard
// error: "carvix: warning: TEXT", without a caption the user does not know. A notice that
// says the same as the failure the client reports next is not repeated.
#pragma once

#include <ostream>
#include <string_view>

namespace carvix::cli {

/// Installs the notifier hook that collects the component's notices.
void CollectNotices();

/// Prints the notices collected so far as warnings, leaving out one whose text is
/// `alreadySaid` (the message of the failure about to be reported).
void FlushNotices(std::ostream& err, std::string_view alreadySaid = {});

}  // namespace carvix::cli
