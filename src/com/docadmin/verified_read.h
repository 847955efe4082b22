// One verified block read from a named reader, with the card application opened for it and
// closed again on every path.
#pragma once

#include <cstdint>
#include <string>

class CardBlock;

namespace carvix::com {

/// Opens the application `appId` on `reader`, reads the block whose ID is the model's tag
/// into `model`, checks it against its SOD, and closes the application (also when any step
/// throws). The SOD's signer certificate is not kept.
void ReadVerifiedFromCard(const std::u16string& reader, std::uint16_t appId, CardBlock& model);

}  // namespace carvix::com
