// The object map: every class the module serves, in registration order.
//
// The full order is AuthenticationService (script 112), DocAdminService (108), PKIService
// (103), SmartCardService (102), UtilitiesService (104), VLContactlessBlock (117),
// VLDocumentBlock (109), VLFixedPersoBlock (110), VLPhotoBlock (111), VLVariablePersoBlock
// (105), VoluntaryInsurance (116, coclass VoluntaryInsuranceClass), ZKDocumentBlock (113),
// ZKFixedAdminBlock (114), ZKFixedPersoBlock (115), ZKVariableAdminBlock (107),
// ZKVariablePersoBlock (106). A class joins by inserting its row at its place; the GUIDs are
// in guids.h. VLContactlessBlock is the one row with objectSafety = false.
#include "auth/authentication_service.h"
#include "blocks/block_classes.h"
#include "blocks/zk_variable_admin_block.h"
#include "carvix/com/module.h"
#include "carvix/com/object.h"
#include "docadmin/docadmin_service.h"
#include "smartcard/smartcard_service.h"
#include "utilities/utilities_service.h"

namespace carvix::com {
namespace {

const ClassEntry kObjectMap[] = {
    {u"AuthenticationService", u"AuthenticationService", kClsidAuthenticationService,
     u"CARVIX.Auth", 112, kAuthenticationServiceDesc, true, &Create<AuthenticationService>},
    {u"DocAdminService", u"DocAdminService", kClsidDocAdminService, u"CARVIX.DocAdmin", 108,
     kDocAdminServiceDesc, true, &Create<DocAdminService>},
    {u"SmartCardService", u"SmartCardService", kClsidSmartCardService, u"CARVIX.SmartCard", 102,
     kSmartCardServiceDesc, true, &Create<SmartCardService>},
    {u"UtilitiesService", u"UtilitiesService", kClsidUtilitiesService, u"CARVIX.Utilities", 104,
     kUtilitiesServiceDesc, true, &Create<UtilitiesService>},
    {u"VLContactlessBlock", u"VLContactlessBlock", kClsidVLContactlessBlock,
     u"CARVIX.VLContactlessBlock", 117, kVLContactlessBlockDesc, false,
     &Create<VLContactlessBlock>},
    {u"VLDocumentBlock", u"VLDocumentBlock", kClsidVLDocumentBlock, u"CARVIX.VLDocBlock", 109,
     kVLDocumentBlockDesc, true, &Create<VLDocumentBlock>},
    {u"VLFixedPersoBlock", u"VLFixedPersoBlock", kClsidVLFixedPersoBlock, u"CARVIX.VLFXPersoBlock",
     110, kVLFixedPersoBlockDesc, true, &Create<VLFixedPersoBlock>},
    {u"VLPhotoBlock", u"VLPhotoBlock", kClsidVLPhotoBlock, u"CARVIX.VLPhotoBlock", 111,
     kVLPhotoBlockDesc, true, &Create<VLPhotoBlock>},
    {u"VLVariablePersoBlock", u"VLVariablePersoBlock", kClsidVLVariablePersoBlock,
     u"CARVIX.VLVXPersoBlock", 105, kVLVariablePersoBlockDesc, true, &Create<VLVariablePersoBlock>},
    {u"VoluntaryInsurance", u"VoluntaryInsuranceClass", kClsidVoluntaryInsurance,
     u"CARVIX.VoluntaryInsurance", 116, kVoluntaryInsuranceDesc, true, &Create<VoluntaryInsurance>},
    {u"ZKDocumentBlock", u"ZKDocumentBlock", kClsidZKDocumentBlock, u"CARVIX.ZKDocBlock", 113,
     kZKDocumentBlockDesc, true, &Create<ZKDocumentBlock>},
    {u"ZKFixedAdminBlock", u"ZKFixedAdminBlock", kClsidZKFixedAdminBlock, u"CARVIX.ZKFXAdminBlock",
     114, kZKFixedAdminBlockDesc, true, &Create<ZKFixedAdminBlock>},
    {u"ZKFixedPersoBlock", u"ZKFixedPersoBlock", kClsidZKFixedPersoBlock, u"CARVIX.ZKFXPersoBlock",
     115, kZKFixedPersoBlockDesc, true, &Create<ZKFixedPersoBlock>},
    {u"ZKVariableAdminBlock", u"ZKVariableAdminBlock", kClsidZKVariableAdminBlock,
     u"CARVIX.ZKVXAdminBlock", 107, kZKVariableAdminBlockDesc, true, &Create<ZKVariableAdminBlock>},
    {u"ZKVariablePersoBlock", u"ZKVariablePersoBlock", kClsidZKVariablePersoBlock,
     u"CARVIX.ZKVXPersoBlock", 106, kZKVariablePersoBlockDesc, true, &Create<ZKVariablePersoBlock>},
};

}  // namespace

std::span<const ClassEntry> ObjectMap() {
    return kObjectMap;
}

}  // namespace carvix::com
