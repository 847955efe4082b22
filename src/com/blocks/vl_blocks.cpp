// The VL application's block classes and the contactless block.
#include "block_classes.h"
#include "carvix/blocks/vl_models.h"

namespace carvix::com {

// clang-format off
CARVIX_DEFINE_READ_ONLY_BLOCK(VLDocumentBlock, IVLDocumentBlock, VLDocumentModel,
                              CARVIX_VL_DOCUMENT_FIELDS, kVLLoadHelp)
CARVIX_DEFINE_READ_ONLY_BLOCK(VLFixedPersoBlock, IVLFixedPersoBlock, VLFixedPersoModel,
                              CARVIX_VL_FIXED_PERSO_FIELDS, kVLLoadHelp)
CARVIX_DEFINE_READ_ONLY_BLOCK(VLPhotoBlock, IVLPhotoBlock, VLPhotoModel,
                              CARVIX_VL_PHOTO_FIELDS, kVLLoadHelp)
CARVIX_DEFINE_WRITABLE_BLOCK(VLVariablePersoBlock, IVLVariablePersoBlock, VLVariablePersoModel,
                             CARVIX_VL_VARIABLE_PERSO_FIELDS, kVLLoadHelp, kVLStoreHelp)
CARVIX_DEFINE_READ_ONLY_BLOCK(VLContactlessBlock, IVLContactlessBlock, VLContactlessModel,
                              CARVIX_VL_CONTACTLESS_FIELDS, kLoadHelp)
// clang-format on

}  // namespace carvix::com
