// The dispatcher's answers to requests that go wrong before any module is involved: nothing a
// page sends may crash the host or go unanswered.
#include "dispatcher.h"
#include "message_json.h"
#include "protocol_version.h"

#include "carvix/automation/failure_codes.h"

#include <gtest/gtest.h>

namespace carvix::bridge {
namespace {

class Dispatching : public ::testing::Test {
  protected:
    OriginGate gate{AllowList({{"https://id.example.org", kRead}})};
    // No module: every creation fails as for an unregistered class.
    Dispatcher dispatcher{gate, [](const std::u16string&, IDispatch** out) {
                              *out = nullptr;
                              return REGDB_E_CLASSNOTREG;
                          }};

    Json Send(const std::string& text) { return Json::parse(dispatcher.HandleText(text)); }
    Json Request(Json fields) {
        fields["origin"] = "https://id.example.org";
        return Json::parse(dispatcher.Handle(fields));
    }
};

void ExpectError(const Json& response, HRESULT hr, const Json& id = nullptr) {
    EXPECT_EQ(response["ok"], false) << response.dump();
    EXPECT_EQ(response["id"], id) << response.dump();
    EXPECT_EQ(response["error"]["hresult"], static_cast<std::uint32_t>(hr)) << response.dump();
    EXPECT_EQ(response["error"]["hex"], HexCode(hr));
    EXPECT_FALSE(response["error"]["message"].get<std::string>().empty());
}

TEST_F(Dispatching, HelloNamesHostAndVersion) {
    const Json r = Request({{"id", 1}, {"op", "hello"}});
    EXPECT_EQ(r["ok"], true);
    EXPECT_EQ(r["id"], 1);
    EXPECT_EQ(r["result"]["version"], 1);
    EXPECT_EQ(r["result"]["host"], "carvix-bridge");
}

TEST_F(Dispatching, HelloRefusesProtocolsThisHostCannotServeAndNamesThePartToUpdate) {
    const std::string ours = std::to_string(kProtocolMajor) + "." + std::to_string(kProtocolMinor);
    const Json fine = Request({{"id", 1},
                               {"op", "hello"},
                               {"protocol", ours},
                               {"library", "9.9.9"},
                               {"extension", "9.9.8"},
                               {"extensionProtocol", ours}});
    ASSERT_EQ(fine["ok"], true) << fine.dump();
    EXPECT_EQ(fine["result"]["protocol"], ours);
    EXPECT_FALSE(fine["result"]["hostVersion"].get<std::string>().empty());
    EXPECT_EQ(fine["result"]["library"], "9.9.9");
    EXPECT_EQ(fine["result"]["extension"], "9.9.8");
    // A library from before versions were exchanged speaks 1.0, which every 1.x host serves.
    EXPECT_EQ(Request({{"id", 2}, {"op", "hello"}})["ok"], kProtocolMajor == 1);

    const auto refused = [&](Json hello, const std::string& update) {
        hello["id"] = 3;
        hello["op"] = "hello";
        const Json r = Request(hello);
        ExpectError(r, automation::failures::VersionMismatch, 3);
        EXPECT_NE(r["error"]["message"].get<std::string>().find(update), std::string::npos)
            << r.dump();
    };
    const std::string newerMajor = std::to_string(kProtocolMajor + 1) + ".0";
    const std::string newerMinor =
        std::to_string(kProtocolMajor) + "." + std::to_string(kProtocolMinor + 1);
    const std::string olderMajor = std::to_string(kProtocolMajor - 1) + ".9";
    const std::string host = "Update the carvix-qx host (package carvix-qx)";
    refused({{"protocol", newerMajor}}, host);
    refused({{"protocol", newerMinor}}, host);
    refused({{"protocol", olderMajor}}, "Update the page library");
    refused({{"protocol", ours}, {"extensionProtocol", olderMajor}},
            "Update the carvix-qx browser extension");
    refused({{"protocol", ours}, {"extensionProtocol", newerMinor}}, host);
    for (const Json& bad : {Json("1"), Json("1.x"), Json(1.1), Json("99999.1"), Json("")}) {
        ExpectError(Request({{"id", 4}, {"op", "hello"}, {"protocol", bad}}), E_INVALIDARG, 4);
    }
}

TEST_F(Dispatching, MalformedMessagesGetInvalidArgWithTheIdWhenReadable) {
    for (const char* text : {"", "not json", "[1,2]", "42", "{\"id\":1", "\"\xff\""}) {
        ExpectError(Send(text), E_INVALIDARG);
    }
    ExpectError(Send(R"({"id":"7","op":"hello","origin":"https://id.example.org"})"), E_INVALIDARG);
    ExpectError(Send(R"({"id":3,"origin":"https://id.example.org"})"), E_INVALIDARG, 3);
    ExpectError(Send(R"({"id":4,"op":17,"origin":"https://id.example.org"})"), E_INVALIDARG, 4);
    // An operation the host does not know is named as such: a newer page may need it.
    ExpectError(Request({{"id", 5}, {"op", "teleport"}}), E_NOTIMPL, 5);
    EXPECT_NE(Request({{"id", 5}, {"op", "teleport"}})["error"]["message"].get<std::string>().find(
                  "knows no operation \"teleport\""),
              std::string::npos);
    ExpectError(Request({{"id", 6}, {"op", "create"}}), E_INVALIDARG, 6);
    ExpectError(Request({{"id", 7}, {"op", "create"}, {"progId", 12}}), E_INVALIDARG, 7);
    ExpectError(Request({{"id", 8}, {"op", "call"}, {"handle", 1}, {"name", "X"}}), E_HANDLE, 8);
    ExpectError(Request({{"id", 9}, {"op", "get"}, {"handle", "1"}, {"name", "X"}}), E_HANDLE, 9);
    ExpectError(Request({{"id", 10}, {"op", "release"}, {"handle", 1}}), E_HANDLE, 10);
    ExpectError(Request({{"id", 11}, {"op", "put"}, {"handle", 1}, {"name", "X"}}), E_HANDLE, 11);
}

TEST_F(Dispatching, ValuesNestedWithoutEndAreRefusedNotFollowed) {
    // 50,000 nested object values in a call's argument (600 KB, well under the frame limit).
    std::string nested;
    for (int i = 0; i < 50000; ++i) {
        nested += R"({"$object":)";
    }
    nested += "1" + std::string(50000, '}');
    ExpectError(Send(R"({"id":1,"op":"call","handle":1,"name":"X","args":[)" + nested +
                     R"(],"origin":"https://id.example.org"})"),
                E_INVALIDARG);
    std::string arrays = std::string(50000, '[') + std::string(50000, ']');
    ExpectError(Send(arrays), E_INVALIDARG);
    // The deepest value a page may send still arrives.
    std::string deepest = std::string(kMaxNesting, '[') + std::string(kMaxNesting, ']');
    ExpectError(Request({{"id", 2},
                         {"op", "call"},
                         {"handle", 1},
                         {"name", "X"},
                         {"args", Json::array({Json::parse(deepest)})}}),
                E_HANDLE, 2);
    EXPECT_FALSE(ParseMessageJson(R"({"args":[)" + deepest + "]}").is_discarded());
}

TEST_F(Dispatching, EveryRequestIsCheckedAgainstTheAllowList) {
    const Json refused = Send(R"({"id":1,"op":"hello","origin":"https://evil.example"})");
    ExpectError(refused, E_ACCESSDENIED, 1);
    EXPECT_EQ(refused["error"]["message"],
              "The page https://evil.example is not allowed to use carvix-qx.");
    ExpectError(Send(R"({"id":2,"op":"hello"})"), E_ACCESSDENIED, 2);
    ExpectError(Send(R"({"id":3,"op":"hello","origin":null})"), E_ACCESSDENIED, 3);
}

TEST_F(Dispatching, PolicyNeedsNoOriginAndAnswersGetNoResponse) {
    EXPECT_EQ(Send(R"({"op":"policy"})"),
              (Json{{"origins", {"https://id.example.org"}},
                    {"capabilities", {{"https://id.example.org", {"read"}}}}}));
    EXPECT_EQ(dispatcher.HandleText(R"({"op":"answer","prompt":1,"index":0})"), "");
}

TEST_F(Dispatching, AFailedCreationCarriesItsHresultAndAMessage) {
    ExpectError(Request({{"id", 1}, {"op", "create"}, {"progId", "CARVIX.DocAdmin"}}),
                REGDB_E_CLASSNOTREG, 1);
}

}  // namespace
}  // namespace carvix::bridge
