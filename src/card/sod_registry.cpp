#include "carvix/card/sod_registry.h"

#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"

#include <algorithm>

namespace {

const SodRegistry& RegistryA() {
    static const SodRegistry registry({
        {0x0D05, {0x0D00, 0x0D01, 0x0D02, 0x0D04, 0x0D07}},
        {0x0D06, {0x0D03}},
    });
    return registry;
}

const SodRegistry& RegistryB() {
    static const SodRegistry registry({
        {0x0D05, {0x0D00, 0x0D01, 0x0D02, 0x0E01, 0x0D07}},
        {0x0D06, {0x0D03}},
        {0x0D09, {0x0E02}},
    });
    return registry;
}

}  // namespace

SodRegistry::SodRegistry(std::vector<Entry> entries) : entries_(std::move(entries)) {}

const SodRegistry& SodRegistry::ForApplication(std::uint16_t applicationId) {
    if (applicationId >= 1 && applicationId <= 4) {
        return RegistryA();
    }
    if (applicationId == 5) {
        return RegistryB();
    }
    throw CardException(u"Unsupported card.");
}

std::uint16_t SodRegistry::SodOf(std::uint16_t blockId) const noexcept {
    for (const auto& entry : entries_) {
        if (std::find(entry.blocks.begin(), entry.blocks.end(), blockId) != entry.blocks.end()) {
            return entry.sodId;
        }
    }
    return 0;
}

bool SodRegistry::IsSod(std::uint16_t id) const noexcept {
    return std::any_of(entries_.begin(), entries_.end(),
                       [id](const Entry& e) { return e.sodId == id; });
}

const SodRegistry::Entry& SodRegistry::Find(std::uint16_t sodId) const {
    for (const auto& entry : entries_) {
        if (entry.sodId == sodId) {
            return entry;
        }
    }
    throw CardException(
        Orvel::Format("SOD with ID 0x%X is not registered with the application", sodId));
}

std::vector<std::uint16_t> SodRegistry::BlocksOf(std::uint16_t sodId) const {
    return Find(sodId).blocks;
}
