#include "write_command.h"

#include "block_filler.h"
#include "certificate_file.h"
#include "reader_choice.h"
#include "responder.h"
#include "terminal_chooser.h"
#include "terminal_pin.h"
#include "trust_command.h"

#include "carvix/support/base64.h"

#include <unistd.h>

#include <fstream>
#include <iostream>

namespace carvix::cli {
namespace {

constexpr WritableBlock kWritable[] = {
    {"vl-variable", u"CARVIX.VLVXPersoBlock", u"WriteVLVariablePersoData"},
    {"zk-variable-admin", u"CARVIX.ZKVXAdminBlock", u"WriteZKVariableAdminData"},
    {"zk-variable", u"CARVIX.ZKVXPersoBlock", u"WriteZKVariablePersoData"},
};

constexpr int kFailed = 1;
constexpr int kBadInput = 2;

int BadInput(const std::string& text) {
    std::cerr << "carvix: " << text << "\n";
    return kBadInput;
}

Json ReadJsonFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw InputError(path + ": cannot be read");
    }
    try {
        return Json::parse(in);
    } catch (const nlohmann::json::exception& e) {
        throw InputError(path + ": not JSON (" + e.what() + ")");
    }
}

// The signer certificate's DER bytes in Base64, or empty text for the component's choice.
std::u16string SignerText(const std::string& file) {
    if (file.empty()) {
        return {};
    }
    const auto certificate = ReadCertificateFile(file);
    const auto der = certificate.RawData();
    return Orvel::ToBase64(der);
}

std::string Text(const ScopedVariant& value) {
    return value->vt == VT_BSTR ? Utf8Of(value->bstrVal) : std::string();
}

}  // namespace

std::span<const WritableBlock> WritableBlocks() {
    return kWritable;
}

int Write(const WriteOptions& o) {
    const WritableBlock* target = nullptr;
    for (const WritableBlock& w : kWritable) {
        target = o.block == w.cliName ? &w : target;
    }
    const BlockInfo* block = FindBlock(o.block);
    if (target == nullptr || block == nullptr) {
        return BadInput("cannot write " + o.block +
                        " (vl-variable, zk-variable-admin or zk-variable)");
    }
    const int app = o.app >= 0 ? o.app : (block->zk ? 5 : 1);
    if (o.role < 0 || o.role > 0xFFFFFFFF) {
        return BadInput("--role needs the role ID that may write the block");
    }

    // Everything the user gave is checked before the card is touched.
    std::u16string signer;
    Json values;
    try {
        signer = SignerText(o.signer);
        WarnIfSignerUntrusted(o.signer);
        values = ReadJsonFile(o.from);
    } catch (const FileError& e) {
        return BadInput(e.what());
    } catch (const InputError& e) {
        return BadInput(e.what());
    }
    const Object object = Object::Create(target->progId);
    try {
        FillBlock(object, *block, values,
                  [] { return Object::Create(u"CARVIX.VoluntaryInsurance"); });
    } catch (const InputError& e) {
        return BadInput(o.from + ": " + e.what());
    }

    TerminalChooser chooser(std::cin, std::cerr, ::isatty(STDIN_FILENO) == 1);
    TerminalPin pin(o.pinFile);  // a signer key on a token asks for its PIN
    if (!pin.CheckFile(std::cerr)) {
        return 2;
    }
    pin.Install();
    chooser.Install();

    const std::string reader = ChooseReader(o.reader, false, chooser);
    const Object auth = Object::Create(u"CARVIX.Auth");
    ScopedVariant ignored;
    auth.Call(u"Init", {TextValue(Utf16(reader)), IntValue(app)}, ignored);
    ScopedVariant challenge;
    auth.Call(u"GetChallenge", {}, challenge);
    std::string response;
    try {
        response = RunResponder(o.respondWith, Text(challenge));
    } catch (const ResponderError& e) {
        std::cerr << "carvix: " << e.what() << "\n";
        return kFailed;
    }
    auth.Call(u"ExternalAuthenticate",
              {IntValue(static_cast<std::int32_t>(static_cast<std::uint32_t>(o.role))),
               TextValue(Utf16(response))},
              ignored);

    const Object docAdmin = Object::Create(u"CARVIX.DocAdmin");
    try {
        docAdmin.Call(target->method,
                      {ObjectValue(auth.Get()), ObjectValue(object.Get()), TextValue(signer)},
                      ignored);
    } catch (const ClientError&) {
        chooser.ExplainUnansweredSigner(std::cerr);
        throw;
    }
    std::cout << "wrote " << o.block << " in '" << reader << "' (application " << app << ")\n";
    pin.ReportUnused(std::cerr);
    return 0;
}

}  // namespace carvix::cli
