#include "notices.h"

#include "carvix/automation/client.h"
#include "carvix/automation/host_hooks.h"

#include <mutex>
#include <string>
#include <vector>

namespace carvix::cli {
namespace {

std::mutex lock;
std::vector<std::string> pending;

void Collect(void*, const char16_t* /*caption*/, const char16_t* text, std::uint32_t /*style*/) {
    try {
        std::string line = automation::Utf8(text == nullptr ? u"" : std::u16string_view(text));
        const std::lock_guard hold(lock);
        pending.push_back(std::move(line));
    } catch (...) {
        // Out of memory while keeping a notice: the failure itself is still reported.
    }
}

}  // namespace

void CollectNotices() {
    CarvixSetNotifier(&Collect, nullptr);
}

void FlushNotices(std::ostream& err, std::string_view alreadySaid) {
    std::vector<std::string> notices;
    {
        const std::lock_guard hold(lock);
        notices.swap(pending);
    }
    for (const std::string& notice : notices) {
        if (!alreadySaid.empty() && notice == alreadySaid) {
            continue;
        }
        err << "carvix: warning: " << notice << "\n";
    }
}

}  // namespace carvix::cli
