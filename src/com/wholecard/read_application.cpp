#include "wholecard/read_application.h"

#include "carvix/blocks/card_block.h"
#include "carvix/card/card_applet.h"
#include "carvix/card/signer_trust.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/com/failure_boundary.h"
#include "carvix/com/signer_trust_service.h"

namespace carvix::com {
namespace {

const ReadMethod kVlBlocks[] = {kReadOf<IVLDocumentBlock>, kReadOf<IVLFixedPersoBlock>,
                                kReadOf<IVLPhotoBlock>, kReadOf<IVLVariablePersoBlock>};
const ReadMethod kZkBlocks[] = {kReadOf<IZKDocumentBlock>, kReadOf<IZKFixedAdminBlock>,
                                kReadOf<IZKFixedPersoBlock>, kReadOf<IZKVariableAdminBlock>,
                                kReadOf<IZKVariablePersoBlock>};

constexpr std::uint16_t kLastVlApplication = 4;
constexpr std::uint16_t kZkApplication = 5;

}  // namespace

std::span<const ReadMethod> BlocksOfApplication(std::uint16_t appId) {
    if (appId >= 1 && appId <= kLastVlApplication) {
        return kVlBlocks;
    }
    if (appId == kZkApplication) {
        return kZkBlocks;
    }
    return {};
}

std::vector<ApplicationBlock> ReadApplicationBlocks(CardApplet& applet,
                                                    std::span<const ReadMethod> methods) {
    std::vector<ApplicationBlock> blocks;
    blocks.reserve(methods.size());
    for (const ReadMethod& method : methods) {
        ApplicationBlock& block = blocks.emplace_back();
        block.model = method.makeModel();
        CardBlock& model = *block.model;
        block.result = Guarded(FailurePolicy::Document, [&]() -> HRESULT {
            Orvel::Security::Cryptography::X509::X509Certificate signer;
            applet.ReadVerifiedBlock(model, signer);
            const std::optional<card::SignerTrust> trust =
                card::BlockSignerTrust(applet, model.Tag());
            if (!trust) {
                return S_OK;
            }
            block.signer = MakeBlockSigner(signer.IsEmpty() ? nullptr : signer.Handle(), *trust);
            card::EnforceTrustPolicy(*trust, model.Tag(), block.signer->subject);
            return S_OK;
        });
        if (FAILED(block.result)) {
            block.signer = nullptr;
        }
    }
    return blocks;
}

}  // namespace carvix::com
