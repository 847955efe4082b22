#include "blocks.h"

namespace carvix::cli {
namespace {

constexpr BlockInfo kBlocks[] = {
    {"vl-document", u"ReadVLDocumentData", false},
    {"vl-fixed", u"ReadVLFixedPersoData", false},
    {"vl-photo", u"ReadVLPhotoData", false},
    {"vl-variable", u"ReadVLVariablePersoData", false},
    {"zk-document", u"ReadZKDocumentData", true},
    {"zk-fixed-admin", u"ReadZKFixedAdminData", true},
    {"zk-fixed", u"ReadZKFixedPersoData", true},
    {"zk-variable-admin", u"ReadZKVariableAdminData", true},
    {"zk-variable", u"ReadZKVariablePersoData", true},
};

}  // namespace

std::span<const BlockInfo> Blocks() {
    return kBlocks;
}

const BlockInfo* FindBlock(const std::string& cliName) {
    for (const BlockInfo& block : kBlocks) {
        if (cliName == block.cliName) {
            return &block;
        }
    }
    return nullptr;
}

}  // namespace carvix::cli
