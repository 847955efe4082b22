// carvix: the card from the command line, through the scripting classes as any automation
// client sees them.
//
//   carvix --version
//   carvix readers [--json]   (each reader's card: ATR and applications)
//   carvix select-reader [--contactless]
//   carvix watch [--json]
//   carvix read BLOCK [--reader NAME] [--app ID] [--json] [--out FILE] [--show-signer]
//                [--require-trusted] [--wait [SECONDS]]
//   carvix write BLOCK [--reader NAME] [--app ID] --role ID --from FILE.json [--signer CERT]
//                --respond-with 'COMMAND'
//   carvix contactless read --reader CL [--check-sod] [--json]
//   carvix contactless update --contact-reader R --app N --reader CL --encrypted-key FILE
//                [--signer CERT_FILE] [--check-sod]
//   carvix certs list [--json] | add --cert FILE [--key FILE] | add --token LABEL|URI [--module M]
//                | remove THUMBPRINT
//   carvix trust list | add FILE [--system] | remove THUMBPRINT [--system]   (trust_command.h)
//   carvix support [--out FILE]   (one file for support: doctor checks, the log)
//   carvix pki keygen|request|import ... | select sign|exchange --reader R (pki_command.h)
//   carvix error CODE
//   carvix doctor [--json]   (what is missing for cards, browsers and tokens, with the fix)
//   carvix register [--module PATH] [--system]   (per-user registration by default)
//   carvix unregister [--module PATH] [--system]
//   carvix register|unregister --browser [--system [--root DIR] | --profile DIR]
//                [--extension-id ID] [--addon-id ID] [--host PATH]
//                (the browsers' native-messaging host, browser_host.h)
//
// Without --reader, `read` takes the one reader whose card holds the block's application;
// otherwise (and for `write`) the reader holding a suitable card, the user picking one on the
// terminal when several do. Exit status 0 on success, 1 when a call fails (its HRESULT, message and
// what can be done about it on stderr), 2 for bad usage.
#include "block_reader.h"
#include "browser_host.h"
#include "card_survey.h"
#include "carvix/automation/failures.h"
#include "carvix/automation/host_hooks.h"
#include "carvix/support/card_wait.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/log.h"
#include "carvix/support/unicode.h"

#include "certs_command.h"
#include "contactless_command.h"
#include "doctor_command.h"
#include "failure_text.h"
#include "notices.h"
#include "output.h"
#include "pki_command.h"
#include "reader_choice.h"
#include "registration.h"
#include "support_command.h"
#include "trust_command.h"
#include "watch_command.h"
#include "whole_card_reader.h"
#include "write_command.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>

namespace carvix::cli {
namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

using automation::HexCode;

// The component's message, then the client's own explanation when it has one.
int Report(const ClientError& e, Addressed addressed = Addressed::Unknown,
           const std::string& prefix = {}) {
    FlushNotices(std::cerr, e.message);
    std::cerr << "carvix: " << prefix << e.doing << ": " << HexCode(e.hresult)
              << (e.message.empty() ? "" : " ") << WithHexCodes(e.message) << "\n";
    const std::string hint = ExplainFailure(e.hresult, addressed);
    if (!hint.empty()) {
        std::cerr << "carvix: " << hint;
    }
    return kFailed;
}

Addressed AddressedBy(const BlockInfo& block) {
    return block.zk ? Addressed::Zk : Addressed::Vl;
}

// The failure of one block of `read all`, as JSON under the block's name.
Json FailureJson(const ClientError& e, Addressed addressed) {
    Json error{
        {"hresult", HexCode(e.hresult)}, {"call", e.doing}, {"message", WithHexCodes(e.message)}};
    std::string hint = ExplainFailure(e.hresult, addressed);
    if (!hint.empty()) {
        hint.pop_back();  // the newline
        error["hint"] = hint;
    }
    return Json{{"error", std::move(error)}};
}

int Usage(const std::string& text) {
    std::cerr << "carvix: " << text << "\n";
    return kUsage;
}

int Readers(bool json) {
    // Straight from PC/SC, so that a missing service is an error and not an empty list.
    const std::vector<ReaderSurvey> readers = SurveyReaders({}, ContactlessFolder());
    if (json) {
        Json list = Json::array();
        for (const ReaderSurvey& r : readers) {
            Json entry{{"name", r.name}, {"card", r.cardPresent}};
            if (r.cardPresent) {
                entry["atr"] = r.atr;
                entry["applications"] = CardKinds(r);
                if (!r.error.empty()) {
                    entry["error"] = r.error;
                }
            }
            list.push_back(std::move(entry));
        }
        std::cout << list.dump(2) << "\n";
    }
    if (readers.empty()) {
        std::cerr << "carvix: no smart-card reader is connected; plug one in (carvix doctor "
                     "checks the drivers)\n";
        return kFailed;
    }
    if (!json) {
        for (const ReaderSurvey& r : readers) {
            std::cout << SurveyText(r);
        }
    }
    return 0;
}

struct ReadOptions {
    std::string block;
    std::string reader;
    int app = -1;
    bool json = false;
    std::string out;
    bool showSigner = false;
    bool requireTrusted = false;
    double wait = -1;  // seconds to wait for a suitable card; negative: do not wait
};

// Reads the blocks of one application (or one block) into `all`; the caller prints JSON.
int ReadApplication(const ReadOptions& o, Json& all) {
    std::vector<const BlockInfo*> blocks;
    if (o.block == "all") {
        for (const BlockInfo& b : Blocks()) {
            if (b.zk == (o.app == 5)) {
                blocks.push_back(&b);
            }
        }
    } else if (const BlockInfo* b = FindBlock(o.block); b != nullptr) {
        blocks.push_back(b);
    } else {
        return Usage("unknown block " + o.block + " (try --help)");
    }
    if (!o.out.empty() && std::none_of(blocks.begin(), blocks.end(), [](const BlockInfo* b) {
            return std::string(b->cliName) == "vl-photo";
        })) {
        return Usage("--out writes the photo: it goes with vl-photo");
    }
    const std::string& reader = o.reader;
    const Object docAdmin = Object::Create(u"CARVIX.DocAdmin");
    // The signers are shown when asked for, and whenever trust is configured.
    const bool showSigners = o.showSigner || o.requireTrusted || SignersConfigured();
    int failed = 0;
    // `read all` takes the whole application in one call and one card transaction.
    std::optional<std::vector<WholeCardBlock>> whole;
    if (o.block == "all") {
        whole =
            ReadWholeApplication(Utf16(reader), static_cast<std::uint16_t>(o.app), blocks.size());
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const BlockInfo* b = blocks[i];
        const int app = o.app >= 0 ? o.app : (b->zk ? 5 : 1);
        Json block;
        std::optional<SignerView> signer;
        try {
            Object object;
            if (whole) {
                WholeCardBlock& read = (*whole)[i];
                if (read.error) {
                    throw *read.error;
                }
                block = std::move(read.values);
                object = std::move(read.object);
            } else {
                block = ReadBlock(docAdmin, *b, Utf16(reader), static_cast<std::uint16_t>(app),
                                  &object);
            }
            signer = showSigners ? SignerOfBlock(object) : std::nullopt;
        } catch (const ClientError& e) {
            if (blocks.size() == 1) {
                return Report(e, AddressedBy(*b));
            }
            // A damaged block does not hide the ones that verified: report it and go on.
            ++failed;
            Report(e, AddressedBy(*b), std::string(b->cliName) + ": ");
            all[b->cliName] = FailureJson(e, AddressedBy(*b));
            continue;
        }
        if (o.requireTrusted && (!signer || !signer->trusted)) {
            // The values of a block whose signer is not trusted are not shown.
            ++failed;
            const std::string why = signer ? signer->line : "no signer";
            std::cerr << "carvix: " << b->cliName << ": the signer is not trusted (" << why
                      << ")\n";
            all[b->cliName] = Json{{"error",
                                    {{"message", "the signer is not trusted"},
                                     {"signer", signer ? signer->json : Json()}}}};
            if (blocks.size() == 1) {
                return kFailed;
            }
            continue;
        }
        if (signer) {
            block["$signer"] = signer->json;
        }
        if (!o.out.empty() && block.contains("Photo")) {
            const auto bytes = FromBase64(block["Photo"].get<std::string>());
            std::ofstream file(o.out, std::ios::binary | std::ios::trunc);
            if (!bytes || !file.write(reinterpret_cast<const char*>(bytes->data()),
                                      static_cast<std::streamsize>(bytes->size()))) {
                std::cerr << "carvix: cannot write the photo to " << o.out << "\n";
                return kFailed;
            }
        }
        if (!o.json) {
            Json fields = block;
            fields.erase("$signer");
            std::cout << Listing(b->cliName, fields)
                      << (signer ? "  " + signer->line + "\n" : std::string())
                      << (blocks.size() > 1 ? "\n" : "");
        }
        all[b->cliName] = std::move(block);
    }
    return failed == 0 ? 0 : kFailed;
}

const ReaderSurvey* Surveyed(const std::vector<ReaderSurvey>& readers, const std::string& name) {
    for (const ReaderSurvey& r : readers) {
        if (r.name == name) {
            return &r;
        }
    }
    return nullptr;
}

int Read(ReadOptions o) {
    const BlockInfo* single = o.block == "all" ? nullptr : FindBlock(o.block);
    if (o.block != "all" && single == nullptr) {
        return Usage("unknown block " + o.block + " (try --help)");
    }
    if (o.app >= 0 && (o.app < 1 || o.app > 5)) {
        return Usage("--app " + std::to_string(o.app) +
                     " is no application of the identity card (1 to 4 VL, 5 ZK)");
    }
    if (single != nullptr && o.app >= 0 && (o.app == 5) != single->zk) {
        return Usage(std::string(single->cliName) + " belongs to the " +
                     (single->zk ? "ZK application (--app 5)" : "VL application (--app 1 to 4)"));
    }
    // The readers whose card holds what is asked for: the block's application, or for
    // `read all` without --app any of the identity card's applications; with --reader only
    // that reader.
    const auto holdersOf = [&o, single](const std::vector<ReaderSurvey>& readers) {
        std::vector<std::string> holders;
        if (single != nullptr || o.app >= 0) {
            holders = ReadersHolding(readers, single != nullptr ? single->zk : o.app == 5);
        } else {
            for (const ReaderSurvey& r : readers) {
                if (!ApplicationNames(r).empty()) {
                    holders.push_back(r.name);
                }
            }
        }
        if (!o.reader.empty()) {
            std::erase_if(holders, [&o](const std::string& name) { return name != o.reader; });
        }
        return holders;
    };
    std::vector<ReaderSurvey> readers = SurveyReaders(o.reader);
    if (o.wait >= 0) {
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::milliseconds(static_cast<std::int64_t>(o.wait * 1000));
        while (holdersOf(readers).empty()) {
            if (std::chrono::steady_clock::now() >= until) {
                std::cerr << "carvix: no suitable identity card "
                          << (o.reader.empty() ? "was inserted" : "was inserted into " + o.reader)
                          << " within " << o.wait << " seconds\n";
                return kFailed;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            readers = SurveyReaders(o.reader);
        }
    }
    if (o.reader.empty()) {
        // The one reader whose card holds the application the block needs, even when other
        // readers hold cards of the other kind.
        const std::vector<std::string> holders = holdersOf(readers);
        if (holders.size() == 1) {
            o.reader = holders.front();
        } else {
            TerminalChooser chooser(std::cin, std::cerr, ::isatty(STDIN_FILENO) == 1);
            o.reader = ChooseReader({}, false, chooser);
        }
    }
    const ReaderSurvey* card = Surveyed(readers, o.reader);
    const bool known = card != nullptr && card->vl && card->zk;
    if (known && o.app >= 0 && !(o.app == 5 ? *card->zk : *card->vl)) {
        return Usage("the card in " + o.reader + " has no " + (o.app == 5 ? "ZK" : "VL") +
                     " application (--app " + std::to_string(o.app) + "); it holds " +
                     (ApplicationNames(*card).empty() ? std::string("none")
                                                      : ApplicationNames(*card).front()));
    }
    Json all = Json::object();
    int rc = 0;
    if (o.block == "all" && o.app < 0) {
        // Every application the card holds; without a survey of the card, the VL one.
        std::vector<int> apps;
        if (!known || *card->vl) {
            apps.push_back(1);
        }
        if (known && *card->zk) {
            apps.push_back(5);
        }
        if (apps.empty()) {
            std::cerr << "carvix: the card in " << o.reader
                      << " holds neither the VL nor the ZK application; is it an identity card?\n";
            return kFailed;
        }
        for (const int app : apps) {
            ReadOptions one = o;
            one.app = app;
            if (app == 5) {
                one.out.clear();  // the photo is in the VL application
            }
            rc = std::max(rc, ReadApplication(one, all));
        }
    } else {
        rc = ReadApplication(o, all);
    }
    if (o.json && !all.empty()) {
        std::cout << (o.block == "all" ? all : all.begin().value()).dump(2) << "\n";
    }
    return rc;
}

int SelectReaderCommand(bool contactless) {
    TerminalChooser chooser(std::cin, std::cerr, ::isatty(STDIN_FILENO) == 1);
    std::cout << ChooseReader({}, contactless, chooser) << "\n";
    return 0;
}

int ErrorText(const std::string& text) {
    // 0x... is hexadecimal; anything else decimal (negative values as HRESULTs are printed).
    std::int64_t value = 0;
    try {
        std::size_t used = 0;
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        value = hex ? static_cast<std::int64_t>(std::stoull(text.substr(2), &used, 16))
                    : std::stoll(text, &used, 10);
        if (used != (hex ? text.size() - 2 : text.size())) {
            throw std::invalid_argument(text);
        }
    } catch (const std::exception&) {
        return Usage("not an error code: " + text + " (decimal, or hexadecimal with 0x)");
    }
    if (value < INT32_MIN || value > static_cast<std::int64_t>(UINT32_MAX)) {
        return Usage("not a 32-bit error code: " + text);
    }
    const Object utilities = Object::Create(u"CARVIX.Utilities");
    ScopedVariant message;
    utilities.Call(u"GetErrorMessage",
                   {IntValue(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)))},
                   message);
    std::cout << Utf8Of(message->bstrVal) << "\n";
    // What the failure table adds: the failure's name, its meaning and what to do next.
    const carvix::automation::FailureExplanation known =
        carvix::automation::ExplainFailure(static_cast<HRESULT>(static_cast<std::uint32_t>(value)));
    if (!known.name.empty()) {
        std::cout << known.name << ": " << known.meaning << (known.nextStep.empty() ? "" : "; ")
                  << known.nextStep << "\n";
    }
    return 0;
}

// The first word of the command line that is neither a global option nor its value: the
// command asked for, or empty.
std::string CommandWord(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--log" || word == "--card-wait") {
            ++i;
        } else if (!word.empty() && word[0] != '-') {
            return word;
        }
    }
    return {};
}

}  // namespace
}  // namespace carvix::cli

int main(int argc, char** argv) {
    using namespace carvix::cli;
    // A command-line client asks on the terminal and reports on standard error, never in
    // desktop dialogs.
    CarvixSetDesktopDialogs(0);
    CollectNotices();
    CLI::App app{"carvix: read the identity card through the carvix-qx scripting classes"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("carvix ") + CARVIX_VERSION);
    int verbose = 0;
    app.add_flag("-v,--verbose", verbose,
                 "Log calls (twice: card commands too) to standard error or --log FILE");
    std::string logFile;
    app.add_option("--log", logFile, "Append the log to FILE (level calls unless -vv)");
    double cardWait = -1;
    app.add_option("--card-wait", cardWait,
                   "Seconds to wait for a card another program holds (default 5)")
        ->check(CLI::Range(0.0, 3600.0));

    bool readersJson = false;
    CLI::App* readers = app.add_subcommand("readers", "List the smart-card readers");
    readers->add_flag("--json", readersJson, "Print a JSON array");

    bool contactless = false;
    CLI::App* selectReader = app.add_subcommand(
        "select-reader", "Print the name of the reader holding the card (asks when several do)");
    selectReader->add_flag("--contactless", contactless, "Look for a contactless card");

    bool watchJson = false;
    CLI::App* watch = app.add_subcommand(
        "watch", "Print reader and card events as they happen, until interrupted");
    watch->add_flag("--json", watchJson, "One JSON object per line");

    ReadOptions read;
    CLI::App* readCmd =
        app.add_subcommand("read", "Read a block of the card, verified against its SOD");
    readCmd
        ->add_option("BLOCK", read.block,
                     "vl-document, vl-fixed, vl-photo, vl-variable, zk-document, "
                     "zk-fixed-admin, zk-fixed, zk-variable-admin, zk-variable, or all")
        ->required();
    readCmd->add_option("--reader", read.reader,
                        "Reader name (default: the reader holding the card; asks when several)");
    readCmd->add_option("--app", read.app, "Application ID: 1 to 4 VL, 5 ZK (default by block)")
        ->check(CLI::Range(0, 65535));
    readCmd->add_flag("--json", read.json, "Print JSON keyed by property names");
    readCmd->add_option("--out", read.out, "Write the photo bytes to this file (vl-photo)");
    readCmd->add_flag(
        "--show-signer", read.showSigner,
        "Show each block's signer and trust (shown anyway when anchors are installed)");
    readCmd->add_flag("--require-trusted", read.requireTrusted,
                      "Fail for a block whose signer is not trusted");
    readCmd
        ->add_option("--wait", read.wait,
                     "Wait up to SECONDS (default 60) for a card holding the application")
        ->expected(0, 1)
        ->default_str("60")
        ->check(CLI::Range(0.0, 86400.0));

    WriteOptions write;
    CLI::App* writeCmd = app.add_subcommand(
        "write", "Write a variable block from JSON after authenticating to the card");
    writeCmd->add_option("BLOCK", write.block, "vl-variable, zk-variable-admin or zk-variable")
        ->required();
    writeCmd->add_option("--reader", write.reader,
                         "Reader name (default: the reader holding the card; asks when several)");
    writeCmd->add_option("--app", write.app, "Application ID: 1 to 4 VL, 5 ZK (default by block)")
        ->check(CLI::Range(0, 65535));
    writeCmd->add_option("--role", write.role, "Role ID to authenticate as")
        ->required()
        ->check(CLI::Range(std::int64_t{0}, std::int64_t{0xFFFFFFFF}));
    writeCmd->add_option("--from", write.from, "JSON with the keys `carvix read --json` prints")
        ->required();
    writeCmd->add_option("--signer", write.signer,
                         "Certificate file (PEM or DER) of the signer in the store \"My\"");
    writeCmd
        ->add_option("--respond-with", write.respondWith,
                     "Command run through /bin/sh with the Base64 challenge as its last "
                     "argument; prints the Base64 response")
        ->required();
    writeCmd->add_option("--pin-file", write.pinFile,
                         "File whose first line is the PIN of a signer key on a token");

    ContactlessOptions cl;
    CLI::App* clCmd =
        app.add_subcommand("contactless", "The extract on the card's contactless part");
    clCmd->require_subcommand(1);
    CLI::App* clRead = clCmd->add_subcommand("read", "Read the extract");
    CLI::App* clUpdate = clCmd->add_subcommand(
        "update", "Build the extract again from the contact card and write it");
    for (CLI::App* sub : {clRead, clUpdate}) {
        sub->add_option("--reader", cl.reader, "The contactless reader")->required();
        sub->add_flag("--check-sod", cl.checkSod, "Check the extract against its SOD");
    }
    clRead->add_flag("--json", cl.json, "Print JSON keyed by property names");
    clUpdate->add_option("--contact-reader", cl.contactReader, "Reader of the contact card")
        ->required();
    clUpdate->add_option("--app", cl.app, "VL application ID (1 to 4)")
        ->required()
        ->check(CLI::Range(0, 65535));
    clUpdate
        ->add_option("--encrypted-key", cl.encryptedKey,
                     "The write key as PKCS#7 EnvelopedData to one of your certificates "
                     "(DER, PEM or Base64)")
        ->required();
    clUpdate->add_option("--signer", cl.signer,
                         "Certificate file (PEM or DER) of the SOD signer in the store \"My\"");

    CLI::App* certs = app.add_subcommand("certs", "Manage the user's certificate store \"My\"");
    certs->require_subcommand(1);
    CLI::App* certsList = certs->add_subcommand("list", "List the certificates");
    bool certsJson = false;
    certsList->add_flag("--json", certsJson, "As JSON");
    std::string certFile;
    std::string keyFile;
    std::string tokenName;
    std::string moduleName;
    CLI::App* certsAdd = certs->add_subcommand("add", "Add a certificate, with its key");
    CLI::Option* certOption =
        certsAdd->add_option("--cert", certFile, "Certificate file, PEM or DER");
    certsAdd->add_option("--key", keyFile, "Its private key, a PEM file without passphrase")
        ->needs(certOption);
    CLI::Option* tokenOption = certsAdd->add_option(
        "--token", tokenName,
        "Add the certificates of this token (label or pkcs11: URI) with links to their keys");
    certsAdd
        ->add_option("--module", moduleName,
                     "With --token: the PKCS#11 module (file or p11-kit name) to load")
        ->needs(tokenOption);
    certOption->excludes(tokenOption);
    certsAdd->require_option(1, 3);
    certsAdd->callback([&] {
        if (certOption->count() == 0 && tokenOption->count() == 0) {
            throw CLI::RequiredError("--cert or --token");
        }
    });
    std::string thumbprint;
    CLI::App* certsRemove = certs->add_subcommand("remove", "Remove a certificate");
    certsRemove->add_option("THUMBPRINT", thumbprint, "SHA-1 thumbprint as `certs list` prints")
        ->required();

    std::string supportOut;
    CLI::App* supportCmd = app.add_subcommand(
        "support", "Write a file for support: readers, modules, the end of the log (no secrets)");
    supportCmd->add_option("--out", supportOut, "The file to write (default: one named by time)");
    CLI::App* trustCmd =
        app.add_subcommand("trust", "Manage the document-signing authorities that are trusted");
    trustCmd->require_subcommand(1);
    CLI::App* trustList = trustCmd->add_subcommand("list", "List the installed anchors and lists");
    std::string trustFile;
    bool trustSystem = false;
    CLI::App* trustAdd =
        trustCmd->add_subcommand("add", "Install CA certificates or revocation lists of a file");
    trustAdd->add_option("FILE", trustFile, "PEM (any number) or DER file")->required();
    std::string trustName;
    CLI::App* trustRemove = trustCmd->add_subcommand("remove", "Remove an installed file");
    trustRemove->add_option("THUMBPRINT", trustName, "As `trust list` prints it")->required();
    for (CLI::App* sub : {trustAdd, trustRemove}) {
        sub->add_flag("--system", trustSystem, "The administrator's folder (as root)");
    }

    PkiOptions pkiOptions;
    CLI::App* pkiCmd = app.add_subcommand("pki", "Enrol on a token through CARVIX.PKI");
    pkiCmd->require_subcommand(1);
    for (const char* action : {"keygen", "request", "import", "select"}) {
        CLI::App* sub = pkiCmd->add_subcommand(action, std::string("pki ") + action);
        sub->parse_complete_callback([&pkiOptions, action] { pkiOptions.action = action; });
        sub->add_option("--reader", pkiOptions.reader, "Reader (or token label)")
            ->required(std::string(action) == "select");
        sub->add_option("--pin-file", pkiOptions.pinFile, "File whose first line is the PIN");
        if (std::string(action) == "select") {
            sub->add_option("USAGE", pkiOptions.usage, "sign or exchange")
                ->required()
                ->check(CLI::IsMember({"sign", "exchange"}));
            sub->add_option("--out", pkiOptions.out, "Write the Base64 certificate here");
            continue;
        }
        sub->add_option("--container", pkiOptions.container, "Key container name")
            ->required(std::string(action) == "keygen");
        sub->add_option("--usage", pkiOptions.usage, "The pair's use: sign or exchange")
            ->check(CLI::IsMember({"sign", "exchange"}));
        if (std::string(action) == "keygen") {
            sub->add_option("--bits", pkiOptions.bits, "Key length, at least 2048 (default 2048)")
                ->check(CLI::Range(0, 65535));
            sub->add_flag("--replace", pkiOptions.replace,
                          "Replace the container's pair of this usage (its private key is lost)");
        } else if (std::string(action) == "request") {
            sub->add_option("--cn", pkiOptions.commonName, "Common name")->required();
            sub->add_flag("--pem", pkiOptions.pem, "With header and footer");
            sub->add_option("--out", pkiOptions.out, "Write the request here");
        } else {
            sub->add_option("--cert", pkiOptions.cert, "Certificate, PEM or Base64")->required();
        }
    }

    DoctorOptions doctorOptions;
    CLI::App* doctor =
        app.add_subcommand("doctor", "Check every piece carvix-qx needs and say how to mend it");
    doctor->add_flag("--json", doctorOptions.json, "As JSON");
    doctor->add_option("--root", doctorOptions.root, "The machine's browser folders below DIR");

    std::string code;
    CLI::App* error = app.add_subcommand("error", "Print the message text of an error code");
    error->add_option("CODE", code, "The code, decimal or 0x hexadecimal")->required();

    RegisterOptions reg;
    CLI::App* regCmd = app.add_subcommand("register", "Register the module (per user by default)");
    CLI::App* unregCmd = app.add_subcommand("unregister", "Remove the module's registration");
    for (CLI::App* sub : {regCmd, unregCmd}) {
        sub->add_option("--module", reg.module, "Path of carvix-qx.so")->default_val(reg.module);
        sub->add_flag("--system", reg.system, "The machine's class store instead of the user's");
    }
    // The browser's native-messaging host instead of the module.
    bool browser = false;
    BrowserHostOptions browserHost;
    for (CLI::App* sub : {regCmd, unregCmd}) {
        sub->add_flag("--browser", browser, "The browser bridge's host manifest");
        sub->add_option("--profile", browserHost.profile,
                        "With --browser: a browser profile folder");
        sub->add_option("--extension-id", browserHost.extensionId,
                        "With --browser: the extension allowed to start the host");
        sub->add_option("--host", browserHost.host, "With --browser: the carvix-bridge program");
        sub->add_option("--addon-id", browserHost.addonId,
                        "With --browser: the Firefox add-on allowed to start the host");
        sub->add_option("--root", browserHost.root,
                        "With --browser --system: the folders below DIR (packaging, tests)");
    }

    if (const std::string word = CommandWord(argc, argv); !word.empty()) {
        const auto known =
            app.get_subcommands([&word](const CLI::App* sub) { return sub->check_name(word); });
        if (known.empty()) {
            return Usage("unknown command \"" + word + "\" (carvix --help lists the commands)");
        }
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }

    CoInitialize(nullptr);
    if (verbose > 0 || !logFile.empty()) {
        // Set before the module is loaded, which reads the same setting as every other host.
        ::setenv("CARVIX_LOG", verbose >= 2 ? "commands" : "calls", 1);
        ::setenv("CARVIX_LOG_FILE", logFile.empty() ? "/dev/stderr" : logFile.c_str(), 1);
    }
    Orvel::InstallLog(Orvel::ReadLogSettings(), "carvix");
    // The client's own look at the cards (readers, the choice of reader, watch) only peeks:
    // a card another program holds is reported as in use after a moment instead of being
    // waited for, and the read that follows waits the full limit once.
    Orvel::PCSC::SetCardWaitLimitSource([]() -> std::uint32_t { return 250; });
    if (cardWait >= 0) {
        CarvixSetCardWaitLimit(static_cast<std::uint32_t>(cardWait * 1000 + 0.5));
    }
    int rc = 0;
    try {
        if (readers->parsed()) {
            rc = Readers(readersJson);
        } else if (selectReader->parsed()) {
            rc = SelectReaderCommand(contactless);
        } else if (watch->parsed()) {
            rc = Watch(watchJson, ContactlessFolder());
        } else if (readCmd->parsed()) {
            rc = Read(read);
        } else if (writeCmd->parsed()) {
            rc = Write(write);
        } else if (clRead->parsed()) {
            rc = ContactlessRead(cl);
        } else if (clUpdate->parsed()) {
            rc = ContactlessUpdate(cl);
        } else if (certsList->parsed()) {
            rc = ListCertificates(certsJson);
        } else if (certsAdd->parsed()) {
            rc = tokenName.empty() ? AddCertificate(certFile, keyFile)
                                   : AddTokenCertificates(tokenName, moduleName);
        } else if (certsRemove->parsed()) {
            rc = RemoveCertificate(thumbprint);
        } else if (supportCmd->parsed()) {
            rc = SupportBundle(supportOut);
        } else if (trustList->parsed()) {
            rc = TrustList();
        } else if (trustAdd->parsed()) {
            rc = TrustAdd(trustFile, trustSystem);
        } else if (trustRemove->parsed()) {
            rc = TrustRemove(trustName, trustSystem);
        } else if (pkiCmd->parsed()) {
            rc = Pki(pkiOptions);
        } else if (doctor->parsed()) {
            rc = Doctor(doctorOptions);
        } else if (error->parsed()) {
            rc = ErrorText(code);
        } else if ((regCmd->parsed() || unregCmd->parsed()) && browser) {
            browserHost.install = regCmd->parsed();
            browserHost.system = reg.system;
            rc = RegisterBrowserHost(browserHost);
            if (rc == 0 && browserHost.install) {
                // The bridge answers only pages of allowed origins: without any, the host is
                // there but no page can use it.
                const DoctorCheck allow = AllowListCheck();
                if (allow.status != DoctorCheck::Status::Ok) {
                    std::cerr << "carvix: warning: " << allow.detail
                              << (allow.fix.empty() ? "" : "; " + allow.fix) << "\n";
                }
            }
        } else if (regCmd->parsed() || unregCmd->parsed()) {
            reg.install = regCmd->parsed();
            rc = Register(reg);
        }
    } catch (const ClientError& e) {
        rc = Report(e);
    } catch (const ClientFailure& e) {
        std::cerr << "carvix: " << e.text << "\n";
        rc = e.status;
    } catch (const Orvel::PCSC::PCSCWin32Exception& e) {
        // Asked of PC/SC directly (the readers and their cards): the message names the cause.
        std::cerr << PcscFailureText(e.OperationName(), e.Code(), Orvel::Utf16ToUtf8(e.Message()));
        rc = kFailed;
    }
    FlushNotices(std::cerr);
    CoUninitialize();
    return rc;
}
