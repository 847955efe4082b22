#include "contactless_image.h"

#include "card_builder.h"
#include "hex.h"
#include "perso_error.h"

#include "carvix/blocks/vl_models.h"
#include "carvix/card/hash.h"
#include "carvix/contactless/cl_card.h"
#include "carvix/contactless/contactless_extract.h"
#include "carvix/contactless/contactless_sod_block.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/unicode.h"

namespace carvix::perso {

namespace {

using nlohmann::json;

std::string Narrow(const std::u16string& text) {
    return Orvel::Utf16ToUtf8(text);
}

std::u16string Widen(const std::string& text) {
    return Orvel::Utf8ToUtf16(text);
}

json VLApplication(const json& description) {
    for (const json& app : description.value("applications", json::array())) {
        const int id = app.value("applicationId", 0);
        if (id >= 1 && id <= 4) {
            return app;
        }
    }
    throw PersoError("contactless: the description has no VL application (ID 1 to 4)");
}

template <class Model>
void DecodeBlock(const BuiltApplication& app, Model& model) {
    const auto found = app.blocks.find(Model::kBlockId);
    if (found == app.blocks.end()) {
        throw PersoError("contactless: the VL application lacks block " +
                         std::to_string(Model::kBlockId));
    }
    model.Decode(found->second);
}

std::filesystem::path PathIn(const json& signer, const char* member,
                             const std::filesystem::path& baseDir) {
    if (!signer.contains(member)) {
        throw PersoError(std::string("contactless.signer: missing \"") + member + "\"");
    }
    return baseDir / signer.at(member).get<std::string>();
}

}  // namespace

json BuildContactlessImage(const json& description, const std::filesystem::path& baseDir,
                           const DocumentSigner& documentSigner) {
    if (!description.contains("contactless")) {
        throw PersoError("description: no \"contactless\" member");
    }
    const json& part = description.at("contactless");
    const std::string serial = part.value("serial", "");
    const std::string writeKey = part.value("writeKey", "");
    if (serial.empty() || writeKey.empty()) {
        throw PersoError("contactless: \"serial\" and \"writeKey\" are required");
    }
    const json signerPaths = part.value("signer", json::object());
    const DocumentSigner signer(PathIn(signerPaths, "certificate", baseDir),
                                PathIn(signerPaths, "key", baseDir));

    const BuiltApplication app =
        BuildApplication(VLApplication(description), baseDir, documentSigner, "contactless");
    VLDocumentModel document;
    VLFixedPersoModel fixed;
    VLVariablePersoModel variable;
    VLContactlessModel extract;
    try {
        DecodeBlock(app, document);
        DecodeBlock(app, fixed);
        DecodeBlock(app, variable);
        // The same fields the component's update takes, the serial number the part's own.
        carvix::contactless::FillExtract(extract, document, fixed, variable);
        extract.ContactlessSerialNumber.SetValue(Widen(serial));
        const Orvel::ByteArray data = extract.Encode();
        ContactlessSodBlock sod;
        sod.Sod.SetValue(signer.Sign(ComputeSha256(data), false));
        const Orvel::ByteArray sodBytes = sod.Encode();
        const auto& readKey = carvix::contactless::kContactlessReadKey;
        return json{{"format", "carvix-vcard/1"},
                    {"description", description.value("description", "") + " (contactless)"},
                    {"atr", part.value("atr", std::string(kContactlessAtr))},
                    {"protocol", "T=1"},
                    {"applications", json::array()},
                    {"contactless",
                     {{"serial", serial},
                      {"readKey", ToHex(Orvel::ByteArray(readKey.begin(), readKey.end()))},
                      {"writeKey", writeKey},
                      {"file1", ToHex(data)},
                      {"file2", ToHex(sodBytes)}}}};
    } catch (const Orvel::Exception& e) {
        throw PersoError("contactless: " + Narrow(e.Message()));
    }
}

}  // namespace carvix::perso
