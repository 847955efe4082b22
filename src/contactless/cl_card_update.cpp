// The update of the contactless extract from the verified blocks of the contact card.
#include "carvix/blocks/vl_models.h"
#include "carvix/card/card_applet.h"
#include "carvix/contactless/cl_card.h"
#include "carvix/contactless/contactless_extract.h"

namespace carvix::contactless {
namespace {

namespace x509 = Orvel::Security::Cryptography::X509;

/// Reads the three VL blocks, each checked against its SOD, and closes the application on
/// every path before anything goes to the contactless part.
void ReadContactBlocks(const std::u16string& reader, std::uint16_t appId, VLDocumentModel& document,
                       VLFixedPersoModel& fixed, VLVariablePersoModel& variable) {
    std::unique_ptr<CardApplet> applet =
        CardApplet::OpenForRead(reader, appId, CardApplet::Hold::UntilClose);
    x509::X509Certificate signer;
    applet->ReadVerifiedBlock(document, signer);
    applet->ReadVerifiedBlock(fixed, signer);
    applet->ReadVerifiedBlock(variable, signer);
    CardApplet::Close(std::move(applet));
}

}  // namespace

void CLCard::Update(const std::u16string& contactReader, std::uint16_t appId, bool checkSod,
                    std::span<const std::uint8_t> encryptedKey,
                    const x509::X509Certificate& signer) {
    RequireLibrary();
    VLDocumentModel document;
    VLFixedPersoModel fixed;
    VLVariablePersoModel variable;
    ReadContactBlocks(contactReader, appId, document, fixed, variable);

    // Only the serial number of the contactless part itself is taken from what it holds now.
    VLContactlessModel current;
    Read(current, checkSod);

    VLContactlessModel extract;
    FillExtract(extract, document, fixed, variable);
    extract.ContactlessSerialNumber.CopyFrom(current.ContactlessSerialNumber);

    Write(extract, encryptedKey, signer);
}

}  // namespace carvix::contactless
