#include "carvix/support/pcsc_context.h"

#include "carvix/support/pcsc_call.h"
#include "carvix/support/trace.h"

namespace Orvel::PCSC {

PCSCContext::PCSCContext(std::uint32_t scope) {
    SCARDCONTEXT handle = 0;
    detail::Check("SCardEstablishContext", SCardEstablishContext(scope, nullptr, nullptr, &handle));
    handle_ = handle;
    established_ = true;
}

PCSCContext::~PCSCContext() noexcept {
    if (!established_) {
        return;
    }
    try {
        Release();
    } catch (const Exception& e) {
        Trace(TraceLevel::Warning, u"Releasing the PC/SC context failed: " + e.Message());
    } catch (...) {
    }
}

void PCSCContext::Release() {
    if (!established_) {
        detail::WrongState("PCSCContext::Release");
    }
    detail::Check("SCardReleaseContext", SCardReleaseContext(handle_));
    handle_ = 0;
    established_ = false;
}

}  // namespace Orvel::PCSC
