#include "reader_chooser_bridge.h"

#include "carvix/automation/host_hooks.h"

namespace carvix::com {

std::optional<std::size_t> AskHostForReader(const std::u16string& title,
                                            const std::vector<Orvel::PCSC::ReaderState>& readers) {
    if (readers.empty()) {
        return std::nullopt;
    }
    std::vector<CarvixReaderOffer> offers;
    offers.reserve(readers.size());
    for (const Orvel::PCSC::ReaderState& r : readers) {
        offers.push_back({r.name.c_str(), r.atr.data(), static_cast<std::uint32_t>(r.atr.size())});
    }
    std::uint32_t chosen = 0;
    if (CarvixChooseReader(title.c_str(), offers.data(), static_cast<std::uint32_t>(offers.size()),
                           &chosen) == 0) {
        return std::nullopt;
    }
    return chosen;
}

bool AskHostToWaitForCard(const std::u16string& title) {
    return CarvixChooseReader(title.c_str(), nullptr, 0, nullptr) != 0;
}

}  // namespace carvix::com
