#include "read_methods.h"

#include "carvix/blocks/vl_models.h"
#include "carvix/blocks/zk_models.h"
#include "carvix/com/guids.h"

namespace carvix::com {
namespace {

template <class Model>
std::unique_ptr<CardBlock> Make() {
    return std::make_unique<Model>();
}

}  // namespace

const ReadMethod kReadVLDocument{u"ReadVLDocumentData", VLDocumentModel::kBlockId,
                                 kClsidVLDocumentBlock, kIidIVLDocumentBlock,
                                 &Make<VLDocumentModel>};
const ReadMethod kReadVLFixedPerso{u"ReadVLFixedPersoData", VLFixedPersoModel::kBlockId,
                                   kClsidVLFixedPersoBlock, kIidIVLFixedPersoBlock,
                                   &Make<VLFixedPersoModel>};
const ReadMethod kReadVLPhoto{u"ReadVLPhotoData", VLPhotoModel::kBlockId, kClsidVLPhotoBlock,
                              kIidIVLPhotoBlock, &Make<VLPhotoModel>};
const ReadMethod kReadVLVariablePerso{u"ReadVLVariablePersoData", VLVariablePersoModel::kBlockId,
                                      kClsidVLVariablePersoBlock, kIidIVLVariablePersoBlock,
                                      &Make<VLVariablePersoModel>};
const ReadMethod kReadZKDocument{u"ReadZKDocumentData", ZKDocumentModel::kBlockId,
                                 kClsidZKDocumentBlock, kIidIZKDocumentBlock,
                                 &Make<ZKDocumentModel>};
const ReadMethod kReadZKFixedAdmin{u"ReadZKFixedAdminData", ZKFixedAdminModel::kBlockId,
                                   kClsidZKFixedAdminBlock, kIidIZKFixedAdminBlock,
                                   &Make<ZKFixedAdminModel>};
const ReadMethod kReadZKFixedPerso{u"ReadZKFixedPersoData", ZKFixedPersoModel::kBlockId,
                                   kClsidZKFixedPersoBlock, kIidIZKFixedPersoBlock,
                                   &Make<ZKFixedPersoModel>};
const ReadMethod kReadZKVariableAdmin{u"ReadZKVariableAdminData", ZKVariableAdminModel::kBlockId,
                                      kClsidZKVariableAdminBlock, kIidIZKVariableAdminBlock,
                                      &Make<ZKVariableAdminModel>};
const ReadMethod kReadZKVariablePerso{u"ReadZKVariablePersoData", ZKVariablePersoModel::kBlockId,
                                      kClsidZKVariablePersoBlock, kIidIZKVariablePersoBlock,
                                      &Make<ZKVariablePersoModel>};

std::span<const ReadMethod* const> ReadMethods() {
    static const ReadMethod* const kAll[] = {
        &kReadVLDocument,      &kReadVLFixedPerso,    &kReadVLPhoto,
        &kReadVLVariablePerso, &kReadZKDocument,      &kReadZKFixedAdmin,
        &kReadZKFixedPerso,    &kReadZKVariableAdmin, &kReadZKVariablePerso};
    return kAll;
}

}  // namespace carvix::com
