// The block models of the VL application (the military identity document) and of the
// contactless extract. Each member is one element; the member order is the element order
// of an encoded block. Member names are the block objects' property names.
#pragma once

#include "carvix/blocks/bytes_element.h"
#include "carvix/blocks/card_block.h"
#include "carvix/blocks/code_element.h"
#include "carvix/blocks/date_element.h"
#include "carvix/blocks/field_description.h"
#include "carvix/blocks/string_element.h"

// clang-format off

/// Block 0x0D01; 61 bytes at most.
class VLDocumentModel final : public CardBlock {
public:
    static constexpr std::uint16_t kBlockId = 0x0D01;
    VLDocumentModel() : CardBlock(kBlockId) {}
    //                                         tag   max  presence    kind
    StringElement CardID                {*this, 0x611,  9, kMandatory, CodePage::Ascii};
    DateElement   DateOfIssue           {*this, 0x613,     kMandatory};
    DateElement   DateOfExpiry          {*this, 0x614,     kMandatory};
    StringElement ChipSerialNumber      {*this, 0x615, 16, kMandatory, CodePage::Ascii};
};

template <>
struct FieldsOf<VLDocumentModel> {
    using M = VLDocumentModel;
    static constexpr FieldDesc<M> kAll[] = {
        Field(u"CardID", &M::CardID),
        Field(u"DateOfIssue", &M::DateOfIssue),
        Field(u"DateOfExpiry", &M::DateOfExpiry),
        Field(u"ChipSerialNumber", &M::ChipSerialNumber),
    };
};

/// Block 0x0D02; 357 bytes at most.
class VLFixedPersoModel final : public CardBlock {
public:
    static constexpr std::uint16_t kBlockId = 0x0D02;
    VLFixedPersoModel() : CardBlock(kBlockId) {}
    //                                         tag    max  presence    kind
    StringElement PersonalNumber        {*this, 0x621,  13, kMandatory, CodePage::Ascii};
    StringElement LastName              {*this, 0x622, 100, kMandatory, CodePage::Utf16};
    StringElement FirstName             {*this, 0x623, 100, kMandatory, CodePage::Utf16};
    DateElement   DateOfBirth           {*this, 0x624,      kMandatory};
    StringElement ParentName            {*this, 0x625, 100, kMandatory, CodePage::Utf16};
    CodeElement   Status                {*this, 0x626,   2, kMandatory, CodeTables::StatusCodes()};
    CodeElement   BloodType             {*this, 0x627,   2, kMandatory, CodeTables::BloodTypeCodes()};
};

template <>
struct FieldsOf<VLFixedPersoModel> {
    using M = VLFixedPersoModel;
    static constexpr FieldDesc<M> kAll[] = {
        Field(u"PersonalNumber", &M::PersonalNumber),
        Field(u"LastName", &M::LastName),
        Field(u"FirstName", &M::FirstName),
        Field(u"ParentName", &M::ParentName),
        Field(u"DateOfBirth", &M::DateOfBirth),
        Field(u"Status", &M::Status),
        Field(u"BloodType", &M::BloodType),
    };
};

/// Block 0x0D04; 7688 bytes at most.
class VLPhotoModel final : public CardBlock {
public:
    static constexpr std::uint16_t kBlockId = 0x0D04;
    VLPhotoModel() : CardBlock(kBlockId) {}
    //                                         tag    max   presence
    BytesElement  Photo                 {*this, 0x640, 7680, kMandatory};
};

template <>
struct FieldsOf<VLPhotoModel> {
    using M = VLPhotoModel;
    static constexpr FieldDesc<M> kAll[] = {
        Field(u"Photo", &M::Photo),
    };
};

/// Block 0x0D03, the one VL block that is also written; 338 bytes at most.
class VLVariablePersoModel final : public CardBlock {
public:
    static constexpr std::uint16_t kBlockId = 0x0D03;
    VLVariablePersoModel() : CardBlock(kBlockId) {}
    //                                         tag    max  presence    kind
    CodeElement   Rank                  {*this, 0x630,   2, kOptional,  CodeTables::RankCodes()};
    StringElement UnitNo                {*this, 0x631,  20, kOptional,  CodePage::Utf16};
    StringElement OrgUnit               {*this, 0x632, 200, kMandatory, CodePage::Utf16};
    StringElement ServiceSite           {*this, 0x633,  60, kMandatory, CodePage::Utf16};
    DateElement   ServiceStartDate      {*this, 0x634,      kMandatory};
    DateElement   ServiceEndDate        {*this, 0x635,      kOptional};
    StringElement HealthWorkerID        {*this, 0x636,   8, kOptional,  CodePage::Ascii};
};

template <>
struct FieldsOf<VLVariablePersoModel> {
    using M = VLVariablePersoModel;
    static constexpr FieldDesc<M> kAll[] = {
        Field(u"Rank", &M::Rank, Requirement::Optional),
        Field(u"UnitNo", &M::UnitNo, Requirement::Optional),
        Field(u"OrgUnit", &M::OrgUnit),
        Field(u"ServiceSite", &M::ServiceSite),
        Field(u"ServiceStartDate", &M::ServiceStartDate),
        Field(u"ServiceEndDate", &M::ServiceEndDate, Requirement::Optional),
        Field(u"HealthWorkerID", &M::HealthWorkerID, Requirement::Optional),
    };
};

/// Block 0x0D15, the extract the contactless part holds; 586 bytes at most. FirstName and
/// ParentName are shorter than in the fixed personal block (30 characters).
class VLContactlessModel final : public CardBlock {
public:
    static constexpr std::uint16_t kBlockId = 0x0D15;
    VLContactlessModel() : CardBlock(kBlockId) {}
    //                                         tag    max  presence    kind
    StringElement CardID                {*this, 0x611,   9, kMandatory, CodePage::Ascii};
    StringElement ChipSerialNumber      {*this, 0x615,  16, kMandatory, CodePage::Ascii};
    StringElement ContactlessSerialNumber{*this, 0x616, 16, kMandatory, CodePage::Ascii};
    StringElement PersonalNumber        {*this, 0x621,  13, kMandatory, CodePage::Ascii};
    StringElement LastName              {*this, 0x622, 100, kMandatory, CodePage::Utf16};
    StringElement FirstName             {*this, 0x623,  60, kMandatory, CodePage::Utf16};
    StringElement ParentName            {*this, 0x625,  60, kMandatory, CodePage::Utf16};
    CodeElement   Status                {*this, 0x626,   2, kMandatory, CodeTables::ContactlessStatusCodes()};
    CodeElement   Rank                  {*this, 0x630,   2, kOptional,  CodeTables::ContactlessRankCodes()};
    StringElement OrgUnit               {*this, 0x632, 200, kMandatory, CodePage::Utf16};
    StringElement ServiceSite           {*this, 0x633,  60, kMandatory, CodePage::Utf16};
};

template <>
struct FieldsOf<VLContactlessModel> {
    using M = VLContactlessModel;
    static constexpr FieldDesc<M> kAll[] = {
        Field(u"CardID", &M::CardID),
        Field(u"ChipSerialNumber", &M::ChipSerialNumber),
        Field(u"ContactlessSerialNumber", &M::ContactlessSerialNumber),
        Field(u"PersonalNumber", &M::PersonalNumber),
        Field(u"LastName", &M::LastName),
        Field(u"FirstName", &M::FirstName),
        Field(u"ParentName", &M::ParentName),
        Field(u"Status", &M::Status),
        Field(u"Rank", &M::Rank, Requirement::Optional),
        Field(u"OrgUnit", &M::OrgUnit),
        Field(u"ServiceSite", &M::ServiceSite),
    };
};

// clang-format on
