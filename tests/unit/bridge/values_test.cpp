// VARIANTs to JSON and back through the runtime's own VARIANT and SAFEARRAY functions.
#include "values.h"
#include "base64_text.h"

#include "carvix/automation/client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace carvix::bridge {
namespace {

using automation::ScopedVariant;

// Hands out handles for any pointer and finds the ones it handed out.
class FakeBroker final : public ObjectBroker {
  public:
    Json Export(IDispatch* object) override {
        exported.push_back(object);
        return Json{{"$object", static_cast<std::int64_t>(exported.size())}};
    }
    IDispatch* Find(std::int64_t handle) const override {
        return handle >= 1 && handle <= static_cast<std::int64_t>(exported.size())
                   ? exported[static_cast<std::size_t>(handle - 1)]
                   : nullptr;
    }
    std::vector<IDispatch*> exported;
};

Json ToJson(const VARIANT& v) {
    FakeBroker broker;
    return VariantToJson(v, broker);
}

Json RoundTrip(const Json& in, VARTYPE* vt = nullptr) {
    FakeBroker broker;
    ScopedVariant v;
    JsonToVariant(in, broker, v.Get());
    if (vt != nullptr) {
        *vt = v->vt;
    }
    return VariantToJson(*v, broker);
}

TEST(Values, ScalarsBecomeJsonOfTheirKind) {
    ScopedVariant v;
    v.Get()->vt = VT_BOOL;
    v.Get()->boolVal = VARIANT_TRUE;
    EXPECT_EQ(ToJson(*v), Json(true));
    v.Get()->vt = VT_I2;
    v.Get()->iVal = -7;
    EXPECT_EQ(ToJson(*v), Json(-7));
    v.Get()->vt = VT_UI4;
    v.Get()->ulVal = 0xFFFFFFFFu;
    EXPECT_EQ(ToJson(*v), Json(4294967295u));
    v.Get()->vt = VT_CY;
    v.Get()->cyVal.int64 = 12345678;  // 1234.5678
    EXPECT_DOUBLE_EQ(ToJson(*v).get<double>(), 1234.5678);
    v.Get()->vt = VT_ERROR;
    v.Get()->scode = static_cast<SCODE>(0x80020004u);
    EXPECT_EQ(ToJson(*v), (Json{{"$error", 0x80020004u}}));
    v.Get()->vt = VT_EMPTY;
    EXPECT_TRUE(ToJson(*v).is_null());
}

TEST(Values, Int64StaysANumberOnlyWhileExact) {
    ScopedVariant v;
    v.Get()->vt = VT_I8;
    v.Get()->llVal = std::int64_t{1} << 53;
    EXPECT_EQ(ToJson(*v), Json(std::int64_t{1} << 53));
    v.Get()->llVal = (std::int64_t{1} << 53) + 1;
    EXPECT_EQ(ToJson(*v), (Json{{"$int64", "9007199254740993"}}));
    v.Get()->llVal = -(std::int64_t{1} << 62);
    EXPECT_EQ(ToJson(*v), (Json{{"$int64", "-4611686018427387904"}}));
    v.Get()->vt = VT_UI8;
    v.Get()->ullVal = 0xFFFFFFFFFFFFFFFFull;
    EXPECT_EQ(ToJson(*v), (Json{{"$int64", "18446744073709551615"}}));

    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(RoundTrip(Json{{"$int64", "-9007199254740993"}}, &vt),
              (Json{{"$int64", "-9007199254740993"}}));
    EXPECT_EQ(vt, VT_I8);
}

TEST(Values, NumbersFromThePageAreI4InRangeAndR8Otherwise) {
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(RoundTrip(2147483647, &vt), Json(2147483647));
    EXPECT_EQ(vt, VT_I4);
    EXPECT_EQ(RoundTrip(-2147483648LL, &vt), Json(-2147483648LL));
    EXPECT_EQ(vt, VT_I4);
    EXPECT_EQ(RoundTrip(2147483648LL, &vt).get<double>(), 2147483648.0);
    EXPECT_EQ(vt, VT_R8);
    EXPECT_EQ(RoundTrip(1.5, &vt), Json(1.5));
    EXPECT_EQ(vt, VT_R8);
    EXPECT_EQ(RoundTrip(nullptr, &vt), Json(nullptr));
    EXPECT_EQ(vt, VT_NULL);
    EXPECT_EQ(RoundTrip("Grüße €", &vt), Json("Grüße €"));
    EXPECT_EQ(vt, VT_BSTR);
}

TEST(Values, DatesAreIsoTextBothWays) {
    ScopedVariant v;
    v.Get()->vt = VT_DATE;
    v.Get()->date = 45000.75;  // 2023-03-15 18:00
    EXPECT_EQ(ToJson(*v), (Json{{"$date", "2023-03-15T18:00:00"}}));
    v.Get()->date = -1.25;  // before the epoch the fraction still counts forward
    EXPECT_EQ(ToJson(*v), (Json{{"$date", "1899-12-29T06:00:00"}}));
    v.Get()->date = 1e9;  // beyond the year 9999
    EXPECT_THROW(ToJson(*v), BridgeError);

    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(RoundTrip(Json{{"$date", "2024-02-29"}}, &vt),
              (Json{{"$date", "2024-02-29T00:00:00"}}));
    EXPECT_EQ(vt, VT_DATE);
    for (const char* bad : {"2023-02-29", "2024-02-30", "2024-13-01", "2024-1-01",
                            "2024-01-01 10:00:00", "2024-01-01T24:00:00", "", "yesterday"}) {
        EXPECT_FALSE(ParseDateText(bad)) << bad;
    }
}

TEST(Values, ByteArraysAreBase64AndComeBackAsBytes) {
    const std::uint8_t bytes[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00};
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, sizeof bytes);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
    std::memcpy(data, bytes, sizeof bytes);
    SafeArrayUnaccessData(array);
    ScopedVariant v;
    v.Get()->vt = VT_ARRAY | VT_UI1;
    v.Get()->parray = array;
    EXPECT_EQ(ToJson(*v), (Json{{"$bytes", "/9j/4AA="}}));

    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(RoundTrip(Json{{"$bytes", "/9j/4AA="}}, &vt), (Json{{"$bytes", "/9j/4AA="}}));
    EXPECT_EQ(vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(RoundTrip(Json{{"$bytes", ""}}), (Json{{"$bytes", ""}}));
    FakeBroker broker;
    for (const char* bad : {"/9j/4AA", "/9j/4A=A", "/9j/ 4AA=", "****"}) {
        ScopedVariant out;
        EXPECT_THROW(JsonToVariant(Json{{"$bytes", bad}}, broker, out.Get()), BridgeError) << bad;
        EXPECT_EQ(out->vt, VT_EMPTY);
    }
}

TEST(Base64, EncodesAndDecodesEveryPaddingLength) {
    for (std::size_t n = 0; n < 8; ++n) {
        std::vector<std::uint8_t> bytes(n);
        for (std::size_t i = 0; i < n; ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 97 + 3);
        }
        const std::string text = EncodeBase64(bytes);
        EXPECT_EQ(text.size() % 4, 0u);
        EXPECT_EQ(DecodeBase64(text), bytes) << text;
    }
    EXPECT_EQ(EncodeBase64(std::vector<std::uint8_t>{'M', 'a', 'n'}), "TWFu");
}

TEST(Values, NestedArraysKeepTheirShape) {
    const Json nested = Json::array({1, Json::array({"a", Json::array({true, nullptr})}),
                                     Json{{"$date", "2000-01-01T12:30:00"}}});
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(RoundTrip(nested, &vt), nested);
    EXPECT_EQ(vt, VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(RoundTrip(Json::array()), Json::array());

    // Arrays of plain element types, as a module returns a list of names.
    SAFEARRAY* names = SafeArrayCreateVector(VT_BSTR, 1, 2);
    std::int32_t i = 1;
    BSTR first = SysAllocString(u"Reader 0");
    SafeArrayPutElement(names, &i, first);
    SysFreeString(first);
    ScopedVariant v;
    v.Get()->vt = VT_ARRAY | VT_BSTR;
    v.Get()->parray = names;
    EXPECT_EQ(ToJson(*v), Json::array({"Reader 0", ""}));
}

TEST(Values, NestingBeyondTheLimitIsRefusedNotRecursedInto) {
    Json deep = 1;
    for (int i = 0; i < kMaxNesting + 2; ++i) {
        deep = Json::array({deep});
    }
    FakeBroker broker;
    ScopedVariant v;
    EXPECT_THROW(JsonToVariant(deep, broker, v.Get()), BridgeError);
    EXPECT_EQ(v->vt, VT_EMPTY);
}

TEST(Values, MultiDimensionalArraysAndUnknownTypesAreErrors) {
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    ScopedVariant v;
    v.Get()->vt = VT_ARRAY | VT_I4;
    v.Get()->parray = SafeArrayCreate(VT_I4, 2, bounds);
    try {
        ToJson(*v);
        FAIL() << "a two-dimensional array was accepted";
    } catch (const BridgeError& e) {
        EXPECT_EQ(e.hr, DISP_E_TYPEMISMATCH);
    }
    ScopedVariant odd;
    odd.Get()->vt = 0x48;  // VT_CLSID: nothing the page can hold
    try {
        ToJson(*odd);
        FAIL() << "an unknown type was accepted";
    } catch (const BridgeError& e) {
        EXPECT_EQ(e.hr, DISP_E_BADVARTYPE);
    }
}

TEST(Values, ObjectsTravelAsHandlesOfTheBroker) {
    FakeBroker broker;
    auto* fake = reinterpret_cast<IDispatch*>(&broker);  // never called through
    ScopedVariant v;
    v.Get()->vt = VT_DISPATCH;
    v.Get()->pdispVal = fake;
    EXPECT_EQ(VariantToJson(*v, broker), (Json{{"$object", 1}}));
    v.Get()->pdispVal = nullptr;
    EXPECT_TRUE(VariantToJson(*v, broker).is_null());
    v.Get()->vt = VT_EMPTY;  // the fake must not be released

    ScopedVariant missing;
    try {
        JsonToVariant(Json{{"$object", 7}}, broker, missing.Get());
        FAIL() << "an unknown handle was accepted";
    } catch (const BridgeError& e) {
        EXPECT_EQ(e.hr, E_HANDLE);
    }
    for (const Json& bad : {Json{{"x", 1}}, Json{{"$object", 1}, {"extra", 2}},
                            Json{{"$int64", "12a"}}, Json{{"$int64", 5}}, Json{{"$date", 5}}}) {
        ScopedVariant out;
        EXPECT_THROW(JsonToVariant(bad, broker, out.Get()), BridgeError) << bad.dump();
    }
}

}  // namespace
}  // namespace carvix::bridge
