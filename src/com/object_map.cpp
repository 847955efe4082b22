// The object map: every class the module serves, in registration order.
//
// The full order is AuthenticationService (script 112), DocAdminService (108), PKIService
// (103), SmartCardService (102), UtilitiesService (104), VLContactlessBlock (117),
// VLDocumentBlock (109), VLFixedPersoBlock (110), VLPhotoBlock (111), VLVariablePersoBlock
// (105), VoluntaryInsurance (116, coclass VoluntaryInsuranceClass), ZKDocumentBlock (113),
// ZKFixedAdminBlock (114), ZKFixedPersoBlock (115), ZKVariableAdminBlock (107),
// ZKVariablePersoBlock (106). A class joins by inserting its row at its place; the GUIDs are
// in guids.h. VLContactlessBlock is the one row with objectSafety = false.
#include "carvix/com/module.h"
#include "carvix/com/object.h"
#include "utilities/utilities_service.h"

namespace carvix::com {
namespace {

const ClassEntry kObjectMap[] = {
    {u"UtilitiesService", u"UtilitiesService", kClsidUtilitiesService, u"CARVIX.Utilities", 104,
     kUtilitiesServiceDesc, true, &Create<UtilitiesService>},
};

}  // namespace

std::span<const ClassEntry> ObjectMap() {
    return kObjectMap;
}

}  // namespace carvix::com
