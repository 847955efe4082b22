// The scripting surface of the block classes as the type information describes it: the
// object-map rows, Load and Store, contiguous DISPIDs, flags beside their fields, get-only
// versus get-and-put, help strings, and which classes answer IObjectSafety.
#include "carvix/automation/typeinfo.h"
#include "carvix/com/guids.h"
#include "carvix/com/model_transfer.h"
#include "carvix/com/module.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace {

using namespace carvix::com;
namespace ca = carvix::automation;

struct Expected {
    const CLSID* clsid;
    const IID* iid;
    const char16_t* progId;
    int script;
    bool writable;
    DISPID lastDispid;
    bool vlHelp;  // "Loads data from block" rather than "method Load"
};

const Expected kClasses[] = {
    {&kClsidVLContactlessBlock, &kIidIVLContactlessBlock, u"CARVIX.VLContactlessBlock", 117, false,
     13, false},
    {&kClsidVLDocumentBlock, &kIidIVLDocumentBlock, u"CARVIX.VLDocBlock", 109, false, 5, true},
    {&kClsidVLFixedPersoBlock, &kIidIVLFixedPersoBlock, u"CARVIX.VLFXPersoBlock", 110, false, 8,
     true},
    {&kClsidVLPhotoBlock, &kIidIVLPhotoBlock, u"CARVIX.VLPhotoBlock", 111, false, 2, true},
    {&kClsidVLVariablePersoBlock, &kIidIVLVariablePersoBlock, u"CARVIX.VLVXPersoBlock", 105, true,
     13, true},
    {&kClsidVoluntaryInsurance, &kIidIVoluntaryInsurance, u"CARVIX.VoluntaryInsurance", 116, true,
     5, false},
    {&kClsidZKDocumentBlock, &kIidIZKDocumentBlock, u"CARVIX.ZKDocBlock", 113, false, 6, false},
    {&kClsidZKFixedAdminBlock, &kIidIZKFixedAdminBlock, u"CARVIX.ZKFXAdminBlock", 114, false, 26,
     false},
    {&kClsidZKFixedPersoBlock, &kIidIZKFixedPersoBlock, u"CARVIX.ZKFXPersoBlock", 115, false, 10,
     false},
    {&kClsidZKVariableAdminBlock, &kIidIZKVariableAdminBlock, u"CARVIX.ZKVXAdminBlock", 107, true,
     24, false},
    {&kClsidZKVariablePersoBlock, &kIidIZKVariablePersoBlock, u"CARVIX.ZKVXPersoBlock", 106, true,
     26, false},
};

std::u16string Str(const char16_t* s) {
    return s != nullptr ? std::u16string(s) : std::u16string();
}

TEST(BlockClasses, JoinTheObjectMapInRegistrationOrder) {
    std::vector<std::u16string> order;
    for (const ClassEntry& entry : ObjectMap()) {
        order.push_back(entry.className);
    }
    const std::vector<std::u16string> blocks = {
        u"VLContactlessBlock",   u"VLDocumentBlock",      u"VLFixedPersoBlock",
        u"VLPhotoBlock",         u"VLVariablePersoBlock", u"VoluntaryInsurance",
        u"ZKDocumentBlock",      u"ZKFixedAdminBlock",    u"ZKFixedPersoBlock",
        u"ZKVariableAdminBlock", u"ZKVariablePersoBlock"};
    auto first = std::find(order.begin(), order.end(), blocks.front());
    ASSERT_NE(first, order.end());
    ASSERT_GE(order.end() - first, static_cast<std::ptrdiff_t>(blocks.size()));
    EXPECT_EQ(
        std::vector<std::u16string>(first, first + static_cast<std::ptrdiff_t>(blocks.size())),
        blocks);
    EXPECT_EQ(Str(FindClass(kClsidVoluntaryInsurance)->coclassName), u"VoluntaryInsuranceClass");
}

TEST(BlockClasses, RowsNameTheirProgIdScriptAndInterface) {
    for (const Expected& e : kClasses) {
        const ClassEntry* entry = FindClass(*e.clsid);
        ASSERT_NE(entry, nullptr) << testing::PrintToString(std::u16string(e.progId));
        EXPECT_EQ(Str(entry->progIdStem), e.progId);
        EXPECT_EQ(entry->scriptId, e.script);
        EXPECT_TRUE(entry->primary.iid == *e.iid);
        EXPECT_EQ(Str(entry->primary.help), Str(entry->primary.name) + u" Interface");
    }
}

TEST(BlockClasses, AllButTheContactlessBlockAnswerObjectSafety) {
    for (const Expected& e : kClasses) {
        void* object = nullptr;
        ASSERT_EQ(CreateObject(*e.clsid, *e.iid, &object), S_OK);
        auto* unknown = static_cast<IUnknown*>(object);
        void* other = nullptr;
        EXPECT_EQ(unknown->QueryInterface(IID_IDispatch, &other), S_OK);
        static_cast<IUnknown*>(other)->Release();
        const bool contactless = e.clsid == &kClsidVLContactlessBlock;
        EXPECT_EQ(FindClass(*e.clsid)->objectSafety, !contactless);
        const HRESULT hr = unknown->QueryInterface(IID_IObjectSafety, &other);
        if (contactless) {
            EXPECT_EQ(hr, E_NOINTERFACE);
            EXPECT_EQ(other, nullptr);
        } else {
            ASSERT_EQ(hr, S_OK);
            auto* safety = static_cast<IObjectSafety*>(other);
            std::uint32_t supported = 0, enabled = 0;
            EXPECT_EQ(safety->SetInterfaceSafetyOptions(*e.iid, 1, 1), S_OK);
            EXPECT_EQ(safety->GetInterfaceSafetyOptions(*e.iid, &supported, &enabled), S_OK);
            EXPECT_EQ(supported, 1u);
            EXPECT_EQ(enabled, 1u);
            safety->Release();
        }
        unknown->Release();
    }
}

TEST(BlockClasses, MembersFollowTheSharedShape) {
    for (const Expected& e : kClasses) {
        const ca::InterfaceDesc& desc = FindClass(*e.clsid)->primary;
        SCOPED_TRACE(testing::PrintToString(std::u16string(desc.name)));
        std::map<DISPID, std::u16string> names;
        std::set<DISPID> gets, puts;
        std::map<std::u16string, DISPID> byName;
        std::map<std::u16string, VARTYPE> types;
        for (const ca::MemberDesc& m : desc.members) {
            const std::u16string name = m.name;
            if (m.kind == ca::MemberKind::Method) {
                EXPECT_TRUE(name == u"Load" || name == u"Store") << testing::PrintToString(name);
                EXPECT_EQ(m.id, name == u"Load" ? 1 : 2);
                EXPECT_NE(m.flags & ca::kMemberInProcessOnly, 0);
                ASSERT_EQ(m.paramCount, 1);
                EXPECT_EQ(Str(m.params[0].name), u"pData");
                EXPECT_EQ(m.params[0].vt, VT_VARIANT);
                EXPECT_EQ(m.RetvalIndex(), -1);
                const std::u16string help = e.vlHelp ? (name == u"Load" ? u"Loads data from block"
                                                                        : u"Stores data into block")
                                                     : u"method " + name;
                EXPECT_EQ(Str(m.help), help);
                names[m.id] = name;
                continue;
            }
            (m.kind == ca::MemberKind::PropertyGet ? gets : puts).insert(m.id);
            names[m.id] = name;
            byName[name] = m.id;
            types[name] = m.params[0].vt;
            const bool misspelt = desc.iid == kIidIZKVariableAdminBlock && (m.id == 7 || m.id == 8);
            if (!misspelt) {
                EXPECT_EQ(Str(m.help), u"property " + name);
            }
        }
        EXPECT_EQ(names.count(2) != 0 && names[2] == u"Store", e.writable);
        // DISPIDs run without gaps from Load to the last property.
        EXPECT_EQ(names.size(), static_cast<std::size_t>(e.lastDispid));
        EXPECT_EQ(names.rbegin()->first, e.lastDispid);
        if (e.writable) {
            EXPECT_EQ(gets, puts);
        } else {
            EXPECT_TRUE(puts.empty());
        }
        // Every flag sits right after its field and is a BOOL.
        for (const auto& [name, id] : byName) {
            const std::size_t at = name.rfind(u"Specified");
            if (at == std::u16string::npos || at + 9 != name.size()) {
                continue;
            }
            const std::u16string field = name.substr(0, at);
            ASSERT_TRUE(byName.count(field)) << testing::PrintToString(name);
            EXPECT_EQ(byName[field] + 1, id);
            EXPECT_EQ(types[name], VT_BOOL);
        }
    }
}

TEST(BlockClasses, TheVariableAdminBlockKeepsItsHelpSpelling) {
    const ca::InterfaceDesc& desc = FindClass(kClsidZKVariableAdminBlock)->primary;
    int seen = 0;
    for (const ca::MemberDesc& m : desc.members) {
        if (m.id == 7) {
            EXPECT_EQ(Str(m.name), u"BookletIssuerCode");
            EXPECT_EQ(Str(m.help), u"property BookletIssurerCode");
            ++seen;
        } else if (m.id == 8) {
            EXPECT_EQ(Str(m.name), u"BookletIssuerCodeSpecified");
            EXPECT_EQ(Str(m.help), u"property BookletIssurerCodeSpecified");
            ++seen;
        } else if (m.id == 3) {
            EXPECT_EQ(Str(m.name), u"VoluntaryInsurances");
            EXPECT_EQ(m.params[0].vt, VT_VARIANT);
            if (m.kind == ca::MemberKind::PropertyGet) {
                EXPECT_EQ(m.RetvalIndex(), 0);
            }
        }
    }
    EXPECT_EQ(seen, 4);  // get and put of each
}

}  // namespace
