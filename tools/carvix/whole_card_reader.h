// `read all`: every block of one application through CARVIX.WholeCard, in one call and one
// card transaction, each block and SOD read from the card once.
#pragma once

#include "block_reader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace carvix::cli {

/// One block of the application: its properties and object, or its failure.
struct WholeCardBlock {
    Json values;
    Object object;
    std::optional<ClientError> error;
};

/// The `count` blocks of application `appId` on `reader`, in the order of the document
/// service's read methods (the order of Blocks()). When the call itself fails, every block
/// carries that failure. Nothing when the module has no CARVIX.WholeCard (a registration of
/// an older module): the caller then reads block by block.
std::optional<std::vector<WholeCardBlock>> ReadWholeApplication(const std::u16string& reader,
                                                                std::uint16_t appId,
                                                                std::size_t count);

}  // namespace carvix::cli
