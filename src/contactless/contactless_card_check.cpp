#include "carvix/contactless/contactless_card_check.h"

#include "carvix/contactless/cl_card.h"
#include "carvix/support/pcsc_comm.h"

namespace carvix::contactless {

bool CheckContactlessCard(SCARDHANDLE card) noexcept {
    try {
        return CheckContactlessCard(card, GetModuleDirectory());
    } catch (...) {
        return false;
    }
}

bool CheckContactlessCard(SCARDHANDLE card, const std::string& moduleDirectory) noexcept {
    try {
        // Attached only: the handle stays the dialog's.
        const Orvel::PCSC::PCSCComm comm(card);
        const Orvel::PCSC::CardStatus status = comm.Status();
        if (status.readerNames.size() != 1) {
            return false;
        }
        const std::unique_ptr<CLCard> clCard =
            CLCard::Create(moduleDirectory, status.readerNames.front());
        return clCard->GetCardInfo() != 0;
    } catch (...) {
        return false;
    }
}

}  // namespace carvix::contactless
