#include "read_methods.h"

#include "carvix/blocks/vl_models.h"
#include "carvix/blocks/zk_models.h"
#include "carvix/com/block_handover.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/com/guids.h"

namespace carvix::com {
namespace {

template <class Model>
std::unique_ptr<CardBlock> Make() {
    return std::make_unique<Model>();
}

// `object` is the block's own interface (it was created asking for Block::kIid).
template <class Block, class Model>
HRESULT Load(IUnknown* object, CardBlock& model) {
    return LoadBlock(static_cast<Block*>(object), static_cast<const Model&>(model));
}

}  // namespace

const ReadMethod kReadVLDocument{u"ReadVLDocumentData",  VLDocumentModel::kBlockId,
                                 kClsidVLDocumentBlock,  kIidIVLDocumentBlock,
                                 &Make<VLDocumentModel>, &Load<IVLDocumentBlock, VLDocumentModel>};
const ReadMethod kReadVLFixedPerso{
    u"ReadVLFixedPersoData",  VLFixedPersoModel::kBlockId,
    kClsidVLFixedPersoBlock,  kIidIVLFixedPersoBlock,
    &Make<VLFixedPersoModel>, &Load<IVLFixedPersoBlock, VLFixedPersoModel>};
const ReadMethod kReadVLPhoto{u"ReadVLPhotoData",  VLPhotoModel::kBlockId,
                              kClsidVLPhotoBlock,  kIidIVLPhotoBlock,
                              &Make<VLPhotoModel>, &Load<IVLPhotoBlock, VLPhotoModel>};
const ReadMethod kReadVLVariablePerso{
    u"ReadVLVariablePersoData",  VLVariablePersoModel::kBlockId,
    kClsidVLVariablePersoBlock,  kIidIVLVariablePersoBlock,
    &Make<VLVariablePersoModel>, &Load<IVLVariablePersoBlock, VLVariablePersoModel>};
const ReadMethod kReadZKDocument{u"ReadZKDocumentData",  ZKDocumentModel::kBlockId,
                                 kClsidZKDocumentBlock,  kIidIZKDocumentBlock,
                                 &Make<ZKDocumentModel>, &Load<IZKDocumentBlock, ZKDocumentModel>};
const ReadMethod kReadZKFixedAdmin{
    u"ReadZKFixedAdminData",  ZKFixedAdminModel::kBlockId,
    kClsidZKFixedAdminBlock,  kIidIZKFixedAdminBlock,
    &Make<ZKFixedAdminModel>, &Load<IZKFixedAdminBlock, ZKFixedAdminModel>};
const ReadMethod kReadZKFixedPerso{
    u"ReadZKFixedPersoData",  ZKFixedPersoModel::kBlockId,
    kClsidZKFixedPersoBlock,  kIidIZKFixedPersoBlock,
    &Make<ZKFixedPersoModel>, &Load<IZKFixedPersoBlock, ZKFixedPersoModel>};
const ReadMethod kReadZKVariableAdmin{
    u"ReadZKVariableAdminData",  ZKVariableAdminModel::kBlockId,
    kClsidZKVariableAdminBlock,  kIidIZKVariableAdminBlock,
    &Make<ZKVariableAdminModel>, &Load<IZKVariableAdminBlock, ZKVariableAdminModel>};
const ReadMethod kReadZKVariablePerso{
    u"ReadZKVariablePersoData",  ZKVariablePersoModel::kBlockId,
    kClsidZKVariablePersoBlock,  kIidIZKVariablePersoBlock,
    &Make<ZKVariablePersoModel>, &Load<IZKVariablePersoBlock, ZKVariablePersoModel>};

std::span<const ReadMethod* const> ReadMethods() {
    static const ReadMethod* const kAll[] = {
        &kReadVLDocument,      &kReadVLFixedPerso,    &kReadVLPhoto,
        &kReadVLVariablePerso, &kReadZKDocument,      &kReadZKFixedAdmin,
        &kReadZKFixedPerso,    &kReadZKVariableAdmin, &kReadZKVariablePerso};
    return kAll;
}

}  // namespace carvix::com
