// The property tables of the block classes: one list per class, in DISPID order, each entry
// F(dispid, Name, Kind, Presence). Kind is Text (BSTR), Number (I4), Date (DATE) or Photo
// (bytes shown as a Base64 BSTR). An Optional field has a BOOL property NameSpecified with
// the next DISPID. DISPID 1 is Load and, on the writable classes, 2 is Store; the list of
// ZKVariableAdminBlock leaves out VoluntaryInsurances (DISPID 3), which is a VARIANT.
//
// The same lists build the interfaces (block_interfaces.h), the accessors, the type
// information and the copy to and from the models, so those can never disagree.
#pragma once

// clang-format off

#define CARVIX_VL_DOCUMENT_FIELDS(F)            \
    F(2, CardID, Text, Mandatory)               \
    F(3, DateOfIssue, Date, Mandatory)          \
    F(4, DateOfExpiry, Date, Mandatory)         \
    F(5, ChipSerialNumber, Text, Mandatory)

#define CARVIX_VL_FIXED_PERSO_FIELDS(F)         \
    F(2, PersonalNumber, Text, Mandatory)       \
    F(3, LastName, Text, Mandatory)             \
    F(4, FirstName, Text, Mandatory)            \
    F(5, ParentName, Text, Mandatory)           \
    F(6, DateOfBirth, Date, Mandatory)          \
    F(7, Status, Number, Mandatory)             \
    F(8, BloodType, Number, Mandatory)

#define CARVIX_VL_PHOTO_FIELDS(F)               \
    F(2, Photo, Photo, Mandatory)

#define CARVIX_VL_VARIABLE_PERSO_FIELDS(F)      \
    F(3, Rank, Number, Optional)                \
    F(5, UnitNo, Text, Optional)                \
    F(7, OrgUnit, Text, Mandatory)              \
    F(8, ServiceSite, Text, Mandatory)          \
    F(9, ServiceStartDate, Date, Mandatory)     \
    F(10, ServiceEndDate, Date, Optional)       \
    F(12, HealthWorkerID, Text, Optional)

#define CARVIX_VL_CONTACTLESS_FIELDS(F)         \
    F(2, CardID, Text, Mandatory)               \
    F(3, ChipSerialNumber, Text, Mandatory)     \
    F(4, ContactlessSerialNumber, Text, Mandatory) \
    F(5, PersonalNumber, Text, Mandatory)       \
    F(6, LastName, Text, Mandatory)             \
    F(7, FirstName, Text, Mandatory)            \
    F(8, ParentName, Text, Mandatory)           \
    F(9, Status, Number, Mandatory)             \
    F(10, Rank, Number, Optional)               \
    F(12, OrgUnit, Text, Mandatory)             \
    F(13, ServiceSite, Text, Mandatory)

#define CARVIX_ZK_DOCUMENT_FIELDS(F)            \
    F(2, CardID, Text, Mandatory)               \
    F(3, BookletID, Text, Mandatory)            \
    F(4, DateOfIssue, Date, Mandatory)          \
    F(5, DateOfExpiry, Date, Mandatory)         \
    F(6, ChipSerialNumber, Text, Mandatory)

#define CARVIX_ZK_FIXED_PERSO_FIELDS(F)         \
    F(2, IDNumber, Text, Mandatory)             \
    F(3, LastName, Text, Mandatory)             \
    F(4, LastNameLatin, Text, Mandatory)        \
    F(5, FirstName, Text, Mandatory)            \
    F(6, FirstNameLatin, Text, Mandatory)       \
    F(7, DateOfBirth, Date, Mandatory)          \
    F(8, ParentName, Text, Mandatory)           \
    F(9, ParentNameLatin, Text, Mandatory)      \
    F(10, Gender, Number, Mandatory)

#define CARVIX_ZK_FIXED_ADMIN_FIELDS(F)                 \
    F(2, InsurantNumber, Text, Mandatory)               \
    F(3, RZZOUserRegistrationNumber, Text, Mandatory)   \
    F(4, CarrierRelationship, Text, Optional)           \
    F(6, InsuranceBasisRZZOCode, Text, Mandatory)       \
    F(7, InsuranceBasisRZZO, Text, Mandatory)           \
    F(8, InsuranceBasisFSOVOCode, Text, Mandatory)      \
    F(9, CarrierFamilyMember, Number, Optional)         \
    F(11, CarrierIdNumber, Text, Optional)              \
    F(13, CarrierInsurantNumber, Text, Optional)        \
    F(15, CarrierLastName, Text, Optional)              \
    F(17, CarrierLastNameLatin, Text, Optional)         \
    F(19, CarrierFirstName, Text, Optional)             \
    F(21, CarrierFirstNameLatin, Text, Optional)        \
    F(23, InsuredFrom, Date, Mandatory)                 \
    F(24, CountryCode, Text, Mandatory)                 \
    F(25, Country, Text, Mandatory)                     \
    F(26, CountryLatin, Text, Mandatory)

#define CARVIX_ZK_VARIABLE_ADMIN_FIELDS(F)              \
    F(4, InsurerName, Text, Mandatory)                  \
    F(5, InsurerNameLatin, Text, Mandatory)             \
    F(6, InsurerID, Text, Mandatory)                    \
    F(7, BookletIssuerCode, Text, Optional)             \
    F(9, InsurerBranch, Text, Optional)                 \
    F(11, InsurerBranchLatin, Text, Optional)           \
    F(13, InsurerOffice, Text, Optional)                \
    F(15, InsurerOfficeLatin, Text, Optional)           \
    F(17, TaxpayerName, Text, Mandatory)                \
    F(18, TaxpayerNameLatin, Text, Mandatory)           \
    F(19, TaxpayerResidence, Text, Mandatory)           \
    F(20, TaxpayerResidenceLatin, Text, Mandatory)      \
    F(21, TaxpayerNumber, Text, Mandatory)              \
    F(22, TaxpayerActivityCode, Text, Mandatory)        \
    F(23, OfficerInsuranceNumber, Text, Optional)

#define CARVIX_ZK_VARIABLE_PERSO_FIELDS(F)      \
    F(3, Street, Text, Mandatory)               \
    F(4, StreetLatin, Text, Mandatory)          \
    F(5, PostNumber, Text, Optional)            \
    F(7, Municipality, Text, Mandatory)         \
    F(8, MunicipalityLatin, Text, Mandatory)    \
    F(9, Place, Text, Mandatory)                \
    F(10, PlaceLatin, Text, Mandatory)          \
    F(11, PAK, Text, Optional)                  \
    F(13, StreetCode, Text, Optional)           \
    F(15, Number, Text, Optional)               \
    F(17, Entrance, Text, Optional)             \
    F(19, EntranceLatin, Text, Optional)        \
    F(21, Apartment, Text, Optional)            \
    F(23, DateOfIssue, Date, Optional)          \
    F(25, DateOfExpiry, Date, Optional)

#define CARVIX_VOLUNTARY_INSURANCE_FIELDS(F)    \
    F(3, Code, Text, Mandatory)                 \
    F(4, PolicyCode, Text, Mandatory)           \
    F(5, ValidTo, Date, Mandatory)

// clang-format on

// Helpers for the expansions.
#define CARVIX_IF_Optional(...) __VA_ARGS__
#define CARVIX_IF_Mandatory(...)
#define CARVIX_OUT_Text BSTR*
#define CARVIX_OUT_Photo BSTR*
#define CARVIX_OUT_Number std::int32_t*
#define CARVIX_OUT_Date DATE*
#define CARVIX_IN_Text BSTR
#define CARVIX_IN_Number std::int32_t
#define CARVIX_IN_Date DATE
