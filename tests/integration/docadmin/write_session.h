// What the document service's write tests on the bench share: an authenticated CARVIX.Auth,
// the three writable blocks read, changed by property name and written through
// CARVIX.DocAdmin, the signer installed in a private "My" store, and the openssl check of
// every SOD of a card image.
#pragma once

#include "carvix/automation/oleauto.h"
#include "carvix/com/authentication_service.h"
#include "carvix/com/docadmin_service.h"
#include "test_pki.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace carvix::writetest {

using carvix::com::IAuthenticationService;
using carvix::com::IDocAdminService;

/// The role that may update the variable blocks and their SODs on the sample cards.
inline constexpr std::uint32_t kWriterRole = 1;
std::vector<std::uint8_t> WriterKey();

/// A BSTR that frees itself.
class Bstr {
  public:
    explicit Bstr(const std::string& utf8);
    explicit Bstr(const std::u16string& text);
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return value_; }

  private:
    BSTR value_;
};

/// Releases an interface pointer.
struct Releaser {
    void operator()(IUnknown* p) const {
        if (p != nullptr) {
            p->Release();
        }
    }
};
template <class I>
using Ref = std::unique_ptr<I, Releaser>;

/// A new CARVIX.Auth and CARVIX.DocAdmin of this process.
Ref<IAuthenticationService> NewAuth();
Ref<IDocAdminService> NewDocAdmin();

/// Init on the reader for `appId`, a challenge, and the response computed with `key` for
/// `role`: the HRESULT of ExternalAuthenticate (or of the first step that failed).
HRESULT Authenticate(IAuthenticationService& auth, const std::string& reader, std::uint16_t appId,
                     const std::vector<std::uint8_t>& key, std::uint32_t role = kWriterRole);

/// One of the three writable blocks: the sample card holding it, its application, and a text
/// property the tests change.
struct WritableBlock {
    const char* name;
    const char* card;  // sample card stem: vl-full, zk-full
    std::uint16_t appId;
    std::uint16_t blockId;
    std::uint16_t sodId;
    const char16_t* property;
    /// The read method of the block (a new block object in *out).
    HRESULT (*read)(IDocAdminService&, BSTR reader, std::uint16_t appId, IDispatch** out);
    /// The write method of the block with `block` (asked for its block interface).
    HRESULT (*write)(IDocAdminService&, IAuthenticationService*, IDispatch* block, BSTR signer);
};
extern const WritableBlock kVLVariablePerso;
extern const WritableBlock kZKVariableAdmin;
extern const WritableBlock kZKVariablePerso;
const std::vector<const WritableBlock*>& WritableBlocks();

/// The block read through the service (null on failure, with the HRESULT in *hr).
Ref<IDispatch> ReadBlock(IDocAdminService& service, const WritableBlock& block,
                         const std::string& reader, HRESULT* hr = nullptr);
/// A text property by name through IDispatch.
std::u16string GetText(IDispatch& object, const char16_t* property);
HRESULT PutText(IDispatch& object, const char16_t* property, const std::u16string& value);

/// Reads the block, sets its property to `value`, and writes it with `auth` and `signerB64`.
HRESULT WriteText(IDocAdminService& service, const WritableBlock& block, const std::string& reader,
                  IAuthenticationService* auth, const std::u16string& value,
                  const std::u16string& signerB64 = u"");

/// The sample card image built for the tests (stem and protocol 0 or 1).
std::filesystem::path SampleImage(const std::string& stem, int protocol);

/// The document signer of the test PKI with its PEM key, in a "My" store private to the
/// object's life (XDG_DATA_HOME points at a temporary folder meanwhile).
class InstalledSigner {
  public:
    InstalledSigner();
    /// The certificate's DER in Base64, as a script passes it.
    const std::u16string& Base64() const { return base64_; }
    const std::vector<std::uint8_t>& Der() const { return der_; }

  private:
    carvix::testpki::PrivateStores stores_;
    std::vector<std::uint8_t> der_;
    std::u16string base64_;
};

/// Every SOD of the image checked with `openssl cms -verify -noverify` against the hashes of
/// the blocks it covers (tests/integration/app/check_sods.py). Empty when all verify, else
/// the checker's output.
std::string CheckSodsWithOpenssl(const std::filesystem::path& image);

/// The DER of one file of the image's application (from the card's JSON image).
std::vector<std::uint8_t> ImageFile(const std::filesystem::path& image, std::uint16_t fileId);

}  // namespace carvix::writetest
