#include "pki_keygen.h"

#include "client_names.h"

#include "carvix/automation/host_hooks.h"
#include "carvix/pki/key_container.h"
#include "carvix/support/openssl_ptr.h"
#include "carvix/support/pkcs11_token.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <iomanip>
#include <ostream>
#include <sstream>
#include <vector>

namespace carvix::cli {
namespace {

// Telling a signing pair from an exchange pair may need a login; the client's own look at
// the token then asks the same prompt the module asks, for as long as the object lives.
class ForwardedPinPrompt {
  public:
    ForwardedPinPrompt() {
        previous_ = Orvel::Pkcs11::SetPinStatePrompt(
            [](const Orvel::Pkcs11::PinRequest& request, Orvel::Pkcs11::SecretText& pin) {
                char buffer[256];
                std::uint32_t length = 0;
                const bool answered =
                    CarvixAskPinWithState(request.tokenLabel.c_str(), request.triesLeft,
                                          request.state, buffer, sizeof buffer, &length) != 0;
                if (answered) {
                    pin.Assign(buffer, length);
                }
                OPENSSL_cleanse(buffer, sizeof buffer);
                return answered;
            });
    }
    ~ForwardedPinPrompt() { Orvel::Pkcs11::SetPinStatePrompt(std::move(previous_)); }
    ForwardedPinPrompt(const ForwardedPinPrompt&) = delete;
    ForwardedPinPrompt& operator=(const ForwardedPinPrompt&) = delete;

  private:
    Orvel::Pkcs11::PinStatePrompt previous_;
};

std::string UsageName(std::uint16_t keySpec) {
    return keySpec == pki::kAtKeyExchange ? "exchange" : "sign";
}

// The pair's length in bits and its ID (the SHA-1 of the modulus, as the module sets it), in
// hex; zero and empty when the public key cannot be read.
std::pair<int, std::string> SizeAndId(const Orvel::ByteArray& publicKeyInfo) {
    const unsigned char* cursor = publicKeyInfo.data();
    auto key = Orvel::OpenSsl::Own<EVP_PKEY_free>(
        d2i_PUBKEY(nullptr, &cursor, static_cast<long>(publicKeyInfo.size())));
    if (key == nullptr) {
        return {0, {}};
    }
    BIGNUM* modulus = nullptr;
    if (EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_RSA_N, &modulus) != 1) {
        return {EVP_PKEY_get_bits(key.get()), {}};
    }
    std::vector<unsigned char> bytes(static_cast<std::size_t>(BN_num_bytes(modulus)));
    BN_bn2bin(modulus, bytes.data());
    BN_free(modulus);
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(bytes.data(), bytes.size(), digest);
    std::ostringstream hex;
    for (unsigned char b : digest) {
        hex << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(b);
    }
    return {EVP_PKEY_get_bits(key.get()), hex.str()};
}

}  // namespace

std::optional<KeygenTarget> CheckKeygen(const PkiOptions& o, std::uint16_t keySpec,
                                        const std::u16string& containerName, std::ostream& err,
                                        int& status) {
    if (o.bits != 0 && o.bits < kMinimumKeyBits) {
        err << "carvix: --bits " << o.bits << " is refused: keys shorter than " << kMinimumKeyBits
            << " bits are not safe\n";
        status = 2;
        return std::nullopt;
    }
    ForwardedPinPrompt prompt;
    try {
        auto container = pki::KeyContainer::Acquire(containerName, 0, true);
        KeygenTarget target{container.TokenLabel(), container.Container()};
        bool exists = true;
        try {
            container.PublicKeyInfo(keySpec);
        } catch (const pki::ProviderError& e) {
            if (e.HResult() != pki::kNoKey) {
                throw;
            }
            exists = false;
        }
        if (exists && !o.replace) {
            err << "carvix: container \"" << target.container << "\" on token \"" << target.token
                << "\" already holds a key pair for "
                << (keySpec == pki::kAtKeyExchange ? "key exchange" : "signing")
                << "; generating a new one destroys its private key. Add --replace to "
                   "do that\n";
            status = 1;
            return std::nullopt;
        }
        return target;
    } catch (...) {
        const std::uint32_t failure = pki::CurrentProviderFailure();
        if (failure != pki::kNoSmartCard) {
            throw ClientError(static_cast<HRESULT>(failure), "looking at the token");
        }
        if (o.reader.empty()) {
            err << "carvix: no token that can hold RSA keys was found; is it inserted?\n";
        } else {
            err << "carvix: no token named " << o.reader
                << "; `p11-kit list-modules` shows the tokens by label\n";
        }
        status = 1;
        return std::nullopt;
    }
}

void ReportKeygen(std::uint16_t keySpec, const std::u16string& containerName,
                  const KeygenTarget& target, std::ostream& out) {
    int bits = 0;
    std::string id;
    ForwardedPinPrompt prompt;
    try {
        auto container = pki::KeyContainer::Acquire(containerName, 0, true);
        std::tie(bits, id) = SizeAndId(container.PublicKeyInfo(keySpec));
    } catch (const std::exception&) {
        // The pair was made; only its description could not be read back.
    }
    out << "Created a key pair\n"
        << "  token:     " << target.token << "\n"
        << "  container: " << target.container << "\n"
        << "  usage:     " << UsageName(keySpec) << "\n"
        << "  size:      " << (bits > 0 ? std::to_string(bits) + " bits" : "unknown") << "\n"
        << "  ID:        " << (id.empty() ? "unknown" : id) << "\n";
}

}  // namespace carvix::cli
