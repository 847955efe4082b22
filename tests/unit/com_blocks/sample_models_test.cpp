// Every block class loaded from random sample models: each property, read through IDispatch,
// shows its element's value, optional ones with their flags; the writable classes give the
// same model back through Store.
#include "carvix/blocks/models.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/support/base64.h"
#include "model_samples.h"
#include "script_object.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace carvix::com;
using carvix::test::FillRandom;
using carvix::test::NoticeCatcher;
using carvix::test::OleDate;
using carvix::test::ScriptObject;
using carvix::test::Variant;

constexpr int kSamples = 40;

std::u16string Name(const char16_t* base, const char16_t* suffix = u"") {
    return std::u16string(base) + suffix;
}

/// Optional elements: the flag tells presence, and an absent value cannot be read.
bool ExpectPresence(const ScriptObject& o, const char16_t* name, const TlvElement& e) {
    if (e.State() == Presence::Mandatory) {
        return true;
    }
    const std::u16string flag = Name(name, u"Specified");
    EXPECT_EQ(o.Flag(flag.c_str()), e.IsNull() ? VARIANT_FALSE : VARIANT_TRUE)
        << testing::PrintToString(flag);
    if (e.IsNull()) {
        NoticeCatcher::Seen().clear();
        EXPECT_EQ(o.Try(name), E_FAIL);
        EXPECT_TRUE(NoticeCatcher::Seen().empty());
        return false;
    }
    return true;
}

void Expect(const ScriptObject& o, const char16_t* name, const StringElement& e) {
    if (!ExpectPresence(o, name, e)) {
        return;
    }
    Variant out;
    ASSERT_EQ(o.Get(name, out.v), S_OK);
    ASSERT_EQ(out.v.vt, VT_BSTR);
    const std::u16string want = e.GetValue();
    if (want.empty()) {
        EXPECT_EQ(out.v.bstrVal, nullptr);
    } else {
        ASSERT_NE(out.v.bstrVal, nullptr);
        EXPECT_EQ(std::u16string(out.v.bstrVal, SysStringLen(out.v.bstrVal)), want);
    }
}

void Expect(const ScriptObject& o, const char16_t* name, const CodeElement& e) {
    if (ExpectPresence(o, name, e)) {
        EXPECT_EQ(o.Number(name), e.GetValue());
    }
}

void Expect(const ScriptObject& o, const char16_t* name, const DateElement& e) {
    if (!ExpectPresence(o, name, e)) {
        return;
    }
    const Orvel::DateTime day = e.GetValue();
    NoticeCatcher::Seen().clear();
    if (day.Year() < 1601) {  // no FILETIME, so no DATE: the notice and a failure
        EXPECT_EQ(o.Try(name), E_FAIL);
        EXPECT_EQ(NoticeCatcher::Seen().size(), 1u);
    } else {
        EXPECT_EQ(o.Date(name), OleDate(day.Year(), day.Month(), day.Day()));
        EXPECT_TRUE(NoticeCatcher::Seen().empty());
    }
}

void Expect(const ScriptObject& o, const char16_t* name, const BytesElement& e) {
    Variant out;
    ASSERT_EQ(o.Get(name, out.v), S_OK);
    ASSERT_EQ(out.v.vt, VT_BSTR);
    const Orvel::ByteArray want = e.GetValue();
    if (want.empty()) {
        EXPECT_EQ(out.v.bstrVal, nullptr);
        return;
    }
    const std::u16string text(out.v.bstrVal, SysStringLen(out.v.bstrVal));
    EXPECT_EQ(text.find_first_of(u"\r\n"), std::u16string::npos);
    EXPECT_EQ(Orvel::FromBase64(text), want);
}

#define EXPECT_FIELD(object, model, name) Expect(object, u"" #name, (model).name)

template <class Model, class Iface>
class Loaded {
  public:
    Loaded(REFCLSID clsid, unsigned seed) : object(clsid) {
        std::mt19937 random(seed);
        FillRandom(model, random);
        Iface* block = object.As<Iface>();
        EXPECT_EQ(LoadBlock(block, model), S_OK);
        block->Release();
    }
    /// Store into a fresh model gives the loaded one back.
    void ExpectStoreGivesTheModelBack() {
        Model written;
        Iface* block = object.As<Iface>();
        EXPECT_EQ(StoreBlock(block, written), S_OK);
        block->Release();
        EXPECT_EQ(carvix::test::Differences(model, written), "");
    }
    Model model;
    ScriptObject object;
    NoticeCatcher notices;
};

TEST(SampleModels, VLDocumentBlock) {
    for (unsigned seed = 0; seed < kSamples; ++seed) {
        Loaded<VLDocumentModel, IVLDocumentBlock> b(kClsidVLDocumentBlock, seed);
        EXPECT_FIELD(b.object, b.model, CardID);
        EXPECT_FIELD(b.object, b.model, DateOfIssue);
        EXPECT_FIELD(b.object, b.model, DateOfExpiry);
        EXPECT_FIELD(b.object, b.model, ChipSerialNumber);
    }
}

TEST(SampleModels, VLFixedPersoBlock) {
    for (unsigned seed = 0; seed < kSamples; ++seed) {
        Loaded<VLFixedPersoModel, IVLFixedPersoBlock> b(kClsidVLFixedPersoBlock, seed);
        EXPECT_FIELD(b.object, b.model, PersonalNumber);
        EXPECT_FIELD(b.object, b.model, LastName);
        EXPECT_FIELD(b.object, b.model, FirstName);
        EXPECT_FIELD(b.object, b.model, ParentName);
        EXPECT_FIELD(b.object, b.model, DateOfBirth);
        EXPECT_FIELD(b.object, b.model, Status);
        EXPECT_FIELD(b.object, b.model, BloodType);
    }
}

TEST(SampleModels, VLPhotoBlock) {
    for (unsigned seed = 0; seed < kSamples; ++seed) {
        Loaded<VLPhotoModel, IVLPhotoBlock> b(kClsidVLPhotoBlock, seed);
        EXPECT_FIELD(b.object, b.model, Photo);
    }
    ScriptObject empty(kClsidVLPhotoBlock);
    Variant out;
    ASSERT_EQ(empty.Get(u"Photo", out.v), S_OK);
    EXPECT_EQ(out.v.bstrVal, nullptr);
}

TEST(SampleModels, VLVariablePersoBlock) {
    for (unsigned seed = 0; seed < kSamples; ++seed) {
        Loaded<VLVariablePersoModel, IVLVariablePersoBlock> b(kClsidVLVariablePersoBlock, seed);
        EXPECT_FIELD(b.object, b.model, Rank);
        EXPECT_FIELD(b.object, b.model, UnitNo);
        EXPECT_FIELD(b.object, b.model, OrgUnit);
        EXPECT_FIELD(b.object, b.model, ServiceSite);
        EXPECT_FIELD(b.object, b.model, ServiceStartDate);
        EXPECT_FIELD(b.object, b.model, ServiceEndDate);
        EXPECT_FIELD(b.object, b.model, HealthWorkerID);
        b.ExpectStoreGivesTheModelBack();
    }
}

TEST(SampleModels, VLContactlessBlock) {
    for (unsigned seed = 0; seed < kSamples; ++seed) {
        Loaded<VLContactlessModel, IVLContactlessBlock> b(kClsidVLContactlessBlock, seed);
        EXPECT_FIELD(b.object, b.model, CardID);
        EXPECT_FIELD(b.object, b.model, ChipSerialNumber);
        EXPECT_FIELD(b.object, b.model, ContactlessSerialNumber);
        EXPECT_FIELD(b.object, b.model, PersonalNumber);
        EXPECT_FIELD(b.object, b.model, LastName);
        EXPECT_FIELD(b.object, b.model, FirstName);
        EXPECT_FIELD(b.object, b.model, ParentName);
        EXPECT_FIELD(b.object, b.model, Status);
        EXPECT_FIELD(b.object, b.model, Rank);
        EXPECT_FIELD(b.object, b.model, OrgUnit);
        EXPECT_FIELD(b.object, b.model, ServiceSite);
    }
}

TEST(SampleModels, ZKDocumentBlock) {
    for (unsigned seed = 0; seed < kSamples; ++seed) {
        Loaded<ZKDocumentModel, IZKDocumentBlock> b(kClsidZKDocumentBlock, seed);
        EXPECT_FIELD(b.object, b.model, CardID);
        EXPECT_FIELD(b.object, b.model, BookletID);
        EXPECT_FIELD(b.object, b.model, DateOfIssue);
        EXPECT_FIELD(b.object, b.model, DateOfExpiry);
        EXPECT_FIELD(b.object, b.model, ChipSerialNumber);
    }
}

TEST(SampleModels, ZKFixedPersoBlock) {
    for (unsigned seed = 0; seed < kSamples; ++seed) {
        Loaded<ZKFixedPersoModel, IZKFixedPersoBlock> b(kClsidZKFixedPersoBlock, seed);
        EXPECT_FIELD(b.object, b.model, IDNumber);
        EXPECT_FIELD(b.object, b.model, LastName);
        EXPECT_FIELD(b.object, b.model, LastNameLatin);
        EXPECT_FIELD(b.object, b.model, FirstName);
        EXPECT_FIELD(b.object, b.model, FirstNameLatin);
        EXPECT_FIELD(b.object, b.model, DateOfBirth);
        EXPECT_FIELD(b.object, b.model, ParentName);
        EXPECT_FIELD(b.object, b.model, ParentNameLatin);
        EXPECT_FIELD(b.object, b.model, Gender);
    }
}

TEST(SampleModels, ZKFixedAdminBlock) {
    for (unsigned seed = 0; seed < kSamples; ++seed) {
        Loaded<ZKFixedAdminModel, IZKFixedAdminBlock> b(kClsidZKFixedAdminBlock, seed);
        EXPECT_FIELD(b.object, b.model, InsurantNumber);
        EXPECT_FIELD(b.object, b.model, RZZOUserRegistrationNumber);
        EXPECT_FIELD(b.object, b.model, CarrierRelationship);
        EXPECT_FIELD(b.object, b.model, InsuranceBasisRZZOCode);
        EXPECT_FIELD(b.object, b.model, InsuranceBasisRZZO);
        EXPECT_FIELD(b.object, b.model, InsuranceBasisFSOVOCode);
        EXPECT_FIELD(b.object, b.model, CarrierFamilyMember);
        EXPECT_FIELD(b.object, b.model, CarrierIdNumber);
        EXPECT_FIELD(b.object, b.model, CarrierInsurantNumber);
        EXPECT_FIELD(b.object, b.model, CarrierLastName);
        EXPECT_FIELD(b.object, b.model, CarrierLastNameLatin);
        EXPECT_FIELD(b.object, b.model, CarrierFirstName);
        EXPECT_FIELD(b.object, b.model, CarrierFirstNameLatin);
        EXPECT_FIELD(b.object, b.model, InsuredFrom);
        EXPECT_FIELD(b.object, b.model, CountryCode);
        EXPECT_FIELD(b.object, b.model, Country);
        EXPECT_FIELD(b.object, b.model, CountryLatin);
    }
}

TEST(SampleModels, ZKVariablePersoBlock) {
    for (unsigned seed = 0; seed < kSamples; ++seed) {
        Loaded<ZKVariablePersoModel, IZKVariablePersoBlock> b(kClsidZKVariablePersoBlock, seed);
        EXPECT_FIELD(b.object, b.model, Street);
        EXPECT_FIELD(b.object, b.model, StreetLatin);
        EXPECT_FIELD(b.object, b.model, PostNumber);
        EXPECT_FIELD(b.object, b.model, Municipality);
        EXPECT_FIELD(b.object, b.model, MunicipalityLatin);
        EXPECT_FIELD(b.object, b.model, Place);
        EXPECT_FIELD(b.object, b.model, PlaceLatin);
        EXPECT_FIELD(b.object, b.model, PAK);
        EXPECT_FIELD(b.object, b.model, StreetCode);
        EXPECT_FIELD(b.object, b.model, Number);
        EXPECT_FIELD(b.object, b.model, Entrance);
        EXPECT_FIELD(b.object, b.model, EntranceLatin);
        EXPECT_FIELD(b.object, b.model, Apartment);
        EXPECT_FIELD(b.object, b.model, DateOfIssue);
        EXPECT_FIELD(b.object, b.model, DateOfExpiry);
        b.ExpectStoreGivesTheModelBack();
    }
}

TEST(SampleModels, ZKVariableAdminBlock) {
    int withList = 0;
    for (unsigned seed = 0; seed < kSamples; ++seed) {
        Loaded<ZKVariableAdminModel, IZKVariableAdminBlock> b(kClsidZKVariableAdminBlock, seed);
        EXPECT_FIELD(b.object, b.model, InsurerName);
        EXPECT_FIELD(b.object, b.model, InsurerNameLatin);
        EXPECT_FIELD(b.object, b.model, InsurerID);
        EXPECT_FIELD(b.object, b.model, BookletIssuerCode);
        EXPECT_FIELD(b.object, b.model, InsurerBranch);
        EXPECT_FIELD(b.object, b.model, InsurerBranchLatin);
        EXPECT_FIELD(b.object, b.model, InsurerOffice);
        EXPECT_FIELD(b.object, b.model, InsurerOfficeLatin);
        EXPECT_FIELD(b.object, b.model, TaxpayerName);
        EXPECT_FIELD(b.object, b.model, TaxpayerNameLatin);
        EXPECT_FIELD(b.object, b.model, TaxpayerResidence);
        EXPECT_FIELD(b.object, b.model, TaxpayerResidenceLatin);
        EXPECT_FIELD(b.object, b.model, TaxpayerNumber);
        EXPECT_FIELD(b.object, b.model, TaxpayerActivityCode);
        EXPECT_FIELD(b.object, b.model, OfficerInsuranceNumber);
        const bool holdsRecords = !b.model.VoluntaryInsurances.IsNull() &&
                                  !b.model.VoluntaryInsurances.GetValue().empty();
        if (holdsRecords) {
            ++withList;
            b.ExpectStoreGivesTheModelBack();
        } else {
            // Nothing to hold: no array, which Store refuses until the script puts one.
            EXPECT_EQ(b.object.Try(u"VoluntaryInsurances"), E_INVALIDARG);
            ZKVariableAdminModel written;
            auto* block = b.object.As<IZKVariableAdminBlock>();
            EXPECT_EQ(StoreBlock(block, written), E_INVALIDARG);
            block->Release();
        }
    }
    EXPECT_GT(withList, kSamples / 3);
}

TEST(SampleModels, OptionalFieldsOfTheTablesAreOptionalInTheModels) {
    // A field the model declares optional must be read with its flag, and the other way
    // round: a model whose optional elements are all absent shows every flag false.
    ScriptObject admin(kClsidZKFixedAdminBlock);
    ZKFixedAdminModel model;
    auto* block = admin.As<IZKFixedAdminBlock>();
    ASSERT_EQ(LoadBlock(block, model), S_OK);
    block->Release();
    int flags = 0;
    for (const char16_t* name :
         {u"CarrierRelationship", u"CarrierFamilyMember", u"CarrierIdNumber",
          u"CarrierInsurantNumber", u"CarrierLastName", u"CarrierLastNameLatin",
          u"CarrierFirstName", u"CarrierFirstNameLatin"}) {
        EXPECT_EQ(admin.Flag(Name(name, u"Specified").c_str()), VARIANT_FALSE);
        EXPECT_EQ(admin.Try(name), E_FAIL);
        ++flags;
    }
    EXPECT_EQ(flags, 8);
}

}  // namespace
