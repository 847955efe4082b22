#include "card_failure.h"

#include "carvix/com/notifier.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/framework_error.h"
#include "carvix/support/hresult.h"

#include <new>

namespace carvix::com {

HRESULT RunCardSteps(const std::function<void()>& steps) noexcept {
    try {
        steps();
        return S_OK;
    } catch (const CardException& e) {
        if (e.Code() == E_FAIL) {
            ShowWarning(e.Message());
        }
        return Orvel::HResultFromCode(e.Code());
    } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
        return Orvel::HResultFromCode(static_cast<std::int32_t>(e.Code()));
    } catch (const JavaCard::AppletException& e) {
        return Orvel::HResultFromCode(e.StatusWord());
    } catch (const Orvel::FrameworkError& e) {
        return e.HResult();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace carvix::com
