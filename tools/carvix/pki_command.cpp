#include "pki_command.h"

#include "client_names.h"
#include "pki_keygen.h"
#include "terminal_chooser.h"
#include "terminal_pin.h"

#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>

namespace carvix::cli {
namespace {

std::uint32_t KeySpec(const std::string& usage) {
    return usage == "exchange" ? 1u : 2u;  // AT_KEYEXCHANGE, AT_SIGNATURE
}

std::u16string ContainerName(const PkiOptions& o) {
    if (o.reader.empty()) {
        return Utf16(o.container);
    }
    return Utf16("\\\\.\\" + o.reader + "\\" + o.container);
}

int Emit(const std::string& text, const std::string& out) {
    if (out.empty()) {
        std::cout << text << "\n";
        return 0;
    }
    std::ofstream file(out, std::ios::binary);
    file << text << "\n";
    if (!file) {
        std::cerr << "carvix: cannot write " << out << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int Pki(const PkiOptions& o) {
    TerminalPin pin(o.pinFile);
    if (!pin.CheckFile(std::cerr)) {
        return 2;
    }
    pin.Install();
    TerminalChooser chooser(std::cin, std::cerr, ::isatty(STDIN_FILENO) == 1);
    chooser.Install();
    const Object pki = Object::Create(u"CARVIX.PKI");
    const std::uint32_t keySpec = KeySpec(o.usage);
    ScopedVariant result;
    if (o.action == "keygen") {
        int status = 0;
        const auto keyKind = static_cast<std::uint16_t>(keySpec);
        const auto target = CheckKeygen(o, keyKind, ContainerName(o), std::cerr, status);
        if (!target) {
            return status;
        }
        pki.Call(u"GenerateKeyPair",
                 {TextValue(ContainerName(o)), UIntValue(keySpec), UIntValue(o.bits << 16)},
                 result);
        ReportKeygen(keyKind, ContainerName(o), *target, std::cout);
        pin.ReportUnused(std::cerr);
        return 0;
    }
    if (o.action == "request") {
        pki.Call(u"CreateCertificateRequest",
                 {TextValue(ContainerName(o)), UIntValue(keySpec), TextValue(Utf16(o.commonName)),
                  IntValue(o.pem ? 1 : 0)},
                 result);
        std::string text = Utf8Of(result->bstrVal);
        return Emit(text, o.out);
    }
    if (o.action == "import") {
        std::ifstream file(o.cert, std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        if (!file) {
            std::cerr << "carvix: cannot read " << o.cert << "\n";
            return 2;
        }
        pki.Call(u"ImportCertificate",
                 {TextValue(ContainerName(o)), UIntValue(keySpec), TextValue(Utf16(content.str()))},
                 result);
        pin.ReportUnused(std::cerr);
        return 0;
    }
    // select
    pki.Call(keySpec == 1 ? u"SelectEncryptionCertificate" : u"SelectSigningCertificate",
             {TextValue(Utf16(o.reader))}, result);
    return Emit(Utf8Of(result->bstrVal), o.out);
}

}  // namespace carvix::cli
