#include "test_token.h"

#include "carvix/support/pkcs11_token.h"
#include "carvix/support/x509_store.h"

#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <p11-kit/p11-kit.h>

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace carvix::testpki {

TestTokens::TestTokens()
    : pins_(std::make_shared<std::vector<std::string>>(std::vector<std::string>{"1234"})),
      cancel_(std::make_shared<bool>(false)),
      requests_(std::make_shared<int>(0)),
      questions_(std::make_shared<std::vector<Orvel::Pkcs11::PinRequest>>()) {
    std::filesystem::create_directories(folder_.Path() / "tokens");
    std::ofstream(Config()) << "directories.tokendir = " << (folder_.Path() / "tokens").string()
                            << "\nobjectstore.backend = file\nlog.level = ERROR\n";
    if (const char* old = std::getenv("SOFTHSM2_CONF")) {
        saved_ = old;
        hadValue_ = true;
    }
    setenv("SOFTHSM2_CONF", Config().c_str(), 1);
    Orvel::Pkcs11::SetPinStatePrompt(
        [pins = pins_, cancel = cancel_, requests = requests_, questions = questions_](
            const Orvel::Pkcs11::PinRequest& request, Orvel::Pkcs11::SecretText& out) {
            ++*requests;
            questions->push_back(request);
            if (*cancel) {
                return false;
            }
            const std::string pin = pins->front();
            if (pins->size() > 1) {
                pins->erase(pins->begin());
            }
            out.Assign(pin.data(), pin.size());
            return true;
        });
}

TestTokens::~TestTokens() {
    Orvel::Pkcs11::SetPinStatePrompt({});
    if (hadValue_) {
        setenv("SOFTHSM2_CONF", saved_.c_str(), 1);
    } else {
        unsetenv("SOFTHSM2_CONF");
    }
}

void TestTokens::AddToken(const std::string& label, const std::string& pin) {
    const std::string command = "SOFTHSM2_CONF='" + Config() +
                                "' softhsm2-util --init-token --free --label '" + label +
                                "' --pin '" + pin + "' --so-pin 87654321 >/dev/null";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("softhsm2-util failed");
    }
}

void TestTokens::AnswerPin(const std::string& pin, bool cancel) {
    *pins_ = {pin};
    *cancel_ = cancel;
}

void TestTokens::AnswerPins(std::vector<std::string> pins) {
    *pins_ = std::move(pins);
    *cancel_ = false;
}

Bytes IssueForKey(const Bytes& publicKeyInfo, const std::string& commonName, const Identity& issuer,
                  long serial, const char* keyUsage) {
    const unsigned char* cursor = publicKeyInfo.data();
    auto key = Orvel::OpenSsl::Own<EVP_PKEY_free>(
        d2i_PUBKEY(nullptr, &cursor, static_cast<long>(publicKeyInfo.size())));
    auto certificate = Orvel::OpenSsl::Own<X509_free>(X509_new());
    if (key == nullptr || certificate == nullptr) {
        throw std::runtime_error("not a public key");
    }
    X509* x = certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600L * 24 * 365);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(x, X509_get_subject_name(issuer.certificate.get()));
    X509_set_pubkey(x, key.get());
    if (keyUsage != nullptr) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage, keyUsage);
        if (extension == nullptr || X509_add_ext(x, extension, -1) != 1) {
            throw std::runtime_error("key usage extension");
        }
        X509_EXTENSION_free(extension);
    }
    if (X509_sign(x, issuer.key.get(), EVP_sha256()) <= 0) {
        throw std::runtime_error("X509_sign");
    }
    unsigned char* der = nullptr;
    const int length = i2d_X509(x, &der);
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

std::string SoftHsmModule() {
    CK_FUNCTION_LIST** registered = p11_kit_modules_load(nullptr, 0);
    std::string path;
    if (registered != nullptr) {
        if (CK_FUNCTION_LIST* module = p11_kit_module_for_name(registered, "softhsm2")) {
            char* file = p11_kit_module_get_filename(module);
            path = file != nullptr ? file : "";
            free(file);
        }
        p11_kit_modules_release(registered);
    }
    if (path.empty()) {
        throw std::runtime_error("SoftHSM2 is not registered with p11-kit");
    }
    return path;
}

Bytes IssueForRequest(const Bytes& requestDer, const Identity& issuer, long serial) {
    const unsigned char* cursor = requestDer.data();
    auto request = Orvel::OpenSsl::Own<X509_REQ_free>(
        d2i_X509_REQ(nullptr, &cursor, static_cast<long>(requestDer.size())));
    if (request == nullptr) {
        throw std::runtime_error("not a certificate request");
    }
    auto certificate = Orvel::OpenSsl::Own<X509_free>(X509_new());
    X509* x = certificate.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600L * 24 * 365);
    X509_set_subject_name(x, X509_REQ_get_subject_name(request.get()));
    X509_set_issuer_name(x, X509_get_subject_name(issuer.certificate.get()));
    X509_set_pubkey(x, X509_REQ_get0_pubkey(request.get()));
    if (X509_sign(x, issuer.key.get(), EVP_sha256()) <= 0) {
        throw std::runtime_error("X509_sign");
    }
    unsigned char* der = nullptr;
    const int length = i2d_X509(x, &der);
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

}  // namespace carvix::testpki

namespace carvix::testpki {
namespace {

constexpr const char* kSwitches[] = {"TOKEN_FLAGS", "PAD_PIN", "NO_RAW",
                                     "REFUSE_SET",  "REMOVED", "INSERTION"};

template <typename Fn>
Fn WrapFunction(const char* name) {
    void* library = dlopen(WrapModule::Path().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) {
        return nullptr;
    }
    auto fn = reinterpret_cast<Fn>(dlsym(library, name));
    dlclose(library);
    return fn;
}

}  // namespace

WrapModule::WrapModule() {
    for (const char* name : kSwitches) {
        Set(name, "");
    }
    setenv("CARVIX_WRAP_TARGET", SoftHsmModule().c_str(), 1);
}

WrapModule::~WrapModule() {
    for (const char* name : kSwitches) {
        Set(name, "");
    }
}

void WrapModule::Set(const std::string& name, const std::string& value) {
    const std::string variable = "CARVIX_WRAP_" + name;
    if (value.empty()) {
        unsetenv(variable.c_str());
    } else {
        setenv(variable.c_str(), value.c_str(), 1);
    }
}

int WrapModule::Logins() const {
    auto fn = WrapFunction<int (*)()>("carvix_wrap_logins");
    return fn != nullptr ? fn() : 0;
}

std::vector<unsigned long> WrapModule::Mechanisms() const {
    auto fn = WrapFunction<std::size_t (*)(unsigned long*, std::size_t)>("carvix_wrap_mechanisms");
    if (fn == nullptr) {
        return {};
    }
    std::vector<unsigned long> out(fn(nullptr, 0));
    fn(out.data(), out.size());
    return out;
}

std::u16string WrapModule::Reader(const std::string& label) {
    std::string encoded;
    for (char c : label) {
        if (c == ' ') {
            encoded += "%20";
        } else {
            encoded += c;
        }
    }
    const std::string uri = "pkcs11:token=" + encoded + "?module-path=" + Path();
    return u"\\\\.\\" + std::u16string(uri.begin(), uri.end()) + u"\\";
}

Orvel::Security::Cryptography::X509::X509Certificate CertificateInMy(const Bytes& der) {
    auto& my = Orvel::Security::Cryptography::X509::CurrentUserStore(0);
    const auto certificates = my.Certificates();
    my.Close();
    for (const auto& certificate : certificates) {
        if (certificate.RawData() == der) {
            return certificate;
        }
    }
    throw std::runtime_error("the certificate is not in My");
}

}  // namespace carvix::testpki
