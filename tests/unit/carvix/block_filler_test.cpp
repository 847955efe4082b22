// JSON of `carvix read --json` put on real block objects through IDispatch, then stored
// into a model as the write methods do: every field must arrive, optional fields exactly
// when given, and bad input must be refused before the object is touched.
#include "block_filler.h"

#include "carvix/blocks/models.h"
#include "carvix/com/guids.h"
#include "carvix/com/model_transfer.h"
#include "carvix/com/module.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace carvix::cli;
using carvix::com::CreateObject;

Object NewObject(REFCLSID clsid) {
    void* p = nullptr;
    EXPECT_EQ(CreateObject(clsid, IID_IDispatch, &p), S_OK);
    return Object(static_cast<IDispatch*>(p));
}

Object NewInsurance() {
    return NewObject(carvix::com::kClsidVoluntaryInsurance);
}

// Has the object store its fields into `model`, as the write methods do.
template <class Model>
void Store(const Object& object, Model& model) {
    EXPECT_EQ(carvix::com::StoreBlock(object.Get(), model), S_OK);
}

void ExpectDay(const Orvel::DateTime& date, int year, int month, int day) {
    EXPECT_EQ(date.Year(), year);
    EXPECT_EQ(date.Month(), month);
    EXPECT_EQ(date.Day(), day);
}

const Json kVlVariable = Json::parse(R"({
  "Rank": 24, "UnitNo": "VP-1234", "OrgUnit": "Signal Training Centre",
  "ServiceSite": "Northern Barracks", "ServiceStartDate": "2015-09-01",
  "ServiceEndDate": "2035-08-31", "HealthWorkerID": "HW123456"})");

TEST(FillBlock, EveryVlVariableFieldReachesTheModel) {
    const Object object = NewObject(carvix::com::kClsidVLVariablePersoBlock);
    FillBlock(object, *FindBlock("vl-variable"), kVlVariable, NewInsurance);
    VLVariablePersoModel model;
    Store(object, model);
    EXPECT_EQ(model.Rank.GetValue(), 24);
    EXPECT_EQ(model.UnitNo.GetValue(), u"VP-1234");
    EXPECT_EQ(model.OrgUnit.GetValue(), u"Signal Training Centre");
    EXPECT_EQ(model.ServiceSite.GetValue(), u"Northern Barracks");
    ExpectDay(model.ServiceStartDate.GetValue(), 2015, 9, 1);
    ExpectDay(model.ServiceEndDate.GetValue(), 2035, 8, 31);
    EXPECT_EQ(model.HealthWorkerID.GetValue(), u"HW123456");
}

TEST(FillBlock, OptionalFieldsLeftOutStayOutOfTheBlock) {
    const Object object = NewObject(carvix::com::kClsidVLVariablePersoBlock);
    Json values = kVlVariable;
    for (const char* key : {"Rank", "UnitNo", "ServiceEndDate", "HealthWorkerID"}) {
        values.erase(key);
    }
    FillBlock(object, *FindBlock("vl-variable"), values, NewInsurance);
    VLVariablePersoModel model;
    Store(object, model);
    EXPECT_TRUE(model.Rank.IsNull());
    EXPECT_TRUE(model.UnitNo.IsNull());
    EXPECT_TRUE(model.ServiceEndDate.IsNull());
    EXPECT_TRUE(model.HealthWorkerID.IsNull());
    EXPECT_EQ(model.OrgUnit.GetValue(), u"Signal Training Centre");
}

TEST(FillBlock, CyrillicTextsAndTheVoluntaryInsurancesOfTheZkAdminBlock) {
    const Json values = Json::parse(R"({
      "VoluntaryInsurances": [
        {"Code": "01", "PolicyCode": "100", "ValidTo": "2027-01-28"},
        {"Code": "02", "PolicyCode": "107", "ValidTo": "2028-02-29"}],
      "InsurerName": "Републички фонд", "InsurerNameLatin": "Republicki fond",
      "InsurerID": "RFZO-000000001", "TaxpayerName": "Пример", "TaxpayerNameLatin": "Primer",
      "TaxpayerResidence": "Нови Сад", "TaxpayerResidenceLatin": "Novi Sad",
      "TaxpayerNumber": "100200300", "TaxpayerActivityCode": "62010"})");
    const Object object = NewObject(carvix::com::kClsidZKVariableAdminBlock);
    FillBlock(object, *FindBlock("zk-variable-admin"), values, NewInsurance);
    ZKVariableAdminModel model;
    Store(object, model);
    EXPECT_EQ(model.InsurerName.GetValue(), u"Републички фонд");
    EXPECT_EQ(model.TaxpayerResidence.GetValue(), u"Нови Сад");
    EXPECT_TRUE(model.InsurerBranch.IsNull());
    const auto records = model.VoluntaryInsurances.GetValue();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].Code, u"01");
    EXPECT_EQ(records[0].PolicyCode, u"100");
    ExpectDay(records[0].ValidTo, 2027, 1, 28);
    EXPECT_EQ(records[1].Code, u"02");
    ExpectDay(records[1].ValidTo, 2028, 2, 29);
}

TEST(FillBlock, AnEmptyInsuranceListIsAList) {
    Json values = Json::parse(R"({"VoluntaryInsurances": [], "InsurerName": "I",
      "InsurerNameLatin": "I", "InsurerID": "1", "TaxpayerName": "T", "TaxpayerNameLatin": "T",
      "TaxpayerResidence": "R", "TaxpayerResidenceLatin": "R", "TaxpayerNumber": "1",
      "TaxpayerActivityCode": "1"})");
    const Object object = NewObject(carvix::com::kClsidZKVariableAdminBlock);
    FillBlock(object, *FindBlock("zk-variable-admin"), values, NewInsurance);
    ZKVariableAdminModel model;
    Store(object, model);
    EXPECT_TRUE(model.VoluntaryInsurances.GetValue().empty());

    values.erase("VoluntaryInsurances");
    try {
        FillBlock(NewObject(carvix::com::kClsidZKVariableAdminBlock),
                  *FindBlock("zk-variable-admin"), values, NewInsurance);
        FAIL() << "a missing list must be refused";
    } catch (const InputError& e) {
        EXPECT_NE(std::string(e.what()).find("VoluntaryInsurances is missing"), std::string::npos);
    }
}

// Each bad input names the field, and nothing has been put on the object by then.
TEST(FillBlock, BadInputIsRefusedBeforeAnythingIsPut) {
    struct Case {
        const char* name;
        std::function<void(Json&)> spoil;
        const char* message;
    };
    const Case cases[] = {
        {"unknown key", [](Json& j) { j["Ranks"] = 1; }, "unknown field Ranks for vl-variable"},
        {"missing mandatory", [](Json& j) { j.erase("OrgUnit"); }, "OrgUnit is missing"},
        {"number as text", [](Json& j) { j["Rank"] = "24"; }, "Rank: a whole number"},
        {"number too large", [](Json& j) { j["Rank"] = 1LL << 40; }, "Rank: a whole number"},
        {"fraction", [](Json& j) { j["Rank"] = 2.5; }, "Rank: a whole number"},
        {"text as number", [](Json& j) { j["OrgUnit"] = 7; }, "OrgUnit: a string"},
        {"date form", [](Json& j) { j["ServiceStartDate"] = "01.09.2015"; },
         "ServiceStartDate: a date YYYY-MM-DD"},
        {"date with time", [](Json& j) { j["ServiceStartDate"] = "2015-09-01T00:00:00"; },
         "ServiceStartDate: a date YYYY-MM-DD"},
        {"no such day", [](Json& j) { j["ServiceEndDate"] = "2035-02-30"; },
         "ServiceEndDate: 2035-02-30 is not a calendar day"},
    };
    for (const Case& c : cases) {
        Json values = kVlVariable;
        c.spoil(values);
        const Object object = NewObject(carvix::com::kClsidVLVariablePersoBlock);
        try {
            FillBlock(object, *FindBlock("vl-variable"), values, NewInsurance);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const InputError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.name << ": " << e.what();
        }
        ScopedVariant flag;
        object.Get(u"RankSpecified", flag);
        EXPECT_EQ(flag->boolVal, VARIANT_FALSE) << c.name << ": the object was touched";
    }
}

TEST(FillBlock, BadInsuranceEntriesNameTheirIndex) {
    const char* entries[] = {
        R"([1])",
        R"([{"Code": "01", "PolicyCode": "100"}])",
        R"([{"Code": "01", "PolicyCode": "100", "ValidTo": "2027-01-28", "Note": "x"}])",
        R"([{"Code": 1, "PolicyCode": "100", "ValidTo": "2027-01-28"}])",
    };
    for (const char* list : entries) {
        Json values = Json::parse(R"({"InsurerName": "I"})");
        values["VoluntaryInsurances"] = Json::parse(list);
        try {
            FillBlock(NewObject(carvix::com::kClsidZKVariableAdminBlock),
                      *FindBlock("zk-variable-admin"), values, NewInsurance);
            ADD_FAILURE() << list << ": accepted";
        } catch (const InputError& e) {
            EXPECT_NE(std::string(e.what()).find("VoluntaryInsurances[0]"), std::string::npos)
                << e.what();
        }
    }
}

TEST(DateOf, CalendarDaysOnly) {
    EXPECT_EQ(IsoDay(DateOf("d", "2024-02-29")), "2024-02-29");
    EXPECT_EQ(IsoDay(DateOf("d", "1900-01-01")), "1900-01-01");
    for (const char* bad :
         {"2023-02-29", "2024-13-01", "2024-1-01", "24-01-01", "2024-01-01x", "0099-01-01", ""}) {
        EXPECT_THROW(DateOf("d", bad), InputError) << bad;
    }
    EXPECT_THROW(DateOf("d", 20240101), InputError);
}

}  // namespace
