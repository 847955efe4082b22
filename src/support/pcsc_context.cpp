#include "carvix/support/pcsc_context.h"

#include "carvix/support/pcsc_service.h"

#include "carvix/support/multi_string.h"
#include "carvix/support/pcsc_api.h"
#include "carvix/support/pcsc_call.h"
#include "carvix/support/text.h"
#include "carvix/support/trace.h"

namespace Orvel::PCSC {
namespace {

// The list the resource manager allocated; freed once, by Free or, failures swallowed, by
// the destructor when the reading stops early.
class ListBuffer {
  public:
    explicit ListBuffer(SCARDCONTEXT context) noexcept : context_(context) {}
    ~ListBuffer() noexcept {
        if (names_ != nullptr) {
            Api().FreeMemory(context_, names_);
        }
    }
    ListBuffer(const ListBuffer&) = delete;
    ListBuffer& operator=(const ListBuffer&) = delete;

    // Where SCardListReaders writes the address of the list it allocates.
    LPSTR Out() noexcept { return reinterpret_cast<LPSTR>(&names_); }
    void Forget() noexcept { names_ = nullptr; }
    const char* Names() const noexcept { return names_; }

    LONG Free() noexcept {
        const LONG rv = Api().FreeMemory(context_, names_);
        names_ = nullptr;
        return rv;
    }

  private:
    SCARDCONTEXT context_;
    char* names_ = nullptr;
};

}  // namespace

PCSCContext::PCSCContext(std::uint32_t scope) {
    SCARDCONTEXT handle = 0;
    const std::uint32_t code = detail::Code(Api().EstablishContext(scope, &handle));
    if (code == kNoService) {
        // The code alone says only that the service is missing; say why and what fixes it.
        throw PCSCWin32Exception("SCardEstablishContext", code, Utf8ToUtf16(ServiceFailureText()));
    }
    detail::Check("SCardEstablishContext", code);
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
        TraceSwallowed(u"Releasing the PC/SC context failed: ", e);
    } catch (...) {
    }
}

void PCSCContext::Release() {
    if (!established_) {
        detail::WrongState("PCSCContext::Release");
    }
    detail::Check("SCardReleaseContext", Api().ReleaseContext(handle_));
    handle_ = 0;
    established_ = false;
}

std::vector<std::u16string> PCSCContext::ListReaders() const {
    ListBuffer buffer(handle_);
    DWORD length = SCARD_AUTOALLOCATE;
    const std::uint32_t code =
        detail::Code(Api().ListReaders(handle_, nullptr, buffer.Out(), &length));
    if (code != kSuccess) {
        // A failed call hands out no buffer, whatever it left in the pointer.
        buffer.Forget();
        if (code == kNoReadersAvailable || code == kNoService || code == kServiceStopped) {
            return {};
        }
        throw PCSCWin32Exception("SCardListReaders", code);
    }
    if (buffer.Names() == nullptr) {
        return {};
    }
    // The reported length bounds the walk: a list without its final NUL is not overrun.
    std::vector<std::u16string> readers =
        SplitMultiStringUtf8(std::string_view(buffer.Names(), length));
    detail::Check("SCardFreeMemory", buffer.Free());
    return readers;
}

}  // namespace Orvel::PCSC
