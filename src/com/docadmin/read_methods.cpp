#include "read_methods.h"

#include "carvix/blocks/vl_models.h"
#include "carvix/blocks/zk_models.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/com/guids.h"

namespace carvix::com {
namespace {

template <class Model>
std::unique_ptr<CardBlock> Make() {
    return std::make_unique<Model>();
}

// One read: the block ID comes from the model, the interface ID from the block interface.
template <class Block, class Model>
constexpr ReadMethod Row(const char16_t* name, const CLSID& clsid) {
    return {name, Model::kBlockId, clsid, Block::kIid, &Make<Model>};
}

}  // namespace

constinit const ReadMethod kReadVLDocument =
    Row<IVLDocumentBlock, VLDocumentModel>(u"ReadVLDocumentData", kClsidVLDocumentBlock);
constinit const ReadMethod kReadVLFixedPerso =
    Row<IVLFixedPersoBlock, VLFixedPersoModel>(u"ReadVLFixedPersoData", kClsidVLFixedPersoBlock);
constinit const ReadMethod kReadVLPhoto =
    Row<IVLPhotoBlock, VLPhotoModel>(u"ReadVLPhotoData", kClsidVLPhotoBlock);
constinit const ReadMethod kReadVLVariablePerso = Row<IVLVariablePersoBlock, VLVariablePersoModel>(
    u"ReadVLVariablePersoData", kClsidVLVariablePersoBlock);
constinit const ReadMethod kReadZKDocument =
    Row<IZKDocumentBlock, ZKDocumentModel>(u"ReadZKDocumentData", kClsidZKDocumentBlock);
constinit const ReadMethod kReadZKFixedAdmin =
    Row<IZKFixedAdminBlock, ZKFixedAdminModel>(u"ReadZKFixedAdminData", kClsidZKFixedAdminBlock);
constinit const ReadMethod kReadZKFixedPerso =
    Row<IZKFixedPersoBlock, ZKFixedPersoModel>(u"ReadZKFixedPersoData", kClsidZKFixedPersoBlock);
constinit const ReadMethod kReadZKVariableAdmin = Row<IZKVariableAdminBlock, ZKVariableAdminModel>(
    u"ReadZKVariableAdminData", kClsidZKVariableAdminBlock);
constinit const ReadMethod kReadZKVariablePerso = Row<IZKVariablePersoBlock, ZKVariablePersoModel>(
    u"ReadZKVariablePersoData", kClsidZKVariablePersoBlock);

std::span<const ReadMethod* const> ReadMethods() {
    static const ReadMethod* const kAll[] = {
        &kReadVLDocument,      &kReadVLFixedPerso,    &kReadVLPhoto,
        &kReadVLVariablePerso, &kReadZKDocument,      &kReadZKFixedAdmin,
        &kReadZKFixedPerso,    &kReadZKVariableAdmin, &kReadZKVariablePerso};
    return kAll;
}

}  // namespace carvix::com
