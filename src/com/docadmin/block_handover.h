// Handing a block model to a block object's Load, in process only.
#pragma once

#include "carvix/automation/types.h"

class CardBlock;

namespace carvix::com {

/// Calls the object's Load with `model`. E_NOINTERFACE when the object is not a block object.
HRESULT LoadModelInto(IUnknown* object, CardBlock& model);

}  // namespace carvix::com
