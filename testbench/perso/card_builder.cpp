#include "card_builder.h"

#include "carvix/blocks/card_document_model.h"
#include "carvix/card/applet_command_set.h"
#include "carvix/card/hash.h"
#include "carvix/card/sod_block.h"
#include "carvix/card/sod_registry.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "field_values.h"
#include "hex.h"
#include "model_fields.h"
#include "perso_error.h"

#include <algorithm>
#include <set>

namespace carvix::perso {
namespace {

using nlohmann::json;

constexpr std::size_t kHashSize = 32;
// ATRs that make pcscd pick the protocol: no interface bytes (T=0), or TD1 announcing T=1.
constexpr const char* kAtrT0 = "3B054356585430";
constexpr const char* kAtrT1 = "3B85014356585431AC";

std::string BlockName(std::uint16_t id) {
    return ToHex(
        Orvel::ByteArray{static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id)});
}

std::string Narrow(const std::u16string& text) {
    return Orvel::Utf16ToUtf8(text);
}

// Encodes a model, turning the codec's failures into messages that name the block.
Orvel::ByteArray Encode(const CardBlock& block, const std::string& where) {
    try {
        return block.Encode();
    } catch (const Orvel::Exception& e) {
        throw PersoError(where + ": " + Narrow(e.Message()));
    }
}

Orvel::ByteArray BuildModel(const ModelKind& kind, const json& fields,
                            const std::filesystem::path& baseDir, const std::string& where) {
    if (!fields.is_object()) {
        throw PersoError(where + ": expected an object of field values");
    }
    std::unique_ptr<CardBlock> block = kind.make();
    std::set<std::string> given;
    for (const auto& [name, value] : fields.items()) {
        auto field = std::find_if(kind.fields.begin(), kind.fields.end(),
                                  [&](const FieldRef& f) { return f.name == name; });
        if (field == kind.fields.end()) {
            std::string known;
            for (const auto& f : kind.fields) {
                known += (known.empty() ? "" : ", ") + f.name;
            }
            throw PersoError(where + ": no field " + name + " (fields: " + known + ")");
        }
        if (value.is_null()) {
            continue;  // an optional field left out
        }
        try {
            SetField(field->element(*block), value, baseDir, where + "." + name);
        } catch (const Orvel::Exception& e) {
            throw PersoError(where + "." + name + ": " + Narrow(e.Message()));
        }
        given.insert(name);
    }
    for (const auto& field : kind.fields) {
        if (field.element(*block).State() == Presence::Mandatory && !given.contains(field.name)) {
            throw PersoError(where + ": the mandatory field " + field.name + " has no value");
        }
    }
    return Encode(*block, where);
}

Orvel::ByteArray RawBlock(const json& extra, const std::string& where, std::uint16_t& id) {
    if (!extra.is_object() || !extra.contains("id") || !extra.at("id").is_string()) {
        throw PersoError(where + ": expected {\"id\": \"0D07\", \"body\": hex}");
    }
    Orvel::ByteArray idBytes = FromHex(extra.at("id").get<std::string>());
    if (idBytes.size() != 2) {
        throw PersoError(where + ".id: a block ID has 4 hexadecimal digits");
    }
    id = static_cast<std::uint16_t>(idBytes[0] << 8 | idBytes[1]);
    Orvel::ByteArray body =
        extra.contains("body") ? FromHex(extra.at("body").get<std::string>()) : Orvel::ByteArray{};
    if (body.size() > 0xFFFF) {
        throw PersoError(where + ": a block body has at most 65535 bytes");
    }
    Orvel::ByteArray block = {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
                              static_cast<std::uint8_t>(body.size()),
                              static_cast<std::uint8_t>(body.size() >> 8)};
    block.insert(block.end(), body.begin(), body.end());
    return block;
}

Orvel::ByteArray CardDocument(std::uint16_t applicationId, const std::set<std::uint16_t>& present,
                              const std::string& where) {
    CardDocumentModel document;
    document.DocumentID.SetValue(applicationId);
    document.FixedCode.SetValue(1);
    document.PresentBlocks.SetValue(std::vector<std::uint16_t>(present.begin(), present.end()));
    return Encode(document, where + ".card document");
}

// The SOD of each registry entry with at least one block on the card. A block that is not on
// the card has 32 zero bytes in its place.
void AddSods(BuiltApplication& app, const DocumentSigner& signer, const std::string& where) {
    const SodRegistry& registry = SodRegistry::ForApplication(app.applicationId);
    for (const auto& entry : registry.Entries()) {
        Orvel::ByteArray content;
        bool any = false;
        for (std::uint16_t covered : entry.blocks) {
            auto found = app.blocks.find(covered);
            if (found == app.blocks.end()) {
                content.insert(content.end(), kHashSize, 0);
                continue;
            }
            Orvel::ByteArray digest = ComputeSha256(found->second);
            content.insert(content.end(), digest.begin(), digest.end());
            any = true;
        }
        if (!any) {
            continue;
        }
        std::unique_ptr<SodBlock> sod = registry.CreateSodBlock(entry.sodId);
        sod->Message().SetValue(signer.Sign(content));
        app.blocks[entry.sodId] = Encode(*sod, where + ".SOD " + BlockName(entry.sodId));
    }
}

}  // namespace

std::uint16_t FileSizeFor(std::uint16_t blockId, std::size_t blockSize) {
    std::size_t room = blockSize;
    switch (blockId) {
        case 0x0D03:  // variable personal data, rewritten in the field
            room = 1024;
            break;
        case 0x0E02:  // variable administrative data
            room = 2200;
            break;
        case 0x0D05:
            room = SodBlock::MaxLengthOf(0x0D05) + 8;
            break;
        case 0x0D06:
        case 0x0D09:
            room = SodBlock::MaxLengthOf(blockId) + 8;
            break;
        default:
            break;
    }
    return static_cast<std::uint16_t>(std::min<std::size_t>(std::max(room, blockSize), 0xFFFF));
}

BuiltApplication BuildApplication(const json& application, const std::filesystem::path& baseDir,
                                  const DocumentSigner& signer, const std::string& where) {
    if (!application.is_object() || !application.contains("applicationId") ||
        !application.at("applicationId").is_number_integer() ||
        application.at("applicationId").get<std::int64_t>() < 0 ||
        application.at("applicationId").get<std::int64_t>() > 0xFFFF) {
        throw PersoError(where + ": expected an object with \"applicationId\" (1 to 5)");
    }
    BuiltApplication app;
    app.applicationId =
        static_cast<std::uint16_t>(application.at("applicationId").get<std::int64_t>());
    const auto& models = ModelsFor(app.applicationId);
    app.aid = AppletCommandSet::For(app.applicationId).Aid();
    app.label = application.value("label", app.applicationId == 5 ? "ZK" : "VL");

    const json blocks = application.value("blocks", json::object());
    for (const auto& [name, fields] : blocks.items()) {
        auto kind = std::find_if(models.begin(), models.end(),
                                 [&](const ModelKind& k) { return k.name == name; });
        if (kind == models.end()) {
            std::string known;
            for (const auto& k : models) {
                known += (known.empty() ? "" : ", ") + k.name;
            }
            throw PersoError(where + ".blocks: no block " + name + " in this application (" +
                             known + ")");
        }
        app.blocks[kind->blockId] = BuildModel(*kind, fields, baseDir, where + "." + name);
    }
    const json extras = application.value("extraBlocks", json::array());
    for (std::size_t i = 0; i < extras.size(); ++i) {
        std::uint16_t id = 0;
        Orvel::ByteArray raw =
            RawBlock(extras[i], where + ".extraBlocks[" + std::to_string(i) + "]", id);
        if (id == 0x0D00 || SodRegistry::ForApplication(app.applicationId).IsSod(id) ||
            app.blocks.contains(id)) {
            throw PersoError(where + ".extraBlocks: block " + BlockName(id) +
                             " is made by the tool");
        }
        app.blocks[id] = std::move(raw);
    }

    std::set<std::uint16_t> present;
    for (const auto& [id, bytes] : app.blocks) {
        present.insert(id);
    }
    for (const auto& entry : SodRegistry::ForApplication(app.applicationId).Entries()) {
        if (std::any_of(entry.blocks.begin(), entry.blocks.end(),
                        [&](std::uint16_t b) { return present.contains(b); })) {
            present.insert(entry.sodId);
        }
    }
    app.blocks[0x0D00] = CardDocument(app.applicationId, present, where);
    AddSods(app, signer, where);
    if (application.contains("roles")) {
        app.roles = application.at("roles");
    }
    return app;
}

json BuildImage(const json& description, const std::filesystem::path& baseDir,
                const DocumentSigner& signer, const ImageOptions& options) {
    if (!description.is_object() || description.value("format", "") != "carvix-perso/1") {
        throw PersoError("description: expected \"format\": \"carvix-perso/1\"");
    }
    std::string protocol = options.protocol.value_or(description.value("protocol", "T=0"));
    if (protocol != "T=0" && protocol != "T=1") {
        throw PersoError("protocol: expected \"T=0\" or \"T=1\"");
    }
    std::string atr = options.atr.value_or(
        description.value("atr", std::string(protocol == "T=0" ? kAtrT0 : kAtrT1)));
    atr.erase(std::remove(atr.begin(), atr.end(), ' '), atr.end());

    json image = {{"format", "carvix-vcard/1"},
                  {"description", description.value("description", "")},
                  {"atr", atr},
                  {"protocol", protocol},
                  {"applications", json::array()}};
    const json applications = description.value("applications", json::array());
    if (applications.empty()) {
        throw PersoError("applications: a card needs at least one application");
    }
    for (std::size_t i = 0; i < applications.size(); ++i) {
        BuiltApplication app = BuildApplication(applications[i], baseDir, signer,
                                                "applications[" + std::to_string(i) + "]");
        for (const auto& other : image["applications"]) {
            if (other.at("aid") == ToHex(app.aid)) {
                throw PersoError("applications[" + std::to_string(i) +
                                 "]: a card holds each applet (AID) once");
            }
        }
        json files = json::array();
        for (const auto& [id, bytes] : app.blocks) {
            files.push_back({{"id", BlockName(id)},
                             {"size", FileSizeFor(id, bytes.size())},
                             {"data", ToHex(bytes)}});
        }
        image["applications"].push_back({{"label", app.label},
                                         {"applicationId", app.applicationId},
                                         {"aid", ToHex(app.aid)},
                                         {"files", files},
                                         {"roles", app.roles}});
    }
    return image;
}

}  // namespace carvix::perso
