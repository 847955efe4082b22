// The generated capability table and the host's check against it, for every class and every
// member the table holds: what it needs is allowed, any one capability less is refused with
// a message naming that capability.
#include "capabilities.h"
#include "dispatcher.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

namespace carvix::bridge {
namespace {

constexpr const char* kOrigin = "https://id.example.org";
constexpr Capabilities kEvery = kRead | kWrite | kPki | kContactless | kSelect;

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Named(const CapabilityText& c) {
    return std::string("(capability \"") + c.name + "\")";
}

TEST(CapabilityTable, NamesEveryCapabilityOnceAndEveryRowNeedsOne) {
    std::set<std::string> names;
    Capabilities bits = 0;
    for (const CapabilityText& c : CapabilityTexts()) {
        EXPECT_TRUE(names.insert(c.name).second) << c.name;
        EXPECT_EQ(CapabilityNamed(c.name), c.bit);
        bits |= c.bit;
    }
    EXPECT_EQ(bits, kEvery);
    EXPECT_FALSE(CapabilityNamed("admin"));
    EXPECT_FALSE(ClassNeeds().empty());
    EXPECT_FALSE(MemberNeeds().empty());
    for (const ClassNeed& c : ClassNeeds()) {
        EXPECT_NE(c.needs, 0u) << c.progId;
        EXPECT_EQ(c.needs & ~kEvery, 0u) << c.progId;
    }
    for (const MemberNeed& m : MemberNeeds()) {
        EXPECT_NE(m.needs, 0u) << m.interfaceName << "." << m.member;
    }
}

TEST(CapabilityTable, EachMemberIsAllowedWithWhatItNeedsAndRefusedWithOneLess) {
    for (const MemberNeed& m : MemberNeeds()) {
        const std::string where = std::string(m.interfaceName) + "." + m.member;
        const auto needed = NeededForMember(m.interfaceName, m.member, m.kind);
        ASSERT_TRUE(needed) << where;
        EXPECT_EQ(*needed & m.needs, m.needs) << where;
        // Names are compared as the object compares them: without regard to case.
        EXPECT_EQ(NeededForMember(Upper(m.interfaceName), Upper(m.member), m.kind), needed)
            << where;
        EXPECT_FALSE(CapabilityRefusal(kOrigin, *needed, *needed)) << where;
        for (const CapabilityText& c : CapabilityTexts()) {
            if ((*needed & c.bit) == 0) {
                continue;
            }
            const auto refusal = CapabilityRefusal(kOrigin, kEvery & ~c.bit, *needed);
            ASSERT_TRUE(refusal) << where << " without " << c.name;
            EXPECT_EQ(*refusal, std::string("The page ") + kOrigin + " is not allowed to " +
                                    c.refusal + " " + Named(c) + ".")
                << where;
        }
    }
}

TEST(CapabilityTable, WhatChangesACardNeedsMoreThanReading) {
    EXPECT_EQ(NeededForMember("IDocAdminService", "ReadVLDocumentData", MemberKind::Method), kRead);
    EXPECT_EQ(NeededForMember("IDocAdminService", "WriteZKVariablePersoData", MemberKind::Method),
              kWrite);
    EXPECT_EQ(NeededForMember("IDocAdminService", "UpdateVLContactlessData", MemberKind::Method),
              kWrite | kContactless);
    EXPECT_EQ(NeededForMember("IPKIService", "GenerateKeyPair", MemberKind::Method), kPki);
    EXPECT_EQ(NeededForMember("ISmartCardService", "SelectReader", MemberKind::Method), kSelect);
    EXPECT_EQ(NeededForMember("IVLVariablePersoBlock", "Rank", MemberKind::Get), kRead);
    EXPECT_EQ(NeededForMember("IVLVariablePersoBlock", "Rank", MemberKind::Put), kWrite);
    // A method asked for as a property still needs what the method needs.
    EXPECT_EQ(NeededForMember("IDocAdminService", "WriteVLVariablePersoData", MemberKind::Get),
              kWrite);
    EXPECT_FALSE(NeededForMember("IDocAdminService", "NoSuchMember", MemberKind::Method));
    EXPECT_FALSE(NeededForMember("INoSuchInterface", "ReadVLDocumentData", MemberKind::Method));
}

// The dispatcher with an origin holding `granted`, and a creator that records what reached it.
struct Host {
    explicit Host(Capabilities granted) : gate(AllowList({{kOrigin, granted}})) {}
    OriginGate gate;
    std::vector<std::u16string> created;
    Dispatcher dispatcher{gate, [this](const std::u16string& progId, IDispatch** out) {
                              created.push_back(progId);
                              *out = nullptr;
                              return REGDB_E_CLASSNOTREG;
                          }};
    Json Create(const std::string& progId) {
        return Json::parse(dispatcher.Handle(
            Json{{"id", 1}, {"op", "create"}, {"progId", progId}, {"origin", kOrigin}}));
    }
};

TEST(CapabilityCheck, EachClassIsCreatedWithWhatItNeedsAndRefusedWithOneLess) {
    for (const ClassNeed& c : ClassNeeds()) {
        Host allowed(c.needs);
        // The creator was reached: the class is not registered in this test, nothing else.
        EXPECT_EQ(allowed.Create(c.progId)["error"]["hresult"],
                  static_cast<std::uint32_t>(REGDB_E_CLASSNOTREG))
            << c.progId;
        EXPECT_EQ(allowed.created.size(), 1u) << c.progId;
        for (const CapabilityText& cap : CapabilityTexts()) {
            if ((c.needs & cap.bit) == 0) {
                continue;
            }
            Host refused(kEvery & ~cap.bit);
            const Json r = refused.Create(Upper(c.progId));
            EXPECT_EQ(r["error"]["hresult"], static_cast<std::uint32_t>(E_ACCESSDENIED))
                << c.progId;
            EXPECT_NE(r["error"]["message"].get<std::string>().find(Named(cap)), std::string::npos)
                << r.dump();
            EXPECT_TRUE(refused.created.empty()) << c.progId << " was created";
        }
    }
}

TEST(CapabilityCheck, ClassesOutsideTheTableAreNeverCreatedAndHelloNeedsNothing) {
    Host host(kEvery);
    const Json r = host.Create("Scripting.FileSystemObject");
    EXPECT_EQ(r["error"]["hresult"], static_cast<std::uint32_t>(E_ACCESSDENIED));
    EXPECT_EQ(r["error"]["message"],
              std::string("The page ") + kOrigin +
                  " may not create \"Scripting.FileSystemObject\": a page can create "
                  "carvix-qx's own classes only.");
    EXPECT_TRUE(host.created.empty());
    Host nothing(0);
    EXPECT_EQ(Json::parse(nothing.dispatcher.Handle(
                  Json{{"id", 2}, {"op", "hello"}, {"origin", kOrigin}}))["ok"],
              true);
}

}  // namespace
}  // namespace carvix::bridge
