#include "tracked.h"

#include <mutex>
#include <unordered_set>

namespace carvix::automation::detail {
namespace {

struct Registry {
    std::mutex lock;
    std::unordered_set<const void*> sets[2];
};

Registry& Instance() {
    static Registry* registry = new Registry;  // never destroyed: used from atexit paths
    return *registry;
}

}  // namespace

void Track(Kind kind, const void* p) {
    Registry& r = Instance();
    std::lock_guard guard(r.lock);
    r.sets[static_cast<int>(kind)].insert(p);
}

bool Untrack(Kind kind, const void* p) {
    Registry& r = Instance();
    std::lock_guard guard(r.lock);
    return r.sets[static_cast<int>(kind)].erase(p) != 0;
}

bool IsTracked(Kind kind, const void* p) {
    if (p == nullptr) {
        return false;
    }
    Registry& r = Instance();
    std::lock_guard guard(r.lock);
    return r.sets[static_cast<int>(kind)].count(p) != 0;
}

}  // namespace carvix::automation::detail
