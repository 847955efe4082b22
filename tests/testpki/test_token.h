// A private SoftHSM2 token folder for one test. SoftHSM2 is registered with p11-kit by its
// Debian package; the test only points SOFTHSM2_CONF at a configuration of its own whose
// token folder is temporary, so nothing is registered or written globally. The tokens are
// made with softhsm2-util; the PIN prompt answers with the token's PIN unless told otherwise.
#pragma once

#include "test_pki.h"

#include "carvix/support/pkcs11_token.h"
#include "carvix/support/x509_certificate.h"

#include <string>
#include <vector>

namespace carvix::testpki {

class TestTokens {
  public:
    TestTokens();
    ~TestTokens();
    TestTokens(const TestTokens&) = delete;
    TestTokens& operator=(const TestTokens&) = delete;

    /// Initialises a new token with the label and user PIN (SO PIN "87654321").
    void AddToken(const std::string& label, const std::string& pin = "1234");
    /// The PIN the prompt gives from now on; `cancel` makes the prompt cancel instead.
    void AnswerPin(const std::string& pin, bool cancel = false);
    /// The PINs the prompt gives, one per question, the last one from then on.
    void AnswerPins(std::vector<std::string> pins);
    /// How often the prompt was asked, and what it was told each time.
    int PinRequests() const noexcept { return *requests_; }
    const std::vector<Orvel::Pkcs11::PinRequest>& PinQuestions() const noexcept {
        return *questions_;
    }
    const std::filesystem::path& Folder() const noexcept { return folder_.Path(); }
    std::string Config() const { return (folder_.Path() / "softhsm2.conf").string(); }

  private:
    TempFolder folder_;
    std::string saved_;
    bool hadValue_ = false;
    std::shared_ptr<std::vector<std::string>> pins_;
    std::shared_ptr<bool> cancel_;
    std::shared_ptr<int> requests_;
    std::shared_ptr<std::vector<Orvel::Pkcs11::PinRequest>> questions_;
};

/// A certificate for a DER SubjectPublicKeyInfo with the common name, issued by `issuer`,
/// with a key-usage extension when `keyUsage` is given (e.g. "critical,digitalSignature").
Bytes IssueForKey(const Bytes& publicKeyInfo, const std::string& commonName, const Identity& issuer,
                  long serial, const char* keyUsage = nullptr);

/// The file of the SoftHSM2 module that p11-kit has registered.
std::string SoftHsmModule();

/// The test module that passes calls to SoftHSM2 and imitates tokens SoftHSM2 cannot be
/// (wrap_module.cpp). Its switches are environment variables, all cleared on construction
/// and destruction. It is loaded by file only, never registered: reader names and key links
/// reach its tokens with `module-path`.
class WrapModule {
  public:
    WrapModule();
    ~WrapModule();
    WrapModule(const WrapModule&) = delete;
    WrapModule& operator=(const WrapModule&) = delete;

    static std::string Path() { return CARVIX_TEST_P11WRAP; }
    /// Sets (or, with an empty value, clears) one switch, e.g. Set("NO_RAW", "1").
    void Set(const std::string& name, const std::string& value);
    /// C_Login calls so far (while the module is loaded).
    int Logins() const;
    /// The mechanisms of the C_SignInit, C_DecryptInit and C_EncryptInit calls so far.
    std::vector<unsigned long> Mechanisms() const;
    /// "\\.\pkcs11:token=LABEL?module-path=...\": the token through this module.
    static std::u16string Reader(const std::string& label);
};

/// A certificate for the key in a DER PKCS#10 request, with the request's subject, issued by
/// `issuer`.
Bytes IssueForRequest(const Bytes& requestDer, const Identity& issuer, long serial = 7);

/// The certificate with these DER bytes as the user's store "My" holds it (with the key link
/// an import or selection gave it); throws std::runtime_error when "My" does not hold it.
Orvel::Security::Cryptography::X509::X509Certificate CertificateInMy(const Bytes& der);

}  // namespace carvix::testpki
