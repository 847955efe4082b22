// The hive files and activation through them.
#include "carvix/automation/registry.h"
#include "carvix/automation/guid.h"
#include "carvix/automation/oleauto.h"
#include "temp_hives.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

namespace reg = carvix::automation::registry;

TEST(RegistryText, RoundTripsKeysValuesAndEscapes) {
    reg::Key root;
    root.Create(u"CLSID\\{X}\\Programmable");
    reg::Key& k = root.Create(u"CLSID\\{X}\\InprocServer32");
    k.values[u""] = u"/opt/a \"b\"\\c.so";
    k.values[u"ThreadingModel"] = u"Apart\nment\u00e9";
    const std::string text = reg::Serialize(root);
    EXPECT_NE(text.find("[CLSID\\{X}\\InprocServer32]\n@=\"/opt/a \\\"b\\\"\\\\c.so\"\n"),
              std::string::npos);
    auto back = reg::Parse(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(reg::Serialize(*back), text);
    EXPECT_NE(back->Find(u"clsid\\{x}\\PROGRAMMABLE"), nullptr);  // names ignore case
    EXPECT_EQ(back->Value(u"CLSID\\{X}\\InprocServer32", u"threadingmodel"), u"Apart\nment\u00e9");
}

TEST(RegistryText, MalformedInputIsSkippedOrRefused) {
    EXPECT_FALSE(reg::Parse("not a hive\n[A]\n"));
    auto parsed = reg::Parse(
        "carvix-registry 1\n@=\"orphan\"\n[A]\n\"unterminated=\"x\n"
        "\"ok\"=\"1\"\r\n[]\n[A\\\\B\\]\n; comment\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Value(u"A", u"ok"), u"1");
    EXPECT_EQ(parsed->Find(u"A")->values.size(), 1u);
    EXPECT_NE(parsed->Find(u"A\\B"), nullptr);
    EXPECT_TRUE(reg::Parse(""));
}

TEST(RegistryKeys, RemoveTakesTheWholeSubtree) {
    reg::Key root;
    root.Create(u"A\\B\\C");
    root.Create(u"A\\D");
    EXPECT_TRUE(root.Remove(u"a\\b"));
    EXPECT_EQ(root.Find(u"A\\B\\C"), nullptr);
    EXPECT_NE(root.Find(u"A\\D"), nullptr);
    EXPECT_FALSE(root.Remove(u"A\\B"));
    EXPECT_FALSE(root.Remove(u""));
}

class Activation : public ::testing::Test {
  protected:
    void Register(reg::Hive hive, const std::u16string& prefix, const std::u16string& progId,
                  const std::u16string& clsid, const std::u16string& module) {
        ASSERT_EQ(
            reg::Edit(
                hive,
                [&](reg::Key& root) {
                    root.Create(prefix + progId + u"\\CLSID").values[u""] = clsid;
                    root.Create(prefix + u"CLSID\\" + clsid + u"\\InprocServer32").values[u""] =
                        module;
                    return S_OK;
                }),
            S_OK);
    }
    TempHives hives;
    const std::u16string a = u"{11111111-2222-3333-4444-555555555555}";
    const std::u16string b = u"{AAAAAAAA-2222-3333-4444-555555555555}";
};

TEST_F(Activation, HivesLiveUnderTheXdgFolders) {
    EXPECT_EQ(reg::HivePath(reg::Hive::User),
              hives.Root() / "config" / "carvix-com" / "current-user.hive");
    EXPECT_EQ(reg::HivePath(reg::Hive::Machine),
              hives.Root() / "system" / "carvix-com" / "classes-root.hive");
    Register(reg::Hive::Machine, u"", u"T.Thing.1", a, u"/nonexistent.so");
    std::ifstream in(reg::HivePath(reg::Hive::Machine));
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "carvix-registry 1");
}

// A session that lists a folder of its own before /etc/xdg still finds the machine's
// registration; registrations go to the first folder, which wins when both hold a class.
TEST_F(Activation, MachineLookupsReadEveryFolderOfTheList) {
    const std::string session = (hives.Root() / "session").string();
    const std::string system = (hives.Root() / "system").string();
    Register(reg::Hive::Machine, u"", u"T.Thing.1", a, u"/nonexistent.so");
    ::setenv("XDG_CONFIG_DIRS", (session + ":relative::" + system).c_str(), 1);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"T.Thing.1", &clsid), S_OK);
    EXPECT_EQ(carvix::automation::GuidToString(clsid), a);
    EXPECT_EQ(reg::HivePath(reg::Hive::Machine),
              hives.Root() / "session" / "carvix-com" / "classes-root.hive");

    Register(reg::Hive::Machine, u"", u"T.Thing.1", b, u"/nonexistent.so");
    ASSERT_EQ(CLSIDFromProgID(u"T.Thing.1", &clsid), S_OK);
    EXPECT_EQ(carvix::automation::GuidToString(clsid), b);
    EXPECT_EQ(reg::ClassesValue(u"CLSID\\" + a + u"\\InprocServer32"), u"/nonexistent.so");
}

TEST_F(Activation, ProgIdsFollowCurVerAndUserClassesWin) {
    Register(reg::Hive::Machine, u"", u"T.Thing.1", a, u"/nonexistent.so");
    reg::Edit(reg::Hive::Machine, [](reg::Key& root) {
        root.Create(u"T.Thing\\CurVer").values[u""] = u"T.Thing.1";
        root.Create(u"T.Thing\\CLSID").values[u""] = u"{00000000-0000-0000-0000-000000000001}";
        return S_OK;
    });
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"t.thing", &clsid), S_OK);
    EXPECT_EQ(carvix::automation::GuidToString(clsid), a);
    ASSERT_EQ(CLSIDFromProgID(u"T.Thing.1", &clsid), S_OK);
    EXPECT_EQ(carvix::automation::GuidToString(clsid), a);

    Register(reg::Hive::User, u"Software\\Classes\\", u"T.Thing.1", b, u"/nonexistent.so");
    ASSERT_EQ(CLSIDFromProgID(u"T.Thing", &clsid), S_OK);
    EXPECT_EQ(carvix::automation::GuidToString(clsid), b);

    EXPECT_EQ(CLSIDFromProgID(u"T.Other", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromProgID(u"T.Thing", nullptr), E_INVALIDARG);
}

TEST_F(Activation, MissingClassesAndModulesAreReported) {
    CLSID clsid = *carvix::automation::ParseGuid(a);
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(p, nullptr);
    Register(reg::Hive::Machine, u"", u"T.Thing.1", a, u"/nonexistent/module.so");
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
              CO_E_DLLNOTFOUND);
    Register(reg::Hive::Machine, u"", u"T.Thing.1", a, u"libm.so.6");  // no DllGetClassObject
    EXPECT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &p),
              CO_E_ERRORINDLL);
    EXPECT_EQ(CoGetClassObject(clsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory, &p),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
              E_INVALIDARG);
    LPOLESTR progId = nullptr;
    EXPECT_EQ(ProgIDFromCLSID(clsid, &progId), REGDB_E_CLASSNOTREG);
}

TEST_F(Activation, AForeignFileIsNeverOverwritten) {
    const auto path = reg::HivePath(reg::Hive::User);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "something else\n";
    EXPECT_EQ(reg::Edit(reg::Hive::User, [](reg::Key&) { return S_OK; }), REGDB_E_WRITEREGDB);
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "something else");
}

// Lookups keep the parsed hive between calls; every change of the file must still be seen.
TEST_F(Activation, LookupsSeeEveryChangeOfTheHive) {
    CLSID clsid{};
    Register(reg::Hive::User, u"Software\\Classes\\", u"T.Thing.1", a, u"/nonexistent.so");
    ASSERT_EQ(CLSIDFromProgID(u"T.Thing.1", &clsid), S_OK);
    EXPECT_EQ(carvix::automation::GuidToString(clsid), a);

    Register(reg::Hive::User, u"Software\\Classes\\", u"T.Thing.1", b, u"/nonexistent.so");
    ASSERT_EQ(CLSIDFromProgID(u"T.Thing.1", &clsid), S_OK);
    EXPECT_EQ(carvix::automation::GuidToString(clsid), b);

    // Rewritten in place by another program (same file, new contents).
    const auto path = reg::HivePath(reg::Hive::User);
    std::string text;
    {
        std::ifstream in(path);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string bText(b.begin(), b.end());
    const std::string aText(a.begin(), a.end());
    for (auto at = text.find(bText); at != std::string::npos; at = text.find(bText)) {
        text.replace(at, bText.size(), aText);
    }
    std::ofstream(path, std::ios::trunc) << text << "\n";
    ASSERT_EQ(CLSIDFromProgID(u"T.Thing.1", &clsid), S_OK);
    EXPECT_EQ(carvix::automation::GuidToString(clsid), a);

    std::filesystem::remove(path);
    EXPECT_EQ(CLSIDFromProgID(u"T.Thing.1", &clsid), CO_E_CLASSSTRING);
}

TEST(Guids, TextFormRoundTrips) {
    GUID g{};
    ASSERT_EQ(CLSIDFromString(u"{cb5bdc81-93c1-11cf-8f20-00805f2cd064}", &g), S_OK);
    EXPECT_TRUE(g == IID_IObjectSafety);
    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(g, buf, 39), 39);
    EXPECT_EQ(std::u16string(buf), u"{CB5BDC81-93C1-11CF-8F20-00805F2CD064}");
    EXPECT_EQ(StringFromGUID2(g, buf, 38), 0);
    EXPECT_EQ(CLSIDFromString(u"{CB5BDC81-93C1-11CF-8F20-00805F2CD06}", &g), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(u"CB5BDC81-93C1-11CF-8F20-00805F2CD064", &g), CO_E_CLASSSTRING);
}

}  // namespace
