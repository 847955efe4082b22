// Every block of one card application read on one open applet, so that each block and each
// SOD comes from the card once and all of them from one card transaction.
#pragma once

#include "carvix/automation/types.h"
#include "docadmin/read_methods.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class CardApplet;
class CardBlock;

namespace carvix::com {

struct BlockSigner;

/// The blocks of application `appId` in the order of the document service's read methods:
/// VL (IDs 1 to 4) document, fixed perso, photo, variable perso; ZK (ID 5) document, fixed
/// admin, fixed perso, variable admin, variable perso. Empty for any other ID.
std::span<const ReadMethod> BlocksOfApplication(std::uint16_t appId);

/// One block of a whole-application read.
struct ApplicationBlock {
    std::unique_ptr<CardBlock> model;           // decoded and verified when `result` succeeded
    std::shared_ptr<const BlockSigner> signer;  // null for a block no SOD covers
    HRESULT result = E_FAIL;  // what the block's own read method would have returned
};

/// Reads every block of `methods` on `applet`, verifies each against its SOD, finds the
/// trust of each SOD's signer and applies the administrator's trust policy. The applet's
/// cache hands a block or SOD already read to every later block, so nothing is read twice;
/// an applet opened with CardApplet::Hold::UntilClose does it all in its one transaction. A
/// block that cannot be read, verified or trusted gets its own failure (a message-only one
/// shown as the read methods show it) and the others are still read.
std::vector<ApplicationBlock> ReadApplicationBlocks(CardApplet& applet,
                                                    std::span<const ReadMethod> methods);

}  // namespace carvix::com
