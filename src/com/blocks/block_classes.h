// The block classes whose properties are plain fields: ten of the eleven block classes and
// CARVIX.VoluntaryInsurance. Each is declared from its property list in block_fields.h;
// ZKVariableAdminBlock, which also holds the voluntary-insurance array, has its own header.
#pragma once

#include "block_macros.h"
#include "carvix/com/block_interfaces.h"

namespace carvix::com {

// clang-format off
CARVIX_READ_ONLY_BLOCK_CLASS(VLDocumentBlock, IVLDocumentBlock, CARVIX_VL_DOCUMENT_FIELDS, ObjectSafety)
CARVIX_READ_ONLY_BLOCK_CLASS(VLFixedPersoBlock, IVLFixedPersoBlock, CARVIX_VL_FIXED_PERSO_FIELDS, ObjectSafety)
CARVIX_READ_ONLY_BLOCK_CLASS(VLPhotoBlock, IVLPhotoBlock, CARVIX_VL_PHOTO_FIELDS, ObjectSafety)
CARVIX_WRITABLE_BLOCK_CLASS(VLVariablePersoBlock, IVLVariablePersoBlock, CARVIX_VL_VARIABLE_PERSO_FIELDS, ObjectSafety)
// The contactless block alone does not answer IObjectSafety.
CARVIX_READ_ONLY_BLOCK_CLASS(VLContactlessBlock, IVLContactlessBlock, CARVIX_VL_CONTACTLESS_FIELDS)
CARVIX_READ_ONLY_BLOCK_CLASS(ZKDocumentBlock, IZKDocumentBlock, CARVIX_ZK_DOCUMENT_FIELDS, ObjectSafety)
CARVIX_READ_ONLY_BLOCK_CLASS(ZKFixedAdminBlock, IZKFixedAdminBlock, CARVIX_ZK_FIXED_ADMIN_FIELDS, ObjectSafety)
CARVIX_READ_ONLY_BLOCK_CLASS(ZKFixedPersoBlock, IZKFixedPersoBlock, CARVIX_ZK_FIXED_PERSO_FIELDS, ObjectSafety)
CARVIX_WRITABLE_BLOCK_CLASS(ZKVariablePersoBlock, IZKVariablePersoBlock, CARVIX_ZK_VARIABLE_PERSO_FIELDS, ObjectSafety)
/// One entry of the voluntary-insurance list; its Load and Store take a
/// VoluntaryInsuranceRecord.
CARVIX_WRITABLE_BLOCK_CLASS(VoluntaryInsurance, IVoluntaryInsurance, CARVIX_VOLUNTARY_INSURANCE_FIELDS, ObjectSafety)
// clang-format on

}  // namespace carvix::com
