// The block classes whose properties are plain fields: ten of the eleven block classes and
// CARVIX.VoluntaryInsurance. ZKVariableAdminBlock, which also holds the voluntary-insurance
// array, has its own header.
#pragma once

#include "block_object.h"
#include "carvix/com/block_interfaces.h"

namespace carvix::com {

extern const automation::InterfaceDesc kVLDocumentBlockDesc;
extern const automation::InterfaceDesc kVLFixedPersoBlockDesc;
extern const automation::InterfaceDesc kVLPhotoBlockDesc;
extern const automation::InterfaceDesc kVLVariablePersoBlockDesc;
extern const automation::InterfaceDesc kVLContactlessBlockDesc;
extern const automation::InterfaceDesc kZKDocumentBlockDesc;
extern const automation::InterfaceDesc kZKFixedAdminBlockDesc;
extern const automation::InterfaceDesc kZKFixedPersoBlockDesc;
extern const automation::InterfaceDesc kZKVariablePersoBlockDesc;
extern const automation::InterfaceDesc kVoluntaryInsuranceDesc;

using VLDocumentBlock = BlockObject<IVLDocumentBlock, kVLDocumentBlockDesc, ObjectSafety>;
using VLFixedPersoBlock = BlockObject<IVLFixedPersoBlock, kVLFixedPersoBlockDesc, ObjectSafety>;
using VLPhotoBlock = BlockObject<IVLPhotoBlock, kVLPhotoBlockDesc, ObjectSafety>;
using VLVariablePersoBlock =
    BlockObject<IVLVariablePersoBlock, kVLVariablePersoBlockDesc, ObjectSafety>;
// The contactless block alone does not answer IObjectSafety.
using VLContactlessBlock = BlockObject<IVLContactlessBlock, kVLContactlessBlockDesc>;
using ZKDocumentBlock = BlockObject<IZKDocumentBlock, kZKDocumentBlockDesc, ObjectSafety>;
using ZKFixedAdminBlock = BlockObject<IZKFixedAdminBlock, kZKFixedAdminBlockDesc, ObjectSafety>;
using ZKFixedPersoBlock = BlockObject<IZKFixedPersoBlock, kZKFixedPersoBlockDesc, ObjectSafety>;
using ZKVariablePersoBlock =
    BlockObject<IZKVariablePersoBlock, kZKVariablePersoBlockDesc, ObjectSafety>;
/// One entry of the voluntary-insurance list; its model is a VoluntaryInsuranceRecord.
using VoluntaryInsurance = BlockObject<IVoluntaryInsurance, kVoluntaryInsuranceDesc, ObjectSafety>;

}  // namespace carvix::com
