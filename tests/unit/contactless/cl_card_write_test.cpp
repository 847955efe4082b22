// Writing the extract through the recording library: the write key taken out of its
// EnvelopedData, the arguments of WriteFile_CL, the data before its SOD, and a write cut off
// before the SOD, which a later read with the check finds and a later write repairs.
#include "carvix/blocks/vl_models.h"
#include "carvix/card/hash.h"
#include "carvix/card/signed_message.h"
#include "carvix/contactless/cl_card.h"
#include "carvix/contactless/contactless_sod_block.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/x509_store.h"
#include "recording_library.h"
#include "test_pki.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/cms.h>

#include <filesystem>

namespace {

namespace cl = carvix::contactless;
namespace fs = std::filesystem;
namespace x509 = Orvel::Security::Cryptography::X509;
using carvix::testpki::Bytes;

/// A DER EnvelopedData of `plain` addressed to `recipient`.
Bytes Envelope(const Bytes& plain, const carvix::testpki::Identity& recipient) {
    const std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> certs(
        sk_X509_new_null(), [](STACK_OF(X509) * s) { sk_X509_free(s); });
    sk_X509_push(certs.get(), recipient.certificate.get());
    auto in = Orvel::OpenSsl::Own<BIO_free>(
        BIO_new_mem_buf(plain.data(), static_cast<int>(plain.size())));
    auto cms = Orvel::OpenSsl::Own<CMS_ContentInfo_free>(
        CMS_encrypt(certs.get(), in.get(), EVP_aes_256_cbc(), CMS_BINARY));
    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms.get(), &der);
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

void Fill(VLContactlessModel& model, const std::u16string& orgUnit) {
    model.CardID.SetValue(u"VL0012345");
    model.ChipSerialNumber.SetValue(u"CHIP01");
    model.ContactlessSerialNumber.SetValue(u"CLSN01");
    model.PersonalNumber.SetValue(u"0101990710011");
    model.LastName.SetValue(u"Last");
    model.FirstName.SetValue(u"First");
    model.ParentName.SetValue(u"Parent");
    model.Status.SetValue(3);
    model.OrgUnit.SetValue(orgUnit);
    model.ServiceSite.SetValue(u"Site");
}

std::u16string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CardException& e) {
        return e.Message();
    }
    return u"(no exception)";
}

class ContactlessWrite : public ::testing::Test {
  protected:
    void SetUp() override {
        handle_ = ::dlopen((fs::path(RECORDING_DIR) / cl::kLibraryFileName).c_str(), RTLD_NOW);
        ASSERT_NE(handle_, nullptr) << ::dlerror();
        state_ = reinterpret_cast<recording::State* (*)()>(::dlsym(handle_, "Recording_CL"))();
        *state_ = recording::State{};
        // The user: signs the SOD and receives the write key.
        x509::X509Certificate certificate(user_.Der());
        certificate.SetKeyProviderLink(user_.WriteKey(keys_.Path() / "user.pem").string());
        x509::X509Store my;
        my.Open(0);
        my.Add(certificate, x509::AddDisposition::Always);
        signer_ = x509::X509Certificate(user_.Der());
    }
    void TearDown() override {
        if (handle_ != nullptr) {
            ::dlclose(handle_);
        }
    }
    std::unique_ptr<cl::CLCard> Card() { return cl::CLCard::Create(RECORDING_DIR, u"CL 00 01"); }

    carvix::testpki::PrivateStores stores_;
    carvix::testpki::TempFolder keys_;
    carvix::testpki::Identity user_ = carvix::testpki::MakeIdentity("Test Card User", 7);
    x509::X509Certificate signer_;
    const Bytes writeKey_{'W', 'K', '-', '0', '1'};
    void* handle_ = nullptr;
    recording::State* state_ = nullptr;
};

TEST_F(ContactlessWrite, TheDataGoesFirstThenItsSodUnderTheDecryptedKey) {
    VLContactlessModel model;
    Fill(model, u"Unit");
    Card()->Write(model, Envelope(writeKey_, user_), signer_);

    ASSERT_EQ(state_->calls.size(), 2u);
    for (std::uint32_t file : {1u, 2u}) {
        const recording::Call& call = state_->calls[file - 1];
        EXPECT_EQ(call.function, "WriteFile_CL");
        EXPECT_EQ(call.reader, u"CL 00 01");
        EXPECT_EQ(call.readerLength, 255u);
        EXPECT_EQ(call.fileNumber, file);
        EXPECT_EQ(call.key, writeKey_);
        EXPECT_EQ(call.lengths.at(0), writeKey_.size());
        EXPECT_EQ(call.lengths.at(1), call.data.size());
        EXPECT_EQ(call.errorIn, 0);
    }
    EXPECT_EQ(state_->calls[0].data, model.Encode());
    ContactlessSodBlock sod;
    sod.Decode(state_->calls[1].data);
    const VerifiedMessage verified = VerifySignedMessage(sod.Sod.GetValue(), SignerStore{});
    EXPECT_EQ(verified.content, ComputeSha256(state_->calls[0].data));

    VLContactlessModel read;
    Card()->Read(read, true);
    EXPECT_EQ(read.OrgUnit.GetValue(), u"Unit");
}

TEST_F(ContactlessWrite, AWriteCutOffBeforeItsSodIsAFailureThatTheNextWriteRepairs) {
    VLContactlessModel first;
    Fill(first, u"First unit");
    Card()->Write(first, Envelope(writeKey_, user_), signer_);

    VLContactlessModel second;
    Fill(second, u"Second unit");
    state_->failWriteOf = 2;
    state_->errorCode = 25985;
    EXPECT_EQ(MessageOf([&] { Card()->Write(second, Envelope(writeKey_, user_), signer_); }),
              u"Failed to write data SOD to a contactless card. Error code: 25985");
    EXPECT_EQ(state_->files[1], second.Encode()) << "the data is written, nothing rolled back";

    VLContactlessModel read;
    Card()->Read(read, false);
    EXPECT_EQ(read.OrgUnit.GetValue(), u"Second unit");
    EXPECT_EQ(MessageOf([&] { Card()->Read(read, true); }),
              u"Hash of data on a contactless card does not match the hash in corresponding SOD "
              u"block");

    state_->failWriteOf = 0;
    Card()->Write(second, Envelope(writeKey_, user_), signer_);
    Card()->Read(read, true);
    EXPECT_EQ(read.OrgUnit.GetValue(), u"Second unit");
}

TEST_F(ContactlessWrite, NothingIsWrittenWhenTheKeyOrTheExtractIsUnusable) {
    VLContactlessModel model;
    Fill(model, u"Unit");
    EXPECT_EQ(MessageOf([&] {
                  Card()->Write(model, Bytes{0x30, 0x00}, signer_);
              }),
              u"Unable to decrypt data");
    model.FirstName.SetValue(std::u16string(31, u'N'));  // 62 bytes, the extract holds 60
    EXPECT_NE(MessageOf([&] {
                  Card()->Write(model, Envelope(writeKey_, user_), signer_);
              }).find(u"0x623"),
              std::u16string::npos);
    EXPECT_TRUE(state_->calls.empty());
}

}  // namespace
