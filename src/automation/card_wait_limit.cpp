// The process-wide card wait limit that hosts set and modules read (host_hooks.h).
#include "carvix/automation/host_hooks.h"

#include <atomic>

namespace {

std::atomic<std::uint32_t> limitMilliseconds{5000};

}  // namespace

extern "C" {

void CarvixSetCardWaitLimit(uint32_t milliseconds) {
    limitMilliseconds.store(milliseconds);
}

uint32_t CarvixCardWaitLimit(void) {
    return limitMilliseconds.load();
}

}  // extern "C"
