// CARVIX.Utilities: a stateless object that turns error codes into message text.
#pragma once

#include "carvix/com/object.h"
#include "carvix/com/utilities_service.h"

namespace carvix::com {

class UtilitiesService final
    : public CoClass<UtilitiesService, IUtilitiesService, kUtilitiesServiceDesc, ObjectSafety> {
  public:
    HRESULT GetErrorMessage(std::int32_t ulErrorCode, BSTR* bsMessage) override;
};

}  // namespace carvix::com
