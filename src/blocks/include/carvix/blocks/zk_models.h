// The block models of the ZK application (the health-insurance booklet). Each member is one
// element; the member order is the element order of an encoded block. Member names are the
// block objects' property names; FieldsOf<Model> beside each model lists them in property
// order (field_description.h).
#pragma once

#include "carvix/blocks/card_block.h"
#include "carvix/blocks/code_element.h"
#include "carvix/blocks/date_element.h"
#include "carvix/blocks/field_description.h"
#include "carvix/blocks/insurance_list_element.h"
#include "carvix/blocks/string_element.h"

// clang-format off

/// Block 0x0D01 of the ZK application; 76 bytes at most.
class ZKDocumentModel final : public CardBlock {
public:
    static constexpr std::uint16_t kBlockId = 0x0D01;
    ZKDocumentModel() : CardBlock(kBlockId) {}
    //                                         tag   max  presence    kind
    StringElement CardID                {*this, 0x611,  9, kMandatory, CodePage::Ascii};
    StringElement BookletID             {*this, 0x612, 11, kMandatory, CodePage::Ascii};
    DateElement   DateOfIssue           {*this, 0x613,     kMandatory};
    DateElement   DateOfExpiry          {*this, 0x614,     kMandatory};
    StringElement ChipSerialNumber      {*this, 0x615, 16, kMandatory, CodePage::Ascii};
};

template <>
struct FieldsOf<ZKDocumentModel> {
    using M = ZKDocumentModel;
    static constexpr FieldDesc<M> kAll[] = {
        Field(u"CardID", &M::CardID),
        Field(u"BookletID", &M::BookletID),
        Field(u"DateOfIssue", &M::DateOfIssue),
        Field(u"DateOfExpiry", &M::DateOfExpiry),
        Field(u"ChipSerialNumber", &M::ChipSerialNumber),
    };
};

/// Block 0x0D02 of the ZK application; 663 bytes at most.
class ZKFixedPersoModel final : public CardBlock {
public:
    static constexpr std::uint16_t kBlockId = 0x0D02;
    ZKFixedPersoModel() : CardBlock(kBlockId) {}
    //                                         tag    max  presence    kind
    StringElement IDNumber              {*this, 0x621,  13, kMandatory, CodePage::Ascii};
    StringElement LastName              {*this, 0x622, 100, kMandatory, CodePage::Utf16};
    StringElement LastNameLatin         {*this, 0x722, 100, kMandatory, CodePage::Utf16};
    StringElement FirstName             {*this, 0x623, 100, kMandatory, CodePage::Utf16};
    StringElement FirstNameLatin        {*this, 0x723, 100, kMandatory, CodePage::Utf16};
    DateElement   DateOfBirth           {*this, 0x624,      kMandatory};
    StringElement ParentName            {*this, 0x625, 100, kMandatory, CodePage::Utf16};
    StringElement ParentNameLatin       {*this, 0x725, 100, kMandatory, CodePage::Utf16};
    CodeElement   Gender                {*this, 0x704,   2, kMandatory, CodeTables::GenderCodes()};
};

template <>
struct FieldsOf<ZKFixedPersoModel> {
    using M = ZKFixedPersoModel;
    static constexpr FieldDesc<M> kAll[] = {
        Field(u"IDNumber", &M::IDNumber),
        Field(u"LastName", &M::LastName),
        Field(u"LastNameLatin", &M::LastNameLatin),
        Field(u"FirstName", &M::FirstName),
        Field(u"FirstNameLatin", &M::FirstNameLatin),
        Field(u"DateOfBirth", &M::DateOfBirth),
        Field(u"ParentName", &M::ParentName),
        Field(u"ParentNameLatin", &M::ParentNameLatin),
        Field(u"Gender", &M::Gender),
    };
};

/// Block 0x0E01; 725 bytes at most. Tags 0x75E to 0x760 are not used.
class ZKFixedAdminModel final : public CardBlock {
public:
    static constexpr std::uint16_t kBlockId = 0x0E01;
    ZKFixedAdminModel() : CardBlock(kBlockId) {}
    //                                               tag    max  presence    kind
    StringElement InsurantNumber              {*this, 0x751,  11, kMandatory, CodePage::Ascii};
    StringElement RZZOUserRegistrationNumber  {*this, 0x752,  10, kMandatory, CodePage::Ascii};
    StringElement CarrierRelationship         {*this, 0x753,  30, kOptional,  CodePage::Utf16};
    StringElement InsuranceBasisRZZOCode      {*this, 0x754,   4, kMandatory, CodePage::Ascii};
    StringElement InsuranceBasisRZZO          {*this, 0x755,  40, kMandatory, CodePage::Utf16};
    StringElement InsuranceBasisFSOVOCode     {*this, 0x756,   2, kMandatory, CodePage::Ascii};
    CodeElement   CarrierFamilyMember         {*this, 0x757,   1, kOptional,  CodeTables::CarrierFamilyMemberCodes()};
    StringElement CarrierIdNumber             {*this, 0x758,  13, kOptional,  CodePage::Ascii};
    StringElement CarrierInsurantNumber       {*this, 0x759,  11, kOptional,  CodePage::Ascii};
    StringElement CarrierLastName             {*this, 0x75A, 100, kOptional,  CodePage::Utf16};
    StringElement CarrierLastNameLatin        {*this, 0x75B, 100, kOptional,  CodePage::Utf16};
    StringElement CarrierFirstName            {*this, 0x75C, 100, kOptional,  CodePage::Utf16};
    StringElement CarrierFirstNameLatin       {*this, 0x75D, 100, kOptional,  CodePage::Utf16};
    DateElement   InsuredFrom                 {*this, 0x761,      kMandatory};
    StringElement CountryCode                 {*this, 0x762,   3, kMandatory, CodePage::Ascii};
    StringElement Country                     {*this, 0x763,  60, kMandatory, CodePage::Utf16};
    StringElement CountryLatin                {*this, 0x764,  60, kMandatory, CodePage::Utf16};
};

template <>
struct FieldsOf<ZKFixedAdminModel> {
    using M = ZKFixedAdminModel;
    static constexpr FieldDesc<M> kAll[] = {
        Field(u"InsurantNumber", &M::InsurantNumber),
        Field(u"RZZOUserRegistrationNumber", &M::RZZOUserRegistrationNumber),
        Field(u"CarrierRelationship", &M::CarrierRelationship, Requirement::Optional),
        Field(u"InsuranceBasisRZZOCode", &M::InsuranceBasisRZZOCode),
        Field(u"InsuranceBasisRZZO", &M::InsuranceBasisRZZO),
        Field(u"InsuranceBasisFSOVOCode", &M::InsuranceBasisFSOVOCode),
        Field(u"CarrierFamilyMember", &M::CarrierFamilyMember, Requirement::Optional),
        Field(u"CarrierIdNumber", &M::CarrierIdNumber, Requirement::Optional),
        Field(u"CarrierInsurantNumber", &M::CarrierInsurantNumber, Requirement::Optional),
        Field(u"CarrierLastName", &M::CarrierLastName, Requirement::Optional),
        Field(u"CarrierLastNameLatin", &M::CarrierLastNameLatin, Requirement::Optional),
        Field(u"CarrierFirstName", &M::CarrierFirstName, Requirement::Optional),
        Field(u"CarrierFirstNameLatin", &M::CarrierFirstNameLatin, Requirement::Optional),
        Field(u"InsuredFrom", &M::InsuredFrom),
        Field(u"CountryCode", &M::CountryCode),
        Field(u"Country", &M::Country),
        Field(u"CountryLatin", &M::CountryLatin),
    };
};

/// Block 0x0E02, read and written; 2131 bytes at most. Tag 0x780 is not used.
class ZKVariableAdminModel final : public CardBlock {
public:
    static constexpr std::uint16_t kBlockId = 0x0E02;
    ZKVariableAdminModel() : CardBlock(kBlockId) {}
    //                                                 tag    max  presence    kind
    InsuranceListElement VoluntaryInsurances    {*this, 0x801, 260, kOptional};
    StringElement        InsurerName            {*this, 0x773, 400, kMandatory, CodePage::Utf16};
    StringElement        InsurerNameLatin       {*this, 0x774, 400, kMandatory, CodePage::Utf16};
    StringElement        InsurerID              {*this, 0x775,  15, kMandatory, CodePage::Ascii};
    StringElement        BookletIssuerCode      {*this, 0x776,   3, kOptional,  CodePage::Ascii};
    StringElement        InsurerBranch          {*this, 0x777,  40, kOptional,  CodePage::Utf16};
    StringElement        InsurerBranchLatin     {*this, 0x778,  40, kOptional,  CodePage::Utf16};
    StringElement        InsurerOffice          {*this, 0x779,  40, kOptional,  CodePage::Utf16};
    StringElement        InsurerOfficeLatin     {*this, 0x77A,  40, kOptional,  CodePage::Utf16};
    StringElement        TaxpayerName           {*this, 0x77B, 200, kMandatory, CodePage::Utf16};
    StringElement        TaxpayerNameLatin      {*this, 0x77C, 200, kMandatory, CodePage::Utf16};
    StringElement        TaxpayerResidence      {*this, 0x77D, 200, kMandatory, CodePage::Utf16};
    StringElement        TaxpayerResidenceLatin {*this, 0x77E, 200, kMandatory, CodePage::Utf16};
    StringElement        TaxpayerNumber         {*this, 0x77F,   9, kMandatory, CodePage::Ascii};
    StringElement        TaxpayerActivityCode   {*this, 0x781,   5, kMandatory, CodePage::Ascii};
    StringElement        OfficerInsuranceNumber {*this, 0x782,  11, kOptional,  CodePage::Ascii};
};

template <>
struct FieldsOf<ZKVariableAdminModel> {
    using M = ZKVariableAdminModel;
    static constexpr FieldDesc<M> kAll[] = {
        Field(u"VoluntaryInsurances", &M::VoluntaryInsurances, Requirement::Optional),
        Field(u"InsurerName", &M::InsurerName),
        Field(u"InsurerNameLatin", &M::InsurerNameLatin),
        Field(u"InsurerID", &M::InsurerID),
        Field(u"BookletIssuerCode", &M::BookletIssuerCode, Requirement::Optional),
        Field(u"InsurerBranch", &M::InsurerBranch, Requirement::Optional),
        Field(u"InsurerBranchLatin", &M::InsurerBranchLatin, Requirement::Optional),
        Field(u"InsurerOffice", &M::InsurerOffice, Requirement::Optional),
        Field(u"InsurerOfficeLatin", &M::InsurerOfficeLatin, Requirement::Optional),
        Field(u"TaxpayerName", &M::TaxpayerName),
        Field(u"TaxpayerNameLatin", &M::TaxpayerNameLatin),
        Field(u"TaxpayerResidence", &M::TaxpayerResidence),
        Field(u"TaxpayerResidenceLatin", &M::TaxpayerResidenceLatin),
        Field(u"TaxpayerNumber", &M::TaxpayerNumber),
        Field(u"TaxpayerActivityCode", &M::TaxpayerActivityCode),
        Field(u"OfficerInsuranceNumber", &M::OfficerInsuranceNumber, Requirement::Optional),
    };
};

/// Block 0x0D03 of the ZK application (the address), read and written; 985 bytes at most.
/// Number is the system's one UTF-8 element: 5 bytes, so fewer characters when letters
/// outside ASCII take two bytes or more.
class ZKVariablePersoModel final : public CardBlock {
public:
    static constexpr std::uint16_t kBlockId = 0x0D03;
    ZKVariablePersoModel() : CardBlock(kBlockId) {}
    //                                         tag    max  presence    kind
    StringElement Street                {*this, 0x731, 300, kMandatory, CodePage::Utf16};
    StringElement StreetLatin           {*this, 0x732, 300, kMandatory, CodePage::Utf16};
    StringElement PostNumber            {*this, 0x733,  10, kOptional,  CodePage::Ascii};
    StringElement Municipality          {*this, 0x734,  60, kMandatory, CodePage::Utf16};
    StringElement MunicipalityLatin     {*this, 0x735,  60, kMandatory, CodePage::Utf16};
    StringElement Place                 {*this, 0x736,  60, kMandatory, CodePage::Utf16};
    StringElement PlaceLatin            {*this, 0x737,  60, kMandatory, CodePage::Utf16};
    StringElement PAK                   {*this, 0x738,  15, kOptional,  CodePage::Ascii};
    StringElement StreetCode            {*this, 0x739,   5, kOptional,  CodePage::Ascii};
    StringElement Number                {*this, 0x73A,   5, kOptional,  CodePage::Utf8};
    StringElement Entrance              {*this, 0x73B,  10, kOptional,  CodePage::Utf16};
    StringElement EntranceLatin         {*this, 0x73C,  10, kOptional,  CodePage::Utf16};
    StringElement Apartment             {*this, 0x73D,  10, kOptional,  CodePage::Utf16};
    DateElement   DateOfIssue           {*this, 0x771,      kOptional};
    DateElement   DateOfExpiry          {*this, 0x772,      kOptional};
};

template <>
struct FieldsOf<ZKVariablePersoModel> {
    using M = ZKVariablePersoModel;
    static constexpr FieldDesc<M> kAll[] = {
        Field(u"Street", &M::Street),
        Field(u"StreetLatin", &M::StreetLatin),
        Field(u"PostNumber", &M::PostNumber, Requirement::Optional),
        Field(u"Municipality", &M::Municipality),
        Field(u"MunicipalityLatin", &M::MunicipalityLatin),
        Field(u"Place", &M::Place),
        Field(u"PlaceLatin", &M::PlaceLatin),
        Field(u"PAK", &M::PAK, Requirement::Optional),
        Field(u"StreetCode", &M::StreetCode, Requirement::Optional),
        Field(u"Number", &M::Number, Requirement::Optional),
        Field(u"Entrance", &M::Entrance, Requirement::Optional),
        Field(u"EntranceLatin", &M::EntranceLatin, Requirement::Optional),
        Field(u"Apartment", &M::Apartment, Requirement::Optional),
        Field(u"DateOfIssue", &M::DateOfIssue, Requirement::Optional),
        Field(u"DateOfExpiry", &M::DateOfExpiry, Requirement::Optional),
    };
};

template <>
struct FieldsOf<VoluntaryInsuranceRecord> {
    using M = VoluntaryInsuranceRecord;
    static constexpr FieldDesc<M> kAll[] = {
        Field(u"Code", &M::Code),
        Field(u"PolicyCode", &M::PolicyCode),
        Field(u"ValidTo", &M::ValidTo),
    };
};

// clang-format on
