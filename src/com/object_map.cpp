// The object map: every class the module serves, in registration order.
//
// The full order is AuthenticationService (script 112), DocAdminService (108), PKIService
// (103), SignerTrustService (118), SmartCardService (102), UtilitiesService (104),
// WholeCardService (119), then the block classes in one run: VLContactlessBlock (117),
// VLDocumentBlock (109), VLFixedPersoBlock (110), VLPhotoBlock (111), VLVariablePersoBlock (105),
// VoluntaryInsurance (116, coclass VoluntaryInsuranceClass), ZKDocumentBlock (113),
// ZKFixedAdminBlock (114), ZKFixedPersoBlock (115), ZKVariableAdminBlock (107),
// ZKVariablePersoBlock (106). A class joins by inserting its row at its place; the GUIDs are
// in guids.h (SignerTrustService's and WholeCardService's beside their interfaces).
// VLContactlessBlock is the one class without IObjectSafety.
#include "auth/authentication_service.h"
#include "blocks/block_object.h"
#include "blocks/zk_variable_admin_block.h"
#include "carvix/com/module.h"
#include "carvix/com/object.h"
#include "docadmin/docadmin_service.h"
#include "pki/pki_service.h"
#include "smartcard/smartcard_service.h"
#include "trust/signer_trust_service.h"
#include "utilities/utilities_service.h"
#include "wholecard/whole_card_service.h"

namespace carvix::com {
namespace {

// clang-format off
const ClassEntry kObjectMap[] = {
    {u"AuthenticationService", u"AuthenticationService", kClsidAuthenticationService,
     u"CARVIX.Auth", 112, kAuthenticationServiceDesc, true, &Create<AuthenticationService>},
    {u"DocAdminService", u"DocAdminService", kClsidDocAdminService, u"CARVIX.DocAdmin", 108,
     kDocAdminServiceDesc, true, &Create<DocAdminService>},
    {u"PKIService", u"PKIService", kClsidPKIService, u"CARVIX.PKI", 103, kPKIServiceDesc, true,
     &Create<PKIService>},
    {u"SignerTrustService", u"SignerTrustService", kClsidSignerTrustService, u"CARVIX.SignerTrust",
     118, kSignerTrustServiceDesc, true, &Create<SignerTrustService>},
    {u"SmartCardService", u"SmartCardService", kClsidSmartCardService, u"CARVIX.SmartCard", 102,
     kSmartCardServiceDesc, true, &Create<SmartCardService>},
    {u"UtilitiesService", u"UtilitiesService", kClsidUtilitiesService, u"CARVIX.Utilities", 104,
     kUtilitiesServiceDesc, true, &Create<UtilitiesService>},
    {u"WholeCardService", u"WholeCardService", kClsidWholeCardService, u"CARVIX.WholeCard", 119,
     kWholeCardServiceDesc, true, &Create<WholeCardService>},
    // The block classes: all of a class follows from its interface (and the interface from
    // its model's field description).
    BlockClassEntry<IVLContactlessBlock>(u"VLContactlessBlock", u"VLContactlessBlock", kClsidVLContactlessBlock, u"CARVIX.VLContactlessBlock", 117),
    BlockClassEntry<IVLDocumentBlock, ObjectSafety>(u"VLDocumentBlock", u"VLDocumentBlock", kClsidVLDocumentBlock, u"CARVIX.VLDocBlock", 109),
    BlockClassEntry<IVLFixedPersoBlock, ObjectSafety>(u"VLFixedPersoBlock", u"VLFixedPersoBlock", kClsidVLFixedPersoBlock, u"CARVIX.VLFXPersoBlock", 110),
    BlockClassEntry<IVLPhotoBlock, ObjectSafety>(u"VLPhotoBlock", u"VLPhotoBlock", kClsidVLPhotoBlock, u"CARVIX.VLPhotoBlock", 111),
    BlockClassEntry<IVLVariablePersoBlock, ObjectSafety>(u"VLVariablePersoBlock", u"VLVariablePersoBlock", kClsidVLVariablePersoBlock, u"CARVIX.VLVXPersoBlock", 105),
    BlockClassEntry<IVoluntaryInsurance, ObjectSafety>(u"VoluntaryInsurance", u"VoluntaryInsuranceClass", kClsidVoluntaryInsurance, u"CARVIX.VoluntaryInsurance", 116),
    BlockClassEntry<IZKDocumentBlock, ObjectSafety>(u"ZKDocumentBlock", u"ZKDocumentBlock", kClsidZKDocumentBlock, u"CARVIX.ZKDocBlock", 113),
    BlockClassEntry<IZKFixedAdminBlock, ObjectSafety>(u"ZKFixedAdminBlock", u"ZKFixedAdminBlock", kClsidZKFixedAdminBlock, u"CARVIX.ZKFXAdminBlock", 114),
    BlockClassEntry<IZKFixedPersoBlock, ObjectSafety>(u"ZKFixedPersoBlock", u"ZKFixedPersoBlock", kClsidZKFixedPersoBlock, u"CARVIX.ZKFXPersoBlock", 115),
    {u"ZKVariableAdminBlock", u"ZKVariableAdminBlock", kClsidZKVariableAdminBlock, u"CARVIX.ZKVXAdminBlock", 107,
     kZKVariableAdminBlockDesc, true, &Create<ZKVariableAdminBlock>},
    BlockClassEntry<IZKVariablePersoBlock, ObjectSafety>(u"ZKVariablePersoBlock", u"ZKVariablePersoBlock", kClsidZKVariablePersoBlock, u"CARVIX.ZKVXPersoBlock", 106),
};
// clang-format on

}  // namespace

std::span<const ClassEntry> ObjectMap() {
    return kObjectMap;
}

}  // namespace carvix::com
