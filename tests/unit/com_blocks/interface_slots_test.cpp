// The block interfaces are written out by hand; these tests hold each one to its model's
// field description. Every accessor slot is called through the vtable, as a C client calls
// it, and must reach the same field (with the same kind and flag) as the DISPID that the
// type information derives from the description.
#include "carvix/blocks/models.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/com/model_transfer.h"
#include "model_samples.h"
#include "script_object.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace carvix::com;
using carvix::test::ScriptObject;
using carvix::test::Variant;

constexpr std::size_t kFirstOwnSlot = 7;  // after IUnknown (3) and IDispatch (4)

template <class Model>
void Fill(Model& model) {
    if constexpr (std::is_base_of_v<CardBlock, Model>) {
        carvix::test::FillLargest(model);
    } else {
        model.Code = u"AB";
        model.PolicyCode = u"123";
        model.ValidTo = Orvel::DateTime(2030, 6, 1, Orvel::DateTimeKind::Utc);
    }
}

template <class T>
HRESULT CallSlot(void* object, std::size_t slot, T arg) {
    void** table = *static_cast<void***>(object);
    return reinterpret_cast<HRESULT (*)(void*, T)>(table[slot])(object, arg);
}

std::u16string Text(BSTR b) {
    return b == nullptr ? std::u16string() : std::u16string(b, SysStringLen(b));
}

template <class Iface>
void CheckSlots(REFCLSID clsid, std::size_t extraSlots = 0) {
    using Model = typename Iface::Model;
    SCOPED_TRACE(testing::PrintToString(std::u16string(Iface::kName)));
    ScriptObject object(clsid);
    Model model;
    Fill(model);
    ASSERT_EQ(LoadBlock(object.Dispatch(), model), S_OK);
    Iface* iface = object.As<Iface>();
    ASSERT_NE(iface, nullptr);

    std::size_t slot = kFirstOwnSlot + (Iface::kWritable ? 2 : 1) + extraSlots;
    int edit = 0;
    for (const FieldDesc<Model>& f : FieldsOfOwner<Model>()) {
        if (f.kind == FieldKind::InsuranceList) {
            continue;
        }
        const std::u16string name = f.name;
        SCOPED_TRACE(testing::PrintToString(name));
        Variant viaDispatch;
        ASSERT_EQ(object.Get(f.name, viaDispatch.v), S_OK);
        switch (f.kind) {
            case FieldKind::Text:
            case FieldKind::Photo: {
                BSTR value = nullptr;
                ASSERT_EQ(CallSlot(iface, slot, &value), S_OK);
                EXPECT_EQ(Text(value), Text(viaDispatch.v.bstrVal));
                SysFreeString(value);
                break;
            }
            case FieldKind::Number: {
                std::int32_t value = -1;
                ASSERT_EQ(CallSlot(iface, slot, &value), S_OK);
                EXPECT_EQ(value, viaDispatch.v.lVal);
                break;
            }
            case FieldKind::Date: {
                DATE value = -1;
                ASSERT_EQ(CallSlot(iface, slot, &value), S_OK);
                EXPECT_EQ(value, viaDispatch.v.date);
                break;
            }
            case FieldKind::InsuranceList:
                break;
        }
        ++slot;
        if (Iface::kWritable) {
            ++edit;
            if (f.kind == FieldKind::Number) {
                ASSERT_EQ(CallSlot(iface, slot, std::int32_t{edit}), S_OK);
                EXPECT_EQ(object.Number(f.name), edit);
            } else if (f.kind == FieldKind::Date) {
                ASSERT_EQ(CallSlot(iface, slot, DATE{40000.0 + edit}), S_OK);
                EXPECT_EQ(object.Date(f.name), 40000.0 + edit);
            } else {
                const std::u16string text = u"edit " + name;
                BSTR value = SysAllocString(text.c_str());
                ASSERT_EQ(CallSlot(iface, slot, value), S_OK);
                SysFreeString(value);
                EXPECT_EQ(object.Text(f.name), text);
            }
            ++slot;
        }
        if (f.Optional()) {
            const std::u16string flag = name + u"Specified";
            VARIANT_BOOL value = VARIANT_FALSE;
            ASSERT_EQ(CallSlot(iface, slot, &value), S_OK);
            EXPECT_EQ(value, object.Flag(flag.c_str()));
            ++slot;
            if (Iface::kWritable) {
                ASSERT_EQ(CallSlot(iface, slot, VARIANT_BOOL{VARIANT_FALSE}), S_OK);
                EXPECT_EQ(object.Flag(flag.c_str()), VARIANT_FALSE);
                EXPECT_EQ(object.Try(f.name), E_FAIL);
                ++slot;
            }
        }
    }
    iface->Release();
}

TEST(InterfaceSlots, FollowTheFieldDescriptionOfTheVLBlocks) {
    CheckSlots<IVLDocumentBlock>(kClsidVLDocumentBlock);
    CheckSlots<IVLFixedPersoBlock>(kClsidVLFixedPersoBlock);
    CheckSlots<IVLPhotoBlock>(kClsidVLPhotoBlock);
    CheckSlots<IVLVariablePersoBlock>(kClsidVLVariablePersoBlock);
    CheckSlots<IVLContactlessBlock>(kClsidVLContactlessBlock);
}

TEST(InterfaceSlots, FollowTheFieldDescriptionOfTheZKBlocks) {
    CheckSlots<IZKDocumentBlock>(kClsidZKDocumentBlock);
    CheckSlots<IZKFixedAdminBlock>(kClsidZKFixedAdminBlock);
    CheckSlots<IZKFixedPersoBlock>(kClsidZKFixedPersoBlock);
    CheckSlots<IZKVariableAdminBlock>(kClsidZKVariableAdminBlock, 2);  // the list's get and put
    CheckSlots<IZKVariablePersoBlock>(kClsidZKVariablePersoBlock);
    CheckSlots<IVoluntaryInsurance>(kClsidVoluntaryInsurance);
}

}  // namespace
