#include "docadmin/block_handover.h"

namespace carvix::com {

// The block classes are not part of the module yet, so no object can take a model.
HRESULT LoadModelInto(IUnknown* object, CardBlock&) {
    return object == nullptr ? E_INVALIDARG : E_NOINTERFACE;
}

}  // namespace carvix::com
