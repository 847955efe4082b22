// The type information of the block classes, each derived from its model's description.
#include "block_classes.h"

#include "block_members.h"

namespace carvix::com {
namespace {

constexpr auto kVLDocumentMembers = BlockMembers<IVLDocumentBlock>(kVLLoadHelp);
constexpr auto kVLFixedPersoMembers = BlockMembers<IVLFixedPersoBlock>(kVLLoadHelp);
constexpr auto kVLPhotoMembers = BlockMembers<IVLPhotoBlock>(kVLLoadHelp);
constexpr auto kVLVariablePersoMembers =
    BlockMembers<IVLVariablePersoBlock>(kVLLoadHelp, kVLStoreHelp);
constexpr auto kVLContactlessMembers = BlockMembers<IVLContactlessBlock>(kLoadHelp);
constexpr auto kZKDocumentMembers = BlockMembers<IZKDocumentBlock>(kLoadHelp);
constexpr auto kZKFixedAdminMembers = BlockMembers<IZKFixedAdminBlock>(kLoadHelp);
constexpr auto kZKFixedPersoMembers = BlockMembers<IZKFixedPersoBlock>(kLoadHelp);
constexpr auto kZKVariablePersoMembers = BlockMembers<IZKVariablePersoBlock>(kLoadHelp);
constexpr auto kVoluntaryInsuranceMembers = BlockMembers<IVoluntaryInsurance>(kLoadHelp);

}  // namespace

const automation::InterfaceDesc kVLDocumentBlockDesc =
    BlockInterfaceDesc<IVLDocumentBlock>(kVLDocumentMembers);
const automation::InterfaceDesc kVLFixedPersoBlockDesc =
    BlockInterfaceDesc<IVLFixedPersoBlock>(kVLFixedPersoMembers);
const automation::InterfaceDesc kVLPhotoBlockDesc =
    BlockInterfaceDesc<IVLPhotoBlock>(kVLPhotoMembers);
const automation::InterfaceDesc kVLVariablePersoBlockDesc =
    BlockInterfaceDesc<IVLVariablePersoBlock>(kVLVariablePersoMembers);
const automation::InterfaceDesc kVLContactlessBlockDesc =
    BlockInterfaceDesc<IVLContactlessBlock>(kVLContactlessMembers);
const automation::InterfaceDesc kZKDocumentBlockDesc =
    BlockInterfaceDesc<IZKDocumentBlock>(kZKDocumentMembers);
const automation::InterfaceDesc kZKFixedAdminBlockDesc =
    BlockInterfaceDesc<IZKFixedAdminBlock>(kZKFixedAdminMembers);
const automation::InterfaceDesc kZKFixedPersoBlockDesc =
    BlockInterfaceDesc<IZKFixedPersoBlock>(kZKFixedPersoMembers);
const automation::InterfaceDesc kZKVariablePersoBlockDesc =
    BlockInterfaceDesc<IZKVariablePersoBlock>(kZKVariablePersoMembers);
const automation::InterfaceDesc kVoluntaryInsuranceDesc =
    BlockInterfaceDesc<IVoluntaryInsurance>(kVoluntaryInsuranceMembers);

}  // namespace carvix::com
