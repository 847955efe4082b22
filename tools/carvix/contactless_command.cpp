#include "contactless_command.h"

#include "block_reader.h"
#include "certificate_file.h"
#include "doctor_command.h"
#include "output.h"
#include "terminal_chooser.h"

#include "carvix/contactless/contactless_library.h"
#include "carvix/support/base64.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>

namespace carvix::cli {
namespace {

constexpr int kFailed = 1;
constexpr int kBadInput = 2;

int BadInput(const std::string& text) {
    std::cerr << "carvix: " << text << "\n";
    return kBadInput;
}

/// The encrypted key as Base64 text: a DER file is encoded, a PEM file ("-----BEGIN ...")
/// or Base64 text is passed on without its armour and line breaks.
std::u16string EncryptedKeyText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw FileError(path + ": cannot be read");
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    if (bytes.empty()) {
        throw FileError(path + ": empty");
    }
    if (static_cast<unsigned char>(bytes[0]) == 0x30) {
        return Orvel::ToBase64(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    }
    std::string text;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        end = end == std::string::npos ? bytes.size() : end;
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("-----", 0) != 0) {
            text += line;
        }
        start = end + 1;
    }
    if (!FromBase64(text)) {
        throw FileError(path + ": neither DER nor Base64 (PEM)");
    }
    return Utf16(text);
}

std::u16string SignerText(const std::string& file) {
    if (file.empty()) {
        return {};
    }
    return Orvel::ToBase64(ReadCertificateFile(file).RawData());
}

// The component's text for a contactless library it could not use names neither the file nor
// the folder: the client looks for itself, where the module does, and says what it found.
void ExplainLibraryFailure(const ClientError& e) {
    if (e.message.find("Failed to load library for working with a contactless card") ==
        std::string::npos) {
        return;
    }
    const std::optional<std::string> folder = ContactlessFolder();
    if (!folder) {
        return;
    }
    const std::filesystem::path library =
        std::filesystem::path(*folder) / contactless::kLibraryFileName;
    std::string why = "it was loaded but lacks one of its functions";
    if (void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL); handle != nullptr) {
        ::dlclose(handle);
    } else {
        const char* error = ::dlerror();
        why = error != nullptr ? error : "it cannot be loaded";
    }
    std::cerr << "carvix: the contactless library " << library.filename().string()
              << " is looked for beside the module, in " << library.parent_path().string() << ": "
              << why << "\n";
}

}  // namespace

std::optional<std::string> ContactlessFolder() {
    const std::optional<std::string> module = RegisteredModulePath();
    if (!module) {
        return std::nullopt;
    }
    return std::filesystem::path(*module).parent_path().string();
}

int ContactlessRead(const ContactlessOptions& o) {
    static constexpr BlockInfo kExtract{"vl-contactless", u"ReadVLContactlessData", false};
    const Object docAdmin = Object::Create(u"CARVIX.DocAdmin");
    // The method's second argument is the SOD check (a BOOL), where the other reads take the
    // application ID.
    Json block;
    try {
        block = ReadBlock(docAdmin, kExtract, Utf16(o.reader), o.checkSod ? 1 : 0);
    } catch (const ClientError& e) {
        ExplainLibraryFailure(e);
        throw;
    }
    if (o.json) {
        std::cout << block.dump(2) << "\n";
    } else {
        std::cout << Listing(kExtract.cliName, block);
    }
    return 0;
}

int ContactlessUpdate(const ContactlessOptions& o) {
    std::u16string key;
    std::u16string signer;
    try {
        key = EncryptedKeyText(o.encryptedKey);
        signer = SignerText(o.signer);
    } catch (const FileError& e) {
        return BadInput(e.what());
    }
    TerminalChooser chooser(std::cin, std::cerr, ::isatty(STDIN_FILENO) == 1);
    chooser.Install();
    const Object docAdmin = Object::Create(u"CARVIX.DocAdmin");
    ScopedVariant ignored;
    try {
        docAdmin.Call(
            u"UpdateVLContactlessData",
            {TextValue(Utf16(o.contactReader)), IntValue(o.app), TextValue(Utf16(o.reader)),
             IntValue(o.checkSod ? 1 : 0), TextValue(key), TextValue(signer)},
            ignored);
    } catch (const ClientError& e) {
        ExplainLibraryFailure(e);
        chooser.ExplainUnansweredSigner(std::cerr);
        throw;
    }
    std::cout << "updated the contactless extract in '" << o.reader << "' from '" << o.contactReader
              << "' (application " << o.app << ")\n";
    return 0;
}

}  // namespace carvix::cli
