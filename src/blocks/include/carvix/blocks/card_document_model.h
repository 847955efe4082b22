// The card document block 0x0D00: which document the card holds and which blocks it has.
#pragma once

#include "carvix/blocks/card_block.h"
#include "carvix/blocks/code_element.h"
#include "carvix/blocks/u16_list_element.h"

class CardDocumentModel final : public CardBlock {
  public:
    static constexpr std::uint16_t kBlockId = 0x0D00;
    CardDocumentModel() : CardBlock(kBlockId) {}

    // clang-format off
    //                                    tag    max  presence    table
    /// The document ID, compared with the application ID the card was opened for.
    CodeElement    DocumentID    {*this, 0x601,   2, kMandatory, CodeTables::DocumentIdCodes()};
    /// A fixed code "01", not interpreted.
    CodeElement    FixedCode     {*this, 0x602,   2, kMandatory, CodeTables::DocumentFixedCodes()};
    /// The IDs of the blocks the card declares present.
    U16ListElement PresentBlocks {*this, 0x603, 128, kMandatory};
    // clang-format on
};
