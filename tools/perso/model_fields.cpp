#include "model_fields.h"

#include "carvix/blocks/vl_models.h"
#include "carvix/blocks/zk_models.h"
#include "perso_error.h"

namespace carvix::perso {
namespace {

#define CARVIX_FIELD(Model, Name)                                                       \
    FieldRef {                                                                          \
#Name, [](CardBlock & b) -> TlvElement& { return static_cast<Model&>(b).Name; } \
    }

template <typename Model>
ModelKind Kind(std::string name, std::vector<FieldRef> fields) {
    return ModelKind{std::move(name), Model::kBlockId,
                     [] { return std::unique_ptr<CardBlock>(new Model()); }, std::move(fields)};
}

const std::vector<ModelKind>& VlModels() {
    static const std::vector<ModelKind> models = {
        Kind<VLDocumentModel>("VLDocument", {CARVIX_FIELD(VLDocumentModel, CardID),
                                             CARVIX_FIELD(VLDocumentModel, DateOfIssue),
                                             CARVIX_FIELD(VLDocumentModel, DateOfExpiry),
                                             CARVIX_FIELD(VLDocumentModel, ChipSerialNumber)}),
        Kind<VLFixedPersoModel>(
            "VLFixedPerso",
            {CARVIX_FIELD(VLFixedPersoModel, PersonalNumber),
             CARVIX_FIELD(VLFixedPersoModel, LastName), CARVIX_FIELD(VLFixedPersoModel, FirstName),
             CARVIX_FIELD(VLFixedPersoModel, DateOfBirth),
             CARVIX_FIELD(VLFixedPersoModel, ParentName), CARVIX_FIELD(VLFixedPersoModel, Status),
             CARVIX_FIELD(VLFixedPersoModel, BloodType)}),
        Kind<VLVariablePersoModel>(
            "VLVariablePerso",
            {CARVIX_FIELD(VLVariablePersoModel, Rank), CARVIX_FIELD(VLVariablePersoModel, UnitNo),
             CARVIX_FIELD(VLVariablePersoModel, OrgUnit),
             CARVIX_FIELD(VLVariablePersoModel, ServiceSite),
             CARVIX_FIELD(VLVariablePersoModel, ServiceStartDate),
             CARVIX_FIELD(VLVariablePersoModel, ServiceEndDate),
             CARVIX_FIELD(VLVariablePersoModel, HealthWorkerID)}),
        Kind<VLPhotoModel>("VLPhoto", {CARVIX_FIELD(VLPhotoModel, Photo)}),
    };
    return models;
}

const std::vector<ModelKind>& ZkModels() {
    static const std::vector<ModelKind> models = {
        Kind<ZKDocumentModel>("ZKDocument", {CARVIX_FIELD(ZKDocumentModel, CardID),
                                             CARVIX_FIELD(ZKDocumentModel, BookletID),
                                             CARVIX_FIELD(ZKDocumentModel, DateOfIssue),
                                             CARVIX_FIELD(ZKDocumentModel, DateOfExpiry),
                                             CARVIX_FIELD(ZKDocumentModel, ChipSerialNumber)}),
        Kind<ZKFixedPersoModel>("ZKFixedPerso", {CARVIX_FIELD(ZKFixedPersoModel, IDNumber),
                                                 CARVIX_FIELD(ZKFixedPersoModel, LastName),
                                                 CARVIX_FIELD(ZKFixedPersoModel, LastNameLatin),
                                                 CARVIX_FIELD(ZKFixedPersoModel, FirstName),
                                                 CARVIX_FIELD(ZKFixedPersoModel, FirstNameLatin),
                                                 CARVIX_FIELD(ZKFixedPersoModel, DateOfBirth),
                                                 CARVIX_FIELD(ZKFixedPersoModel, ParentName),
                                                 CARVIX_FIELD(ZKFixedPersoModel, ParentNameLatin),
                                                 CARVIX_FIELD(ZKFixedPersoModel, Gender)}),
        Kind<ZKVariablePersoModel>("ZKVariablePerso",
                                   {CARVIX_FIELD(ZKVariablePersoModel, Street),
                                    CARVIX_FIELD(ZKVariablePersoModel, StreetLatin),
                                    CARVIX_FIELD(ZKVariablePersoModel, PostNumber),
                                    CARVIX_FIELD(ZKVariablePersoModel, Municipality),
                                    CARVIX_FIELD(ZKVariablePersoModel, MunicipalityLatin),
                                    CARVIX_FIELD(ZKVariablePersoModel, Place),
                                    CARVIX_FIELD(ZKVariablePersoModel, PlaceLatin),
                                    CARVIX_FIELD(ZKVariablePersoModel, PAK),
                                    CARVIX_FIELD(ZKVariablePersoModel, StreetCode),
                                    CARVIX_FIELD(ZKVariablePersoModel, Number),
                                    CARVIX_FIELD(ZKVariablePersoModel, Entrance),
                                    CARVIX_FIELD(ZKVariablePersoModel, EntranceLatin),
                                    CARVIX_FIELD(ZKVariablePersoModel, Apartment),
                                    CARVIX_FIELD(ZKVariablePersoModel, DateOfIssue),
                                    CARVIX_FIELD(ZKVariablePersoModel, DateOfExpiry)}),
        Kind<ZKFixedAdminModel>(
            "ZKFixedAdmin",
            {CARVIX_FIELD(ZKFixedAdminModel, InsurantNumber),
             CARVIX_FIELD(ZKFixedAdminModel, RZZOUserRegistrationNumber),
             CARVIX_FIELD(ZKFixedAdminModel, CarrierRelationship),
             CARVIX_FIELD(ZKFixedAdminModel, InsuranceBasisRZZOCode),
             CARVIX_FIELD(ZKFixedAdminModel, InsuranceBasisRZZO),
             CARVIX_FIELD(ZKFixedAdminModel, InsuranceBasisFSOVOCode),
             CARVIX_FIELD(ZKFixedAdminModel, CarrierFamilyMember),
             CARVIX_FIELD(ZKFixedAdminModel, CarrierIdNumber),
             CARVIX_FIELD(ZKFixedAdminModel, CarrierInsurantNumber),
             CARVIX_FIELD(ZKFixedAdminModel, CarrierLastName),
             CARVIX_FIELD(ZKFixedAdminModel, CarrierLastNameLatin),
             CARVIX_FIELD(ZKFixedAdminModel, CarrierFirstName),
             CARVIX_FIELD(ZKFixedAdminModel, CarrierFirstNameLatin),
             CARVIX_FIELD(ZKFixedAdminModel, InsuredFrom),
             CARVIX_FIELD(ZKFixedAdminModel, CountryCode), CARVIX_FIELD(ZKFixedAdminModel, Country),
             CARVIX_FIELD(ZKFixedAdminModel, CountryLatin)}),
        Kind<ZKVariableAdminModel>("ZKVariableAdmin",
                                   {CARVIX_FIELD(ZKVariableAdminModel, VoluntaryInsurances),
                                    CARVIX_FIELD(ZKVariableAdminModel, InsurerName),
                                    CARVIX_FIELD(ZKVariableAdminModel, InsurerNameLatin),
                                    CARVIX_FIELD(ZKVariableAdminModel, InsurerID),
                                    CARVIX_FIELD(ZKVariableAdminModel, BookletIssuerCode),
                                    CARVIX_FIELD(ZKVariableAdminModel, InsurerBranch),
                                    CARVIX_FIELD(ZKVariableAdminModel, InsurerBranchLatin),
                                    CARVIX_FIELD(ZKVariableAdminModel, InsurerOffice),
                                    CARVIX_FIELD(ZKVariableAdminModel, InsurerOfficeLatin),
                                    CARVIX_FIELD(ZKVariableAdminModel, TaxpayerName),
                                    CARVIX_FIELD(ZKVariableAdminModel, TaxpayerNameLatin),
                                    CARVIX_FIELD(ZKVariableAdminModel, TaxpayerResidence),
                                    CARVIX_FIELD(ZKVariableAdminModel, TaxpayerResidenceLatin),
                                    CARVIX_FIELD(ZKVariableAdminModel, TaxpayerNumber),
                                    CARVIX_FIELD(ZKVariableAdminModel, TaxpayerActivityCode),
                                    CARVIX_FIELD(ZKVariableAdminModel, OfficerInsuranceNumber)}),
    };
    return models;
}

#undef CARVIX_FIELD

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
