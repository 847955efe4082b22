#include "model_fields.h"

#include "carvix/blocks/vl_models.h"
#include "carvix/blocks/zk_models.h"
#include "perso_error.h"

namespace carvix::perso {
namespace {

// The fields come from the model's own description (FieldsOf, beside the model); their
// names are ASCII.
template <typename Model>
ModelKind Kind(std::string name) {
    std::vector<FieldRef> fields;
    for (const FieldDesc<Model>& field : FieldsOfOwner<Model>()) {
        std::string fieldName;
        for (const char16_t* c = field.name; *c != u'\0'; ++c) {
            fieldName.push_back(static_cast<char>(*c));
        }
        fields.push_back(FieldRef{std::move(fieldName), [&field](CardBlock& b) -> TlvElement& {
                                      return *ElementOf(static_cast<Model&>(b), field);
                                  }});
    }
    return ModelKind{std::move(name), Model::kBlockId,
                     [] { return std::unique_ptr<CardBlock>(new Model()); }, std::move(fields)};
}

const std::vector<ModelKind>& VlModels() {
    static const std::vector<ModelKind> models = {
        Kind<VLDocumentModel>("VLDocument"),
        Kind<VLFixedPersoModel>("VLFixedPerso"),
        Kind<VLVariablePersoModel>("VLVariablePerso"),
        Kind<VLPhotoModel>("VLPhoto"),
    };
    return models;
}

const std::vector<ModelKind>& ZkModels() {
    static const std::vector<ModelKind> models = {
        Kind<ZKDocumentModel>("ZKDocument"),           Kind<ZKFixedPersoModel>("ZKFixedPerso"),
        Kind<ZKVariablePersoModel>("ZKVariablePerso"), Kind<ZKFixedAdminModel>("ZKFixedAdmin"),
        Kind<ZKVariableAdminModel>("ZKVariableAdmin"),
    };
    return models;
}

}  // namespace

const std::vector<ModelKind>& ModelsFor(std::uint16_t applicationId) {
    if (applicationId >= 1 && applicationId <= 4) {
        return VlModels();
    }
    if (applicationId == 5) {
        return ZkModels();
    }
    throw PersoError("application ID " + std::to_string(applicationId) +
                     " has no data blocks (use 1 to 4 for VL, 5 for ZK)");
}

}  // namespace carvix::perso
