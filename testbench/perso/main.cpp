// carvix-perso: builds an emulator card image from a card description.
//
//   carvix-perso DESCRIPTION.json -o IMAGE.json [--protocol T=0|T=1] [--atr HEX]
//                [--signer-cert PEM --signer-key PEM]
//
// The description names its document signer ("signer": {"certificate", "key"}, paths
// relative to the description); the options override it.
#include "card_builder.h"
#include "contactless_image.h"
#include "document_signer.h"
#include "perso_error.h"

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iostream>

namespace {

using carvix::perso::PersoError;

void WriteAtomically(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::path temporary = path;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            throw PersoError("cannot write " + temporary.string());
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        throw PersoError("cannot write " + path.string());
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Builds a card image for the carvix-qx card emulator from a card description"};
    std::filesystem::path descriptionPath;
    std::filesystem::path outputPath;
    std::string protocol;
    std::string atr;
    std::filesystem::path signerCert;
    std::filesystem::path signerKey;
    app.add_option("description", descriptionPath, "card description (JSON)")->required();
    app.add_option("-o,--output", outputPath, "card image to write (JSON)")->required();
    app.add_option("--protocol", protocol, "T=0 or T=1 (overrides the description)")
        ->check(CLI::IsMember({"T=0", "T=1"}));
    app.add_option("--atr", atr, "ATR in hexadecimal (overrides the description)");
    app.add_option("--signer-cert", signerCert, "document signer certificate (PEM or DER)");
    app.add_option("--signer-key", signerKey, "document signer private key (PEM)");
    bool contactless = false;
    app.add_flag("--contactless", contactless,
                 "build the image of the card's contactless part (the \"contactless\" member)");
    CLI11_PARSE(app, argc, argv);

    try {
        std::ifstream in(descriptionPath);
        if (!in) {
            throw PersoError("cannot read " + descriptionPath.string());
        }
        nlohmann::json description;
        try {
            description = nlohmann::json::parse(in);
        } catch (const nlohmann::json::exception& e) {
            throw PersoError(descriptionPath.string() + ": " + e.what());
        }
        const std::filesystem::path baseDir = descriptionPath.parent_path();
        const nlohmann::json signer = description.value("signer", nlohmann::json::object());
        if (signerCert.empty() && signer.contains("certificate")) {
            signerCert = baseDir / signer.at("certificate").get<std::string>();
        }
        if (signerKey.empty() && signer.contains("key")) {
            signerKey = baseDir / signer.at("key").get<std::string>();
        }
        if (signerCert.empty() || signerKey.empty()) {
            throw PersoError(
                "no document signer: give --signer-cert and --signer-key, or "
                "\"signer\" in the description");
        }
        carvix::perso::DocumentSigner documentSigner(signerCert, signerKey);
        carvix::perso::ImageOptions options;
        if (!protocol.empty()) {
            options.protocol = protocol;
        }
        if (!atr.empty()) {
            options.atr = atr;
        }
        nlohmann::json image =
            contactless ? carvix::perso::BuildContactlessImage(description, baseDir, documentSigner)
                        : carvix::perso::BuildImage(description, baseDir, documentSigner, options);
        WriteAtomically(outputPath, image.dump(2) + "\n");
    } catch (const PersoError& e) {
        std::cerr << "carvix-perso: " << e.what() << "\n";
        return 1;
    } catch (const nlohmann::json::exception& e) {
        std::cerr << "carvix-perso: " << descriptionPath.string() << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
