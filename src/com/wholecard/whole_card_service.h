// CARVIX.WholeCard: a stateless object whose one call opens a card application, reads all of
// its blocks in one card transaction and closes the application before returning.
#pragma once

#include "carvix/com/object.h"
#include "carvix/com/whole_card_service.h"

namespace carvix::com {

class WholeCardService final
    : public CoClass<WholeCardService, IWholeCardService, kWholeCardServiceDesc, ObjectSafety> {
  public:
    HRESULT ReadApplication(BSTR bsReaderName, std::uint16_t uwAppID, VARIANT* pBlocks) override;
};

}  // namespace carvix::com
