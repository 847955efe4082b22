// Each model's field description against the model itself: every element is described
// exactly once, with the presence the element was declared with.
#include "carvix/blocks/models.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

template <class Model>
void ExpectDescribesEveryElement() {
    const Model model;
    SCOPED_TRACE(testing::PrintToString(model.Tag()));
    std::set<const TlvElement*> described;
    std::set<std::u16string> names;
    for (const FieldDesc<Model>& field : FieldsOfOwner<Model>()) {
        const TlvElement* element = ElementOf(model, field);
        ASSERT_NE(element, nullptr) << "a block's fields are all elements";
        EXPECT_TRUE(described.insert(element).second) << "described twice";
        EXPECT_TRUE(names.insert(field.name).second) << "a name used twice";
        EXPECT_EQ(field.Optional(), element->State() != Presence::Mandatory)
            << testing::PrintToString(std::u16string(field.name));
    }
    EXPECT_EQ(described.size(), model.Elements().size()) << "an element without a field";
}

TEST(FieldDescriptions, DescribeEveryElementOfTheVLModels) {
    ExpectDescribesEveryElement<VLDocumentModel>();
    ExpectDescribesEveryElement<VLFixedPersoModel>();
    ExpectDescribesEveryElement<VLPhotoModel>();
    ExpectDescribesEveryElement<VLVariablePersoModel>();
    ExpectDescribesEveryElement<VLContactlessModel>();
}

TEST(FieldDescriptions, DescribeEveryElementOfTheZKModels) {
    ExpectDescribesEveryElement<ZKDocumentModel>();
    ExpectDescribesEveryElement<ZKFixedPersoModel>();
    ExpectDescribesEveryElement<ZKFixedAdminModel>();
    ExpectDescribesEveryElement<ZKVariableAdminModel>();
    ExpectDescribesEveryElement<ZKVariablePersoModel>();
}

TEST(FieldDescriptions, KindsFollowTheMembers) {
    const auto& vl = FieldsOf<VLFixedPersoModel>::kAll;
    EXPECT_EQ(vl[0].kind, FieldKind::Text);    // PersonalNumber
    EXPECT_EQ(vl[4].kind, FieldKind::Date);    // DateOfBirth
    EXPECT_EQ(vl[5].kind, FieldKind::Number);  // Status
    EXPECT_EQ(FieldsOf<VLPhotoModel>::kAll[0].kind, FieldKind::Photo);
    EXPECT_EQ(FieldsOf<ZKVariableAdminModel>::kAll[0].kind, FieldKind::InsuranceList);
    // A record's fields are plain members, not elements.
    VoluntaryInsuranceRecord record;
    for (const auto& field : FieldsOfOwner<VoluntaryInsuranceRecord>()) {
        EXPECT_EQ(ElementOf(record, field), nullptr);
    }
}

}  // namespace
