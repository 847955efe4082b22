// Which security object (SOD) covers which blocks, per card application.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class SodBlock;

/// A fixed table of SOD IDs and the blocks each covers, in the order of the hashes in the
/// SOD's signed content. Two tables exist, built once per process: A for the VL application
/// (IDs 1 to 4) and B for the ZK application (ID 5).
class SodRegistry {
  public:
    struct Entry {
        std::uint16_t sodId;
        std::vector<std::uint16_t> blocks;
    };

    /// The registry of an application ID; other IDs raise `CardException` "Unsupported card.".
    static const SodRegistry& ForApplication(std::uint16_t applicationId);

    /// The SOD that covers the block, or 0 when none does.
    std::uint16_t SodOf(std::uint16_t blockId) const noexcept;
    bool IsSod(std::uint16_t id) const noexcept;
    /// The covered blocks in hash order. An unknown SOD ID raises `CardException`
    /// "SOD with ID 0x%X is not registered with the application".
    std::vector<std::uint16_t> BlocksOf(std::uint16_t sodId) const;
    /// A new, empty SOD block model for one of this registry's SOD IDs (same failure).
    std::unique_ptr<SodBlock> CreateSodBlock(std::uint16_t sodId) const;
    const std::vector<Entry>& Entries() const noexcept { return entries_; }

    explicit SodRegistry(std::vector<Entry> entries);

  private:
    const Entry& Find(std::uint16_t sodId) const;

    std::vector<Entry> entries_;
};
