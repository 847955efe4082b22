// The ZK application's block classes (but the variable administrative block) and the
// voluntary insurance.
#include "block_classes.h"
#include "carvix/blocks/zk_models.h"

namespace carvix::com {

// clang-format off
CARVIX_DEFINE_READ_ONLY_BLOCK(ZKDocumentBlock, IZKDocumentBlock, ZKDocumentModel,
                              CARVIX_ZK_DOCUMENT_FIELDS, kLoadHelp)
CARVIX_DEFINE_READ_ONLY_BLOCK(ZKFixedAdminBlock, IZKFixedAdminBlock, ZKFixedAdminModel,
                              CARVIX_ZK_FIXED_ADMIN_FIELDS, kLoadHelp)
CARVIX_DEFINE_READ_ONLY_BLOCK(ZKFixedPersoBlock, IZKFixedPersoBlock, ZKFixedPersoModel,
                              CARVIX_ZK_FIXED_PERSO_FIELDS, kLoadHelp)
CARVIX_DEFINE_WRITABLE_BLOCK(ZKVariablePersoBlock, IZKVariablePersoBlock, ZKVariablePersoModel,
                             CARVIX_ZK_VARIABLE_PERSO_FIELDS, kLoadHelp, kStoreHelp)
CARVIX_DEFINE_WRITABLE_BLOCK(VoluntaryInsurance, IVoluntaryInsurance, VoluntaryInsuranceRecord,
                             CARVIX_VOLUNTARY_INSURANCE_FIELDS, kLoadHelp, kStoreHelp)
// clang-format on

}  // namespace carvix::com
