// The contactless extract as it follows from the contact card's VL blocks.
#pragma once

#include "carvix/blocks/vl_models.h"

namespace carvix::contactless {

/// Fills `extract` from the verified VL document, fixed personal and variable personal blocks:
/// the card and chip IDs, the personal number, the names, the status, the rank when the card
/// holds one, the unit and the service site. The contactless serial number is the part's own
/// and is left to the caller. Names are set rather than copied so that the extract's shorter
/// limits apply when it is encoded.
void FillExtract(VLContactlessModel& extract, const VLDocumentModel& document,
                 const VLFixedPersoModel& fixed, const VLVariablePersoModel& variable);

}  // namespace carvix::contactless
