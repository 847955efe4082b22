// carvix-vcard: the virtual card of the test bench.
//   carvix-vcard run --image card.json --port 35963 [--log apdu.log] [--control ctl.sock]
//                    [--fault FAULT]... [--t1-get-response]
//                    [--timing] [--t0-bit-rate BPS] [--t1-bit-rate BPS] [--command-ms MS]
//   carvix-vcard respond --key HEX [--base64] --challenge HEX|BASE64
//   carvix-vcard check --image card.json
#include <signal.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <iostream>

#include <openssl/evp.h>

#include "auth_rule.h"
#include "emulator.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
    g_stop = true;
}

std::string Base64(const carvix::vcard::Bytes& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

// Standard Base64 with its "=" padding; anything else is refused.
carvix::vcard::Bytes FromBase64(const std::string& text) {
    const bool wellFormed =
        text.size() % 4 == 0 &&
        text.find_first_not_of(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=") ==
            std::string::npos &&
        text.find('=') >= text.size() - std::min<std::size_t>(text.size(), 2) &&
        text.find_first_not_of('=', text.find('=')) == std::string::npos;
    if (!wellFormed) {
        throw std::invalid_argument("not Base64: " + text);
    }
    carvix::vcard::Bytes out(text.size() / 4 * 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (n < 0) {
        throw std::invalid_argument("not Base64: " + text);
    }
    const std::size_t padding = static_cast<std::size_t>(std::count(text.begin(), text.end(), '='));
    out.resize(static_cast<std::size_t>(n) - padding);
    return out;
}

int RunCard(carvix::vcard::EmulatorOptions options, const std::vector<std::string>& faults) {
    for (const auto& fault : faults) {
        options.faults.push_back(carvix::vcard::ParseFault(fault));
    }
    carvix::vcard::Emulator emulator(std::move(options));
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    emulator.Run(g_stop);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"carvix-vcard: a virtual smart card for the vpcd reader driver"};
    app.require_subcommand(1);

    carvix::vcard::EmulatorOptions options;
    std::vector<std::string> faults;
    auto* run = app.add_subcommand("run", "serve a card image to vpcd");
    run->add_option("--image", options.image, "card image (JSON)")->required();
    run->add_option("--host", options.host, "host where vpcd listens")->capture_default_str();
    run->add_option("--port", options.port, "vpcd port of the reader")->capture_default_str();
    run->add_option("--log", options.apduLog, "APDU log: one line per exchange, hex");
    run->add_option("--control", options.control, "control socket path");
    run->add_option("--fault", faults, "sw:XXXX@N, remove@N, short:K@N or long:K@N");
    run->add_flag("--t1-get-response", options.t1GetResponse,
                  "T=1: hand out response data with 61xx and GET RESPONSE");

    // The timing model: on with --timing or any of its values.
    bool timed = false;
    carvix::vcard::TimingModel timing;
    run->add_flag("--timing", timed, "answer at the speed of a common USB reader and card");
    auto* t0Rate = run->add_option("--t0-bit-rate", timing.t0BitRate,
                                   "timing model: bit/s under T=0 (implies --timing)");
    auto* t1Rate = run->add_option("--t1-bit-rate", timing.t1BitRate,
                                   "timing model: bit/s under T=1 (implies --timing)");
    auto* commandMs = run->add_option("--command-ms", timing.commandMs,
                                      "timing model: ms per command (implies --timing)");

    std::string keyHex, challengeText;
    bool base64 = false;
    auto* respond = app.add_subcommand("respond", "compute the response to a challenge");
    respond->add_option("--key", keyHex, "role key, hex")->required();
    respond->add_option("--challenge", challengeText, "challenge, hex (Base64 with --base64)")
        ->required();
    respond->add_flag("--base64", base64, "challenge and response in Base64 instead of hex");

    std::filesystem::path checkImage;
    auto* check = app.add_subcommand("check", "validate a card image");
    check->add_option("--image", checkImage, "card image (JSON)")->required();

    CLI11_PARSE(app, argc, argv);
    try {
        if (*run) {
            if (timed || t0Rate->count() > 0 || t1Rate->count() > 0 || commandMs->count() > 0) {
                carvix::vcard::CheckTiming(timing);
                options.timing = timing;
                std::cerr << "carvix-vcard: timing model " << carvix::vcard::Describe(timing)
                          << "\n";
            }
            return RunCard(std::move(options), faults);
        }
        if (*respond) {
            const auto challenge =
                base64 ? FromBase64(challengeText) : carvix::vcard::FromHex(challengeText);
            const auto r =
                carvix::vcard::ComputeAuthResponse(carvix::vcard::FromHex(keyHex), challenge);
            std::cout << (base64 ? Base64(r) : carvix::vcard::ToHex(r)) << "\n";
            return 0;
        }
        if (*check) {
            carvix::vcard::ImageFile image(checkImage);
            std::cout << checkImage.string() << ": " << image.Image().applications.size()
                      << " application(s), ok\n";
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "carvix-vcard: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
