#include "blocks.h"

namespace carvix::cli {
namespace {

constexpr Kind T = Kind::Text;
constexpr Kind D = Kind::Date;
constexpr Kind N = Kind::Number;

constexpr Property kVLDocument[] = {
    {u"CardID", T, false},
    {u"DateOfIssue", D, false},
    {u"DateOfExpiry", D, false},
    {u"ChipSerialNumber", T, false},
};
constexpr Property kVLFixed[] = {
    {u"PersonalNumber", T, false}, {u"LastName", T, false},    {u"FirstName", T, false},
    {u"ParentName", T, false},     {u"DateOfBirth", D, false}, {u"Status", N, false},
    {u"BloodType", N, false},
};
constexpr Property kVLPhoto[] = {{u"Photo", Kind::Photo, false}};
constexpr Property kVLVariable[] = {
    {u"Rank", N, true},
    {u"UnitNo", T, true},
    {u"OrgUnit", T, false},
    {u"ServiceSite", T, false},
    {u"ServiceStartDate", D, false},
    {u"ServiceEndDate", D, true},
    {u"HealthWorkerID", T, true},
};
constexpr Property kZKDocument[] = {
    {u"CardID", T, false},       {u"BookletID", T, false},        {u"DateOfIssue", D, false},
    {u"DateOfExpiry", D, false}, {u"ChipSerialNumber", T, false},
};
constexpr Property kZKFixedAdmin[] = {
    {u"InsurantNumber", T, false},       {u"RZZOUserRegistrationNumber", T, false},
    {u"CarrierRelationship", T, true},   {u"InsuranceBasisRZZOCode", T, false},
    {u"InsuranceBasisRZZO", T, false},   {u"InsuranceBasisFSOVOCode", T, false},
    {u"CarrierFamilyMember", N, true},   {u"CarrierIdNumber", T, true},
    {u"CarrierInsurantNumber", T, true}, {u"CarrierLastName", T, true},
    {u"CarrierLastNameLatin", T, true},  {u"CarrierFirstName", T, true},
    {u"CarrierFirstNameLatin", T, true}, {u"InsuredFrom", D, false},
    {u"CountryCode", T, false},          {u"Country", T, false},
    {u"CountryLatin", T, false},
};
constexpr Property kZKFixed[] = {
    {u"IDNumber", T, false},   {u"LastName", T, false},        {u"LastNameLatin", T, false},
    {u"FirstName", T, false},  {u"FirstNameLatin", T, false},  {u"DateOfBirth", D, false},
    {u"ParentName", T, false}, {u"ParentNameLatin", T, false}, {u"Gender", N, false},
};
constexpr Property kZKVariableAdmin[] = {
    {u"VoluntaryInsurances", Kind::Insurances, false},
    {u"InsurerName", T, false},
    {u"InsurerNameLatin", T, false},
    {u"InsurerID", T, false},
    {u"BookletIssuerCode", T, true},
    {u"InsurerBranch", T, true},
    {u"InsurerBranchLatin", T, true},
    {u"InsurerOffice", T, true},
    {u"InsurerOfficeLatin", T, true},
    {u"TaxpayerName", T, false},
    {u"TaxpayerNameLatin", T, false},
    {u"TaxpayerResidence", T, false},
    {u"TaxpayerResidenceLatin", T, false},
    {u"TaxpayerNumber", T, false},
    {u"TaxpayerActivityCode", T, false},
    {u"OfficerInsuranceNumber", T, true},
};
constexpr Property kZKVariable[] = {
    {u"Street", T, false},
    {u"StreetLatin", T, false},
    {u"PostNumber", T, true},
    {u"Municipality", T, false},
    {u"MunicipalityLatin", T, false},
    {u"Place", T, false},
    {u"PlaceLatin", T, false},
    {u"PAK", T, true},
    {u"StreetCode", T, true},
    {u"Number", T, true},
    {u"Entrance", T, true},
    {u"EntranceLatin", T, true},
    {u"Apartment", T, true},
    {u"DateOfIssue", D, true},
    {u"DateOfExpiry", D, true},
};
constexpr Property kInsurance[] = {
    {u"Code", T, false},
    {u"PolicyCode", T, false},
    {u"ValidTo", D, false},
};

constexpr BlockInfo kBlocks[] = {
    {"vl-document", u"ReadVLDocumentData", false, kVLDocument},
    {"vl-fixed", u"ReadVLFixedPersoData", false, kVLFixed},
    {"vl-photo", u"ReadVLPhotoData", false, kVLPhoto},
    {"vl-variable", u"ReadVLVariablePersoData", false, kVLVariable},
    {"zk-document", u"ReadZKDocumentData", true, kZKDocument},
    {"zk-fixed-admin", u"ReadZKFixedAdminData", true, kZKFixedAdmin},
    {"zk-fixed", u"ReadZKFixedPersoData", true, kZKFixed},
    {"zk-variable-admin", u"ReadZKVariableAdminData", true, kZKVariableAdmin},
    {"zk-variable", u"ReadZKVariablePersoData", true, kZKVariable},
};

}  // namespace

std::span<const BlockInfo> Blocks() {
    return kBlocks;
}

const BlockInfo* FindBlock(const std::string& cliName) {
    for (const BlockInfo& block : kBlocks) {
        if (cliName == block.cliName) {
            return &block;
        }
    }
    return nullptr;
}

std::span<const Property> InsuranceProperties() {
    return kInsurance;
}

}  // namespace carvix::cli
