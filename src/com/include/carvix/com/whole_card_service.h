// CARVIX.WholeCard: every block of a card application in one call.
//
// One call opens the application, reads each block and each SOD once inside one card
// transaction (so no write can land between two blocks), verifies every block against its
// SOD and hands out the block objects that the document service's read methods hand out,
// each with its signer:
//
//     blocks = CreateObject("CARVIX.WholeCard").ReadApplication(reader, 1)
//     blocks(0).CardID, blocks(2).Photo, ...
#pragma once

#include "carvix/automation/typeinfo.h"

#include <cstdint>

namespace carvix::com {

// {9B2E6C41-3F58-4D17-8A90-5C1E7D24B6A3} WholeCardService
inline constexpr GUID kClsidWholeCardService = {
    0x9B2E6C41, 0x3F58, 0x4D17, {0x8A, 0x90, 0x5C, 0x1E, 0x7D, 0x24, 0xB6, 0xA3}};
// {9B2E6C42-3F58-4D17-8A90-5C1E7D24B6A3} IWholeCardService
inline constexpr GUID kIidIWholeCardService = {
    0x9B2E6C42, 0x3F58, 0x4D17, {0x8A, 0x90, 0x5C, 0x1E, 0x7D, 0x24, 0xB6, 0xA3}};

struct IWholeCardService : IDispatch {
    static constexpr const IID& kIid = kIidIWholeCardService;
    static constexpr const char16_t* kName = u"IWholeCardService";

    /// Reads every block of application `uwAppID` (1 to 4: VL, 5: ZK) on the named reader
    /// into `pBlocks`: VT_ARRAY | VT_VARIANT with lower bound 0, one element per block in the
    /// order of IDocAdminService's read methods (VL: document, fixed perso, photo, variable
    /// perso; ZK: document, fixed admin, fixed perso, variable admin, variable perso). An
    /// element is the block object (VT_DISPATCH, the same class as the block's read method
    /// hands out) or, for a block that could not be read, verified or trusted, VT_ERROR with
    /// the HRESULT that the block's read method would have returned; the other blocks are
    /// read all the same. The call itself fails, and leaves `pBlocks` as it was, with
    /// E_INVALIDARG for an empty reader name, a null out-pointer or another application ID,
    /// and with the read methods' codes when the application cannot be opened (no card, no
    /// such application, another document ID).
    virtual HRESULT ReadApplication(BSTR bsReaderName, std::uint16_t uwAppID, VARIANT* pBlocks) = 0;

  protected:
    ~IWholeCardService() = default;
};

extern const automation::InterfaceDesc kWholeCardServiceDesc;

}  // namespace carvix::com
