// The dual interfaces of the block classes and of CARVIX.VoluntaryInsurance, in vtable order:
// IDispatch, Load (DISPID 1), Store (DISPID 2, writable classes only), then for each field of
// the model's description (FieldsOf<Model>) in order its get_ accessor, on writable classes
// followed by put_, and for an optional field the same pair for its NameSpecified flag.
// type_information_test checks these slots against the description.
//
// Getters answer E_INVALIDARG for a null out-pointer and E_FAIL for an optional field whose
// flag is false; BSTRs returned are the caller's, and an empty text is a null BSTR.
#pragma once

#include "carvix/blocks/vl_models.h"
#include "carvix/blocks/zk_models.h"
#include "carvix/com/block_fields.h"
#include "carvix/com/guids.h"

namespace carvix::com {

// clang-format off

struct IVLDocumentBlock : ReadOnlyBlock<VLDocumentModel> {
    static constexpr const IID& kIid = kIidIVLDocumentBlock;
    static constexpr const char16_t* kName = u"IVLDocumentBlock";
    static constexpr const char16_t* kLoadHelp = u"Loads data from block";
    virtual HRESULT get_CardID(BSTR* pVal) { return Get<&VLDocumentModel::CardID>(pVal); }
    virtual HRESULT get_DateOfIssue(DATE* pVal) { return Get<&VLDocumentModel::DateOfIssue>(pVal); }
    virtual HRESULT get_DateOfExpiry(DATE* pVal) { return Get<&VLDocumentModel::DateOfExpiry>(pVal); }
    virtual HRESULT get_ChipSerialNumber(BSTR* pVal) { return Get<&VLDocumentModel::ChipSerialNumber>(pVal); }

  protected:
    ~IVLDocumentBlock() = default;
};

struct IVLFixedPersoBlock : ReadOnlyBlock<VLFixedPersoModel> {
    static constexpr const IID& kIid = kIidIVLFixedPersoBlock;
    static constexpr const char16_t* kName = u"IVLFixedPersoBlock";
    static constexpr const char16_t* kLoadHelp = u"Loads data from block";
    virtual HRESULT get_PersonalNumber(BSTR* pVal) { return Get<&VLFixedPersoModel::PersonalNumber>(pVal); }
    virtual HRESULT get_LastName(BSTR* pVal) { return Get<&VLFixedPersoModel::LastName>(pVal); }
    virtual HRESULT get_FirstName(BSTR* pVal) { return Get<&VLFixedPersoModel::FirstName>(pVal); }
    virtual HRESULT get_ParentName(BSTR* pVal) { return Get<&VLFixedPersoModel::ParentName>(pVal); }
    virtual HRESULT get_DateOfBirth(DATE* pVal) { return Get<&VLFixedPersoModel::DateOfBirth>(pVal); }
    virtual HRESULT get_Status(std::int32_t* pVal) { return Get<&VLFixedPersoModel::Status>(pVal); }
    virtual HRESULT get_BloodType(std::int32_t* pVal) { return Get<&VLFixedPersoModel::BloodType>(pVal); }

  protected:
    ~IVLFixedPersoBlock() = default;
};

struct IVLPhotoBlock : ReadOnlyBlock<VLPhotoModel> {
    static constexpr const IID& kIid = kIidIVLPhotoBlock;
    static constexpr const char16_t* kName = u"IVLPhotoBlock";
    static constexpr const char16_t* kLoadHelp = u"Loads data from block";
    virtual HRESULT get_Photo(BSTR* pVal) { return Get<&VLPhotoModel::Photo>(pVal); }

  protected:
    ~IVLPhotoBlock() = default;
};

struct IVLVariablePersoBlock : WritableBlock<VLVariablePersoModel> {
    static constexpr const IID& kIid = kIidIVLVariablePersoBlock;
    static constexpr const char16_t* kName = u"IVLVariablePersoBlock";
    static constexpr const char16_t* kLoadHelp = u"Loads data from block";
    static constexpr const char16_t* kStoreHelp = u"Stores data into block";
    virtual HRESULT get_Rank(std::int32_t* pVal) { return Get<&VLVariablePersoModel::Rank>(pVal); }
    virtual HRESULT put_Rank(std::int32_t newVal) { return Put<&VLVariablePersoModel::Rank>(newVal); }
    virtual HRESULT get_RankSpecified(VARIANT_BOOL* pVal) { return GetFlag<&VLVariablePersoModel::Rank>(pVal); }
    virtual HRESULT put_RankSpecified(VARIANT_BOOL newVal) { return PutFlag<&VLVariablePersoModel::Rank>(newVal); }
    virtual HRESULT get_UnitNo(BSTR* pVal) { return Get<&VLVariablePersoModel::UnitNo>(pVal); }
    virtual HRESULT put_UnitNo(BSTR newVal) { return Put<&VLVariablePersoModel::UnitNo>(newVal); }
    virtual HRESULT get_UnitNoSpecified(VARIANT_BOOL* pVal) { return GetFlag<&VLVariablePersoModel::UnitNo>(pVal); }
    virtual HRESULT put_UnitNoSpecified(VARIANT_BOOL newVal) { return PutFlag<&VLVariablePersoModel::UnitNo>(newVal); }
    virtual HRESULT get_OrgUnit(BSTR* pVal) { return Get<&VLVariablePersoModel::OrgUnit>(pVal); }
    virtual HRESULT put_OrgUnit(BSTR newVal) { return Put<&VLVariablePersoModel::OrgUnit>(newVal); }
    virtual HRESULT get_ServiceSite(BSTR* pVal) { return Get<&VLVariablePersoModel::ServiceSite>(pVal); }
    virtual HRESULT put_ServiceSite(BSTR newVal) { return Put<&VLVariablePersoModel::ServiceSite>(newVal); }
    virtual HRESULT get_ServiceStartDate(DATE* pVal) { return Get<&VLVariablePersoModel::ServiceStartDate>(pVal); }
    virtual HRESULT put_ServiceStartDate(DATE newVal) { return Put<&VLVariablePersoModel::ServiceStartDate>(newVal); }
    virtual HRESULT get_ServiceEndDate(DATE* pVal) { return Get<&VLVariablePersoModel::ServiceEndDate>(pVal); }
    virtual HRESULT put_ServiceEndDate(DATE newVal) { return Put<&VLVariablePersoModel::ServiceEndDate>(newVal); }
    virtual HRESULT get_ServiceEndDateSpecified(VARIANT_BOOL* pVal) { return GetFlag<&VLVariablePersoModel::ServiceEndDate>(pVal); }
    virtual HRESULT put_ServiceEndDateSpecified(VARIANT_BOOL newVal) { return PutFlag<&VLVariablePersoModel::ServiceEndDate>(newVal); }
    virtual HRESULT get_HealthWorkerID(BSTR* pVal) { return Get<&VLVariablePersoModel::HealthWorkerID>(pVal); }
    virtual HRESULT put_HealthWorkerID(BSTR newVal) { return Put<&VLVariablePersoModel::HealthWorkerID>(newVal); }
    virtual HRESULT get_HealthWorkerIDSpecified(VARIANT_BOOL* pVal) { return GetFlag<&VLVariablePersoModel::HealthWorkerID>(pVal); }
    virtual HRESULT put_HealthWorkerIDSpecified(VARIANT_BOOL newVal) { return PutFlag<&VLVariablePersoModel::HealthWorkerID>(newVal); }

  protected:
    ~IVLVariablePersoBlock() = default;
};

struct IVLContactlessBlock : ReadOnlyBlock<VLContactlessModel> {
    static constexpr const IID& kIid = kIidIVLContactlessBlock;
    static constexpr const char16_t* kName = u"IVLContactlessBlock";
    virtual HRESULT get_CardID(BSTR* pVal) { return Get<&VLContactlessModel::CardID>(pVal); }
    virtual HRESULT get_ChipSerialNumber(BSTR* pVal) { return Get<&VLContactlessModel::ChipSerialNumber>(pVal); }
    virtual HRESULT get_ContactlessSerialNumber(BSTR* pVal) { return Get<&VLContactlessModel::ContactlessSerialNumber>(pVal); }
    virtual HRESULT get_PersonalNumber(BSTR* pVal) { return Get<&VLContactlessModel::PersonalNumber>(pVal); }
    virtual HRESULT get_LastName(BSTR* pVal) { return Get<&VLContactlessModel::LastName>(pVal); }
    virtual HRESULT get_FirstName(BSTR* pVal) { return Get<&VLContactlessModel::FirstName>(pVal); }
    virtual HRESULT get_ParentName(BSTR* pVal) { return Get<&VLContactlessModel::ParentName>(pVal); }
    virtual HRESULT get_Status(std::int32_t* pVal) { return Get<&VLContactlessModel::Status>(pVal); }
    virtual HRESULT get_Rank(std::int32_t* pVal) { return Get<&VLContactlessModel::Rank>(pVal); }
    virtual HRESULT get_RankSpecified(VARIANT_BOOL* pVal) { return GetFlag<&VLContactlessModel::Rank>(pVal); }
    virtual HRESULT get_OrgUnit(BSTR* pVal) { return Get<&VLContactlessModel::OrgUnit>(pVal); }
    virtual HRESULT get_ServiceSite(BSTR* pVal) { return Get<&VLContactlessModel::ServiceSite>(pVal); }

  protected:
    ~IVLContactlessBlock() = default;
};

struct IZKDocumentBlock : ReadOnlyBlock<ZKDocumentModel> {
    static constexpr const IID& kIid = kIidIZKDocumentBlock;
    static constexpr const char16_t* kName = u"IZKDocumentBlock";
    virtual HRESULT get_CardID(BSTR* pVal) { return Get<&ZKDocumentModel::CardID>(pVal); }
    virtual HRESULT get_BookletID(BSTR* pVal) { return Get<&ZKDocumentModel::BookletID>(pVal); }
    virtual HRESULT get_DateOfIssue(DATE* pVal) { return Get<&ZKDocumentModel::DateOfIssue>(pVal); }
    virtual HRESULT get_DateOfExpiry(DATE* pVal) { return Get<&ZKDocumentModel::DateOfExpiry>(pVal); }
    virtual HRESULT get_ChipSerialNumber(BSTR* pVal) { return Get<&ZKDocumentModel::ChipSerialNumber>(pVal); }

  protected:
    ~IZKDocumentBlock() = default;
};

struct IZKFixedAdminBlock : ReadOnlyBlock<ZKFixedAdminModel> {
    static constexpr const IID& kIid = kIidIZKFixedAdminBlock;
    static constexpr const char16_t* kName = u"IZKFixedAdminBlock";
    virtual HRESULT get_InsurantNumber(BSTR* pVal) { return Get<&ZKFixedAdminModel::InsurantNumber>(pVal); }
    virtual HRESULT get_RZZOUserRegistrationNumber(BSTR* pVal) { return Get<&ZKFixedAdminModel::RZZOUserRegistrationNumber>(pVal); }
    virtual HRESULT get_CarrierRelationship(BSTR* pVal) { return Get<&ZKFixedAdminModel::CarrierRelationship>(pVal); }
    virtual HRESULT get_CarrierRelationshipSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKFixedAdminModel::CarrierRelationship>(pVal); }
    virtual HRESULT get_InsuranceBasisRZZOCode(BSTR* pVal) { return Get<&ZKFixedAdminModel::InsuranceBasisRZZOCode>(pVal); }
    virtual HRESULT get_InsuranceBasisRZZO(BSTR* pVal) { return Get<&ZKFixedAdminModel::InsuranceBasisRZZO>(pVal); }
    virtual HRESULT get_InsuranceBasisFSOVOCode(BSTR* pVal) { return Get<&ZKFixedAdminModel::InsuranceBasisFSOVOCode>(pVal); }
    virtual HRESULT get_CarrierFamilyMember(std::int32_t* pVal) { return Get<&ZKFixedAdminModel::CarrierFamilyMember>(pVal); }
    virtual HRESULT get_CarrierFamilyMemberSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKFixedAdminModel::CarrierFamilyMember>(pVal); }
    virtual HRESULT get_CarrierIdNumber(BSTR* pVal) { return Get<&ZKFixedAdminModel::CarrierIdNumber>(pVal); }
    virtual HRESULT get_CarrierIdNumberSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKFixedAdminModel::CarrierIdNumber>(pVal); }
    virtual HRESULT get_CarrierInsurantNumber(BSTR* pVal) { return Get<&ZKFixedAdminModel::CarrierInsurantNumber>(pVal); }
    virtual HRESULT get_CarrierInsurantNumberSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKFixedAdminModel::CarrierInsurantNumber>(pVal); }
    virtual HRESULT get_CarrierLastName(BSTR* pVal) { return Get<&ZKFixedAdminModel::CarrierLastName>(pVal); }
    virtual HRESULT get_CarrierLastNameSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKFixedAdminModel::CarrierLastName>(pVal); }
    virtual HRESULT get_CarrierLastNameLatin(BSTR* pVal) { return Get<&ZKFixedAdminModel::CarrierLastNameLatin>(pVal); }
    virtual HRESULT get_CarrierLastNameLatinSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKFixedAdminModel::CarrierLastNameLatin>(pVal); }
    virtual HRESULT get_CarrierFirstName(BSTR* pVal) { return Get<&ZKFixedAdminModel::CarrierFirstName>(pVal); }
    virtual HRESULT get_CarrierFirstNameSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKFixedAdminModel::CarrierFirstName>(pVal); }
    virtual HRESULT get_CarrierFirstNameLatin(BSTR* pVal) { return Get<&ZKFixedAdminModel::CarrierFirstNameLatin>(pVal); }
    virtual HRESULT get_CarrierFirstNameLatinSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKFixedAdminModel::CarrierFirstNameLatin>(pVal); }
    virtual HRESULT get_InsuredFrom(DATE* pVal) { return Get<&ZKFixedAdminModel::InsuredFrom>(pVal); }
    virtual HRESULT get_CountryCode(BSTR* pVal) { return Get<&ZKFixedAdminModel::CountryCode>(pVal); }
    virtual HRESULT get_Country(BSTR* pVal) { return Get<&ZKFixedAdminModel::Country>(pVal); }
    virtual HRESULT get_CountryLatin(BSTR* pVal) { return Get<&ZKFixedAdminModel::CountryLatin>(pVal); }

  protected:
    ~IZKFixedAdminBlock() = default;
};

struct IZKFixedPersoBlock : ReadOnlyBlock<ZKFixedPersoModel> {
    static constexpr const IID& kIid = kIidIZKFixedPersoBlock;
    static constexpr const char16_t* kName = u"IZKFixedPersoBlock";
    virtual HRESULT get_IDNumber(BSTR* pVal) { return Get<&ZKFixedPersoModel::IDNumber>(pVal); }
    virtual HRESULT get_LastName(BSTR* pVal) { return Get<&ZKFixedPersoModel::LastName>(pVal); }
    virtual HRESULT get_LastNameLatin(BSTR* pVal) { return Get<&ZKFixedPersoModel::LastNameLatin>(pVal); }
    virtual HRESULT get_FirstName(BSTR* pVal) { return Get<&ZKFixedPersoModel::FirstName>(pVal); }
    virtual HRESULT get_FirstNameLatin(BSTR* pVal) { return Get<&ZKFixedPersoModel::FirstNameLatin>(pVal); }
    virtual HRESULT get_DateOfBirth(DATE* pVal) { return Get<&ZKFixedPersoModel::DateOfBirth>(pVal); }
    virtual HRESULT get_ParentName(BSTR* pVal) { return Get<&ZKFixedPersoModel::ParentName>(pVal); }
    virtual HRESULT get_ParentNameLatin(BSTR* pVal) { return Get<&ZKFixedPersoModel::ParentNameLatin>(pVal); }
    virtual HRESULT get_Gender(std::int32_t* pVal) { return Get<&ZKFixedPersoModel::Gender>(pVal); }

  protected:
    ~IZKFixedPersoBlock() = default;
};

struct IZKVariableAdminBlock : WritableBlock<ZKVariableAdminModel> {
    static constexpr const IID& kIid = kIidIZKVariableAdminBlock;
    static constexpr const char16_t* kName = u"IZKVariableAdminBlock";
    /// A copy of the held array (VT_ARRAY | VT_VARIANT) sharing its element objects;
    /// E_INVALIDARG when the object holds none. pVal is cleared first.
    virtual HRESULT get_VoluntaryInsurances(VARIANT* pVal) = 0;
    /// VT_NULL drops the array; VT_ARRAY | VT_VARIANT (also by reference) keeps a copy;
    /// anything else is E_INVALIDARG and keeps the old array.
    virtual HRESULT put_VoluntaryInsurances(VARIANT* newVal) = 0;
    virtual HRESULT get_InsurerName(BSTR* pVal) { return Get<&ZKVariableAdminModel::InsurerName>(pVal); }
    virtual HRESULT put_InsurerName(BSTR newVal) { return Put<&ZKVariableAdminModel::InsurerName>(newVal); }
    virtual HRESULT get_InsurerNameLatin(BSTR* pVal) { return Get<&ZKVariableAdminModel::InsurerNameLatin>(pVal); }
    virtual HRESULT put_InsurerNameLatin(BSTR newVal) { return Put<&ZKVariableAdminModel::InsurerNameLatin>(newVal); }
    virtual HRESULT get_InsurerID(BSTR* pVal) { return Get<&ZKVariableAdminModel::InsurerID>(pVal); }
    virtual HRESULT put_InsurerID(BSTR newVal) { return Put<&ZKVariableAdminModel::InsurerID>(newVal); }
    virtual HRESULT get_BookletIssuerCode(BSTR* pVal) { return Get<&ZKVariableAdminModel::BookletIssuerCode>(pVal); }
    virtual HRESULT put_BookletIssuerCode(BSTR newVal) { return Put<&ZKVariableAdminModel::BookletIssuerCode>(newVal); }
    virtual HRESULT get_BookletIssuerCodeSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariableAdminModel::BookletIssuerCode>(pVal); }
    virtual HRESULT put_BookletIssuerCodeSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariableAdminModel::BookletIssuerCode>(newVal); }
    virtual HRESULT get_InsurerBranch(BSTR* pVal) { return Get<&ZKVariableAdminModel::InsurerBranch>(pVal); }
    virtual HRESULT put_InsurerBranch(BSTR newVal) { return Put<&ZKVariableAdminModel::InsurerBranch>(newVal); }
    virtual HRESULT get_InsurerBranchSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariableAdminModel::InsurerBranch>(pVal); }
    virtual HRESULT put_InsurerBranchSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariableAdminModel::InsurerBranch>(newVal); }
    virtual HRESULT get_InsurerBranchLatin(BSTR* pVal) { return Get<&ZKVariableAdminModel::InsurerBranchLatin>(pVal); }
    virtual HRESULT put_InsurerBranchLatin(BSTR newVal) { return Put<&ZKVariableAdminModel::InsurerBranchLatin>(newVal); }
    virtual HRESULT get_InsurerBranchLatinSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariableAdminModel::InsurerBranchLatin>(pVal); }
    virtual HRESULT put_InsurerBranchLatinSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariableAdminModel::InsurerBranchLatin>(newVal); }
    virtual HRESULT get_InsurerOffice(BSTR* pVal) { return Get<&ZKVariableAdminModel::InsurerOffice>(pVal); }
    virtual HRESULT put_InsurerOffice(BSTR newVal) { return Put<&ZKVariableAdminModel::InsurerOffice>(newVal); }
    virtual HRESULT get_InsurerOfficeSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariableAdminModel::InsurerOffice>(pVal); }
    virtual HRESULT put_InsurerOfficeSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariableAdminModel::InsurerOffice>(newVal); }
    virtual HRESULT get_InsurerOfficeLatin(BSTR* pVal) { return Get<&ZKVariableAdminModel::InsurerOfficeLatin>(pVal); }
    virtual HRESULT put_InsurerOfficeLatin(BSTR newVal) { return Put<&ZKVariableAdminModel::InsurerOfficeLatin>(newVal); }
    virtual HRESULT get_InsurerOfficeLatinSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariableAdminModel::InsurerOfficeLatin>(pVal); }
    virtual HRESULT put_InsurerOfficeLatinSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariableAdminModel::InsurerOfficeLatin>(newVal); }
    virtual HRESULT get_TaxpayerName(BSTR* pVal) { return Get<&ZKVariableAdminModel::TaxpayerName>(pVal); }
    virtual HRESULT put_TaxpayerName(BSTR newVal) { return Put<&ZKVariableAdminModel::TaxpayerName>(newVal); }
    virtual HRESULT get_TaxpayerNameLatin(BSTR* pVal) { return Get<&ZKVariableAdminModel::TaxpayerNameLatin>(pVal); }
    virtual HRESULT put_TaxpayerNameLatin(BSTR newVal) { return Put<&ZKVariableAdminModel::TaxpayerNameLatin>(newVal); }
    virtual HRESULT get_TaxpayerResidence(BSTR* pVal) { return Get<&ZKVariableAdminModel::TaxpayerResidence>(pVal); }
    virtual HRESULT put_TaxpayerResidence(BSTR newVal) { return Put<&ZKVariableAdminModel::TaxpayerResidence>(newVal); }
    virtual HRESULT get_TaxpayerResidenceLatin(BSTR* pVal) { return Get<&ZKVariableAdminModel::TaxpayerResidenceLatin>(pVal); }
    virtual HRESULT put_TaxpayerResidenceLatin(BSTR newVal) { return Put<&ZKVariableAdminModel::TaxpayerResidenceLatin>(newVal); }
    virtual HRESULT get_TaxpayerNumber(BSTR* pVal) { return Get<&ZKVariableAdminModel::TaxpayerNumber>(pVal); }
    virtual HRESULT put_TaxpayerNumber(BSTR newVal) { return Put<&ZKVariableAdminModel::TaxpayerNumber>(newVal); }
    virtual HRESULT get_TaxpayerActivityCode(BSTR* pVal) { return Get<&ZKVariableAdminModel::TaxpayerActivityCode>(pVal); }
    virtual HRESULT put_TaxpayerActivityCode(BSTR newVal) { return Put<&ZKVariableAdminModel::TaxpayerActivityCode>(newVal); }
    virtual HRESULT get_OfficerInsuranceNumber(BSTR* pVal) { return Get<&ZKVariableAdminModel::OfficerInsuranceNumber>(pVal); }
    virtual HRESULT put_OfficerInsuranceNumber(BSTR newVal) { return Put<&ZKVariableAdminModel::OfficerInsuranceNumber>(newVal); }
    virtual HRESULT get_OfficerInsuranceNumberSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariableAdminModel::OfficerInsuranceNumber>(pVal); }
    virtual HRESULT put_OfficerInsuranceNumberSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariableAdminModel::OfficerInsuranceNumber>(newVal); }

  protected:
    ~IZKVariableAdminBlock() = default;
};

struct IZKVariablePersoBlock : WritableBlock<ZKVariablePersoModel> {
    static constexpr const IID& kIid = kIidIZKVariablePersoBlock;
    static constexpr const char16_t* kName = u"IZKVariablePersoBlock";
    virtual HRESULT get_Street(BSTR* pVal) { return Get<&ZKVariablePersoModel::Street>(pVal); }
    virtual HRESULT put_Street(BSTR newVal) { return Put<&ZKVariablePersoModel::Street>(newVal); }
    virtual HRESULT get_StreetLatin(BSTR* pVal) { return Get<&ZKVariablePersoModel::StreetLatin>(pVal); }
    virtual HRESULT put_StreetLatin(BSTR newVal) { return Put<&ZKVariablePersoModel::StreetLatin>(newVal); }
    virtual HRESULT get_PostNumber(BSTR* pVal) { return Get<&ZKVariablePersoModel::PostNumber>(pVal); }
    virtual HRESULT put_PostNumber(BSTR newVal) { return Put<&ZKVariablePersoModel::PostNumber>(newVal); }
    virtual HRESULT get_PostNumberSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariablePersoModel::PostNumber>(pVal); }
    virtual HRESULT put_PostNumberSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariablePersoModel::PostNumber>(newVal); }
    virtual HRESULT get_Municipality(BSTR* pVal) { return Get<&ZKVariablePersoModel::Municipality>(pVal); }
    virtual HRESULT put_Municipality(BSTR newVal) { return Put<&ZKVariablePersoModel::Municipality>(newVal); }
    virtual HRESULT get_MunicipalityLatin(BSTR* pVal) { return Get<&ZKVariablePersoModel::MunicipalityLatin>(pVal); }
    virtual HRESULT put_MunicipalityLatin(BSTR newVal) { return Put<&ZKVariablePersoModel::MunicipalityLatin>(newVal); }
    virtual HRESULT get_Place(BSTR* pVal) { return Get<&ZKVariablePersoModel::Place>(pVal); }
    virtual HRESULT put_Place(BSTR newVal) { return Put<&ZKVariablePersoModel::Place>(newVal); }
    virtual HRESULT get_PlaceLatin(BSTR* pVal) { return Get<&ZKVariablePersoModel::PlaceLatin>(pVal); }
    virtual HRESULT put_PlaceLatin(BSTR newVal) { return Put<&ZKVariablePersoModel::PlaceLatin>(newVal); }
    virtual HRESULT get_PAK(BSTR* pVal) { return Get<&ZKVariablePersoModel::PAK>(pVal); }
    virtual HRESULT put_PAK(BSTR newVal) { return Put<&ZKVariablePersoModel::PAK>(newVal); }
    virtual HRESULT get_PAKSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariablePersoModel::PAK>(pVal); }
    virtual HRESULT put_PAKSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariablePersoModel::PAK>(newVal); }
    virtual HRESULT get_StreetCode(BSTR* pVal) { return Get<&ZKVariablePersoModel::StreetCode>(pVal); }
    virtual HRESULT put_StreetCode(BSTR newVal) { return Put<&ZKVariablePersoModel::StreetCode>(newVal); }
    virtual HRESULT get_StreetCodeSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariablePersoModel::StreetCode>(pVal); }
    virtual HRESULT put_StreetCodeSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariablePersoModel::StreetCode>(newVal); }
    virtual HRESULT get_Number(BSTR* pVal) { return Get<&ZKVariablePersoModel::Number>(pVal); }
    virtual HRESULT put_Number(BSTR newVal) { return Put<&ZKVariablePersoModel::Number>(newVal); }
    virtual HRESULT get_NumberSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariablePersoModel::Number>(pVal); }
    virtual HRESULT put_NumberSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariablePersoModel::Number>(newVal); }
    virtual HRESULT get_Entrance(BSTR* pVal) { return Get<&ZKVariablePersoModel::Entrance>(pVal); }
    virtual HRESULT put_Entrance(BSTR newVal) { return Put<&ZKVariablePersoModel::Entrance>(newVal); }
    virtual HRESULT get_EntranceSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariablePersoModel::Entrance>(pVal); }
    virtual HRESULT put_EntranceSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariablePersoModel::Entrance>(newVal); }
    virtual HRESULT get_EntranceLatin(BSTR* pVal) { return Get<&ZKVariablePersoModel::EntranceLatin>(pVal); }
    virtual HRESULT put_EntranceLatin(BSTR newVal) { return Put<&ZKVariablePersoModel::EntranceLatin>(newVal); }
    virtual HRESULT get_EntranceLatinSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariablePersoModel::EntranceLatin>(pVal); }
    virtual HRESULT put_EntranceLatinSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariablePersoModel::EntranceLatin>(newVal); }
    virtual HRESULT get_Apartment(BSTR* pVal) { return Get<&ZKVariablePersoModel::Apartment>(pVal); }
    virtual HRESULT put_Apartment(BSTR newVal) { return Put<&ZKVariablePersoModel::Apartment>(newVal); }
    virtual HRESULT get_ApartmentSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariablePersoModel::Apartment>(pVal); }
    virtual HRESULT put_ApartmentSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariablePersoModel::Apartment>(newVal); }
    virtual HRESULT get_DateOfIssue(DATE* pVal) { return Get<&ZKVariablePersoModel::DateOfIssue>(pVal); }
    virtual HRESULT put_DateOfIssue(DATE newVal) { return Put<&ZKVariablePersoModel::DateOfIssue>(newVal); }
    virtual HRESULT get_DateOfIssueSpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariablePersoModel::DateOfIssue>(pVal); }
    virtual HRESULT put_DateOfIssueSpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariablePersoModel::DateOfIssue>(newVal); }
    virtual HRESULT get_DateOfExpiry(DATE* pVal) { return Get<&ZKVariablePersoModel::DateOfExpiry>(pVal); }
    virtual HRESULT put_DateOfExpiry(DATE newVal) { return Put<&ZKVariablePersoModel::DateOfExpiry>(newVal); }
    virtual HRESULT get_DateOfExpirySpecified(VARIANT_BOOL* pVal) { return GetFlag<&ZKVariablePersoModel::DateOfExpiry>(pVal); }
    virtual HRESULT put_DateOfExpirySpecified(VARIANT_BOOL newVal) { return PutFlag<&ZKVariablePersoModel::DateOfExpiry>(newVal); }

  protected:
    ~IZKVariablePersoBlock() = default;
};

/// One entry of the voluntary-insurance list; its model is a VoluntaryInsuranceRecord.
struct IVoluntaryInsurance : WritableBlock<VoluntaryInsuranceRecord> {
    static constexpr const IID& kIid = kIidIVoluntaryInsurance;
    static constexpr const char16_t* kName = u"IVoluntaryInsurance";
    virtual HRESULT get_Code(BSTR* pVal) { return Get<&VoluntaryInsuranceRecord::Code>(pVal); }
    virtual HRESULT put_Code(BSTR newVal) { return Put<&VoluntaryInsuranceRecord::Code>(newVal); }
    virtual HRESULT get_PolicyCode(BSTR* pVal) { return Get<&VoluntaryInsuranceRecord::PolicyCode>(pVal); }
    virtual HRESULT put_PolicyCode(BSTR newVal) { return Put<&VoluntaryInsuranceRecord::PolicyCode>(newVal); }
    virtual HRESULT get_ValidTo(DATE* pVal) { return Get<&VoluntaryInsuranceRecord::ValidTo>(pVal); }
    virtual HRESULT put_ValidTo(DATE newVal) { return Put<&VoluntaryInsuranceRecord::ValidTo>(newVal); }

  protected:
    ~IVoluntaryInsurance() = default;
};

// clang-format on

}  // namespace carvix::com
