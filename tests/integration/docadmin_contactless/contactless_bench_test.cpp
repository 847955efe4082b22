// The contactless part on the bench: a contact VL card in one reader, its contactless part in
// another, served to the substitute vendor library, read and updated through CARVIX.DocAdmin.
// The write key reaches the update as an EnvelopedData made by `openssl cms -encrypt` to the
// test card user; the new SOD is checked with `openssl cms -verify`.
#include "bench_card.h"
#include "carvix/blocks/vl_models.h"
#include "carvix/card/hash.h"
#include "carvix/com/notifier.h"
#include "carvix/contactless/contactless_card_check.h"
#include "carvix/contactless/contactless_sod_block.h"
#include "carvix/support/base64.h"
#include "carvix/support/x509_certificate.h"
#include "carvix/support/x509_store.h"
#include "write_session.h"

#include <PCSC/winscard.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <mutex>

namespace {

using namespace carvix::writetest;
using carvix::bench::BenchCard;
namespace fs = std::filesystem;
namespace x509 = Orvel::Security::Cryptography::X509;

const fs::path kPki(CARVIX_PKI);
const std::u16string kSerial = u"CL00000000A1B2C3";  // the contactless part's own (vl-full)
const std::string kWriteKey = "574B2D544553542D434C2D5752495445";

std::mutex gNoticeMutex;
std::vector<std::u16string> gNotices;
void Record(const char16_t*, const char16_t* text, std::uint32_t) {
    std::lock_guard lock(gNoticeMutex);
    gNotices.push_back(text == nullptr ? u"" : text);
}

std::string Shell(const std::string& command, int* status = nullptr) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
    std::string output;
    char buffer[512];
    while (pipe && fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
        output += buffer;
    }
    const int rc = pipe ? pclose(pipe.release()) : -1;
    if (status != nullptr) {
        *status = rc;
    }
    return output;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void Install(const std::string& stem) {
    x509::X509Certificate certificate(ReadBytes(kPki / (stem + ".cert.der")));
    certificate.SetKeyProviderLink((kPki / ("TEST-KEY-" + stem + ".key.pem")).string());
    x509::X509Store my;
    my.Open(0);
    my.Add(certificate, x509::AddDisposition::Always);
}

/// `plain` encrypted to the test card user with the openssl command, in Base64.
std::u16string EncryptToCardUser(const std::vector<std::uint8_t>& plain, const fs::path& dir) {
    std::ofstream(dir / "key.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(plain.data()), static_cast<long>(plain.size()));
    int status = 0;
    const std::string out =
        Shell("openssl cms -encrypt -binary -aes256 -outform DER -in '" +
                  (dir / "key.bin").string() + "' -out '" + (dir / "key.p7m").string() + "' '" +
                  (kPki / "card-user.cert.pem").string() + "'",
              &status);
    EXPECT_EQ(status, 0) << out;
    return Orvel::ToBase64(ReadBytes(dir / "key.p7m"));
}

/// File 1 or 2 of the contactless part, from the card's image.
std::vector<std::uint8_t> ContactlessFile(const BenchCard& card, int number) {
    std::ifstream in(card.ImagePath());
    const nlohmann::json image = nlohmann::json::parse(in);
    return carvix::bench::Unhex(image.at("contactless").at("file" + std::to_string(number)));
}

class ContactlessOnBench : public ::testing::Test {
  protected:
    void SetUp() override {
        gNotices.clear();
        previous_ = carvix::com::GetNotifier();
        carvix::com::SetNotifier(&Record);
        Install("contactless-signer");
        Install("card-user");
        encryptedKey_ = EncryptToCardUser(carvix::bench::Unhex(kWriteKey), folder_.Path());
        contactless_ = std::make_unique<BenchCard>(CARVIX_CL_IMAGE);
        service_ = NewDocAdmin();
        ASSERT_NE(service_, nullptr);
    }
    void TearDown() override {
        service_.reset();
        contactless_.reset();
        carvix::com::SetNotifier(previous_);
    }

    HRESULT Read(bool checkSod, Ref<IDispatch>* out = nullptr) {
        const Bstr reader(contactless_->ReaderName());
        carvix::com::IVLContactlessBlock* block = nullptr;
        const HRESULT hr = service_->ReadVLContactlessData(reader.get(), checkSod ? 1 : 0, &block);
        Ref<IDispatch> held(reinterpret_cast<IDispatch*>(block));
        if (out != nullptr) {
            *out = std::move(held);
        }
        return hr;
    }
    HRESULT Update(const BenchCard& contact, bool checkSod, const std::u16string& keyB64,
                   const std::u16string& signerB64) {
        const Bstr contactReader(contact.ReaderName());
        const Bstr reader(contactless_->ReaderName());
        const Bstr key(keyB64);
        const Bstr signer(signerB64);
        return service_->UpdateVLContactlessData(contactReader.get(), 1, reader.get(),
                                                 checkSod ? 1 : 0, key.get(), signer.get());
    }
    HRESULT Update(const BenchCard& contact) {
        return Update(contact, true, encryptedKey_, SignerB64());
    }
    static std::u16string SignerB64() {
        return Orvel::ToBase64(ReadBytes(kPki / "contactless-signer.cert.der"));
    }
    std::unique_ptr<VLContactlessModel> Written() const {
        auto model = std::make_unique<VLContactlessModel>();
        model->Decode(ContactlessFile(*contactless_, 1));
        return model;
    }
    /// The commands the contactless part received that write a file.
    std::vector<std::string> FileWrites() const {
        std::vector<std::string> writes;
        for (const auto& exchange : contactless_->ApduLog()) {
            if (exchange.command.rfind("90D6", 0) == 0) {
                writes.push_back(exchange.command.substr(0, 8));
            }
        }
        return writes;
    }

    carvix::testpki::PrivateStores stores_;
    carvix::testpki::TempFolder folder_;
    std::u16string encryptedKey_;
    std::unique_ptr<BenchCard> contactless_;
    Ref<IDocAdminService> service_;

  private:
    carvix::com::NotifierFn previous_ = nullptr;
};

TEST_F(ContactlessOnBench, ThePersonalisedExtractReadsWithAndWithoutItsSodCheck) {
    for (bool check : {false, true}) {
        Ref<IDispatch> block;
        ASSERT_EQ(Read(check, &block), S_OK);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(GetText(*block, u"ContactlessSerialNumber"), kSerial);
        EXPECT_EQ(GetText(*block, u"CardID"), u"VL0012345");
    }
    EXPECT_TRUE(gNotices.empty());
    // Nothing but reads went to the contactless part.
    EXPECT_TRUE(FileWrites().empty());
}

TEST_F(ContactlessOnBench, TheSubstituteAlsoReadsAndWritesAT0Card) {
    // The same part answering by T=0 rules: data of case 4 commands through GET RESPONSE.
    std::ifstream in(CARVIX_CL_IMAGE);
    nlohmann::json image = nlohmann::json::parse(in);
    image["protocol"] = "T=0";
    image["atr"] = "3B054356585430";
    const fs::path t0 = folder_.Path() / "contactless-t0.json";
    std::ofstream(t0) << image.dump();
    contactless_ = std::make_unique<BenchCard>(t0);
    BenchCard contact(SampleImage("vl-minimal", 0));
    ASSERT_EQ(Update(contact), S_OK);
    Ref<IDispatch> block;
    ASSERT_EQ(Read(true, &block), S_OK);
    EXPECT_EQ(GetText(*block, u"FirstName"), u"Ana");
    bool getResponse = false;
    for (const auto& exchange : contactless_->ApduLog()) {
        getResponse = getResponse || exchange.command.rfind("00C0", 0) == 0;
    }
    EXPECT_TRUE(getResponse);
}

TEST_F(ContactlessOnBench, AnUpdateTakesTheContactCardAndKeepsTheContactlessSerialNumber) {
    BenchCard contact(SampleImage("vl-minimal", 0));  // another card, without Rank
    ASSERT_EQ(Update(contact), S_OK) << (gNotices.empty() ? "" : "notice shown");
    const auto held = Written();
    VLContactlessModel& written = *held;
    EXPECT_EQ(written.CardID.GetValue(), u"VL0000001");
    EXPECT_EQ(written.ChipSerialNumber.GetValue(), u"CHIP000000000001");
    EXPECT_EQ(written.ContactlessSerialNumber.GetValue(), kSerial);
    EXPECT_EQ(written.FirstName.GetValue(), u"Ana");
    EXPECT_TRUE(written.Rank.IsNull()) << "no tag 0x630 without a Rank on the contact card";
    EXPECT_EQ(FileWrites().back().substr(0, 6), "90D602") << "the SOD is written last";
    ASSERT_EQ(Read(true), S_OK);

    BenchCard full(SampleImage("vl-full", 1));  // with Rank 24
    ASSERT_EQ(Update(full), S_OK);
    written.Decode(ContactlessFile(*contactless_, 1));
    ASSERT_FALSE(written.Rank.IsNull());
    EXPECT_EQ(written.Rank.GetValue(), 24);
    EXPECT_EQ(written.ContactlessSerialNumber.GetValue(), kSerial);
    EXPECT_TRUE(gNotices.empty());
}

TEST_F(ContactlessOnBench, TheWrittenSodVerifiesWithOpensslAgainstTheSigner) {
    BenchCard contact(SampleImage("vl-minimal", 1));
    ASSERT_EQ(Update(contact), S_OK);
    const std::vector<std::uint8_t> data = ContactlessFile(*contactless_, 1);
    ContactlessSodBlock sod;
    sod.Decode(ContactlessFile(*contactless_, 2));
    const auto message = sod.Sod.GetValue();
    const fs::path in = folder_.Path() / "sod.der";
    const fs::path out = folder_.Path() / "content.bin";
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(message.data()), static_cast<long>(message.size()));
    int status = 0;
    const std::string output = Shell(
        "openssl cms -verify -binary -noverify -inform DER -in '" + in.string() + "' -certfile '" +
            (kPki / "contactless-signer.cert.pem").string() + "' -out '" + out.string() + "'",
        &status);
    ASSERT_EQ(status, 0) << output;
    EXPECT_EQ(ReadBytes(out), ComputeSha256(data));
    // The message carries no certificate: the reader finds the signer in "My".
    EXPECT_EQ(Shell("openssl cms -cmsout -print -inform DER -in '" + in.string() + "'")
                  .find("TEST Contactless Signer"),
              std::string::npos);
}

TEST_F(ContactlessOnBench, AFirstNameTooLongForTheExtractFailsBeforeAnythingIsWritten) {
    // A contact card whose first name (31 characters) fits its own block but not the extract.
    std::ifstream in(fs::path(CARVIX_PERSO_DIR) / "vl-minimal.json");
    nlohmann::json description = nlohmann::json::parse(in);
    description["applications"][0]["blocks"]["VLFixedPerso"]["FirstName"] = std::string(31, 'N');
    description.erase("signer");
    const fs::path descriptionPath = folder_.Path() / "long-name.json";
    const fs::path image = folder_.Path() / "long-name-card.json";
    std::ofstream(descriptionPath) << description.dump();
    int status = 0;
    const std::string output = Shell(
        std::string(CARVIX_PERSO) + " '" + descriptionPath.string() + "' -o '" + image.string() +
            "' --signer-cert '" + (kPki / "document-signer.cert.pem").string() +
            "' --signer-key '" + (kPki / "TEST-KEY-document-signer.key.pem").string() + "'",
        &status);
    ASSERT_EQ(status, 0) << output;
    BenchCard contact(image);

    EXPECT_EQ(Update(contact), E_FAIL);
    ASSERT_EQ(gNotices.size(), 1u);
    EXPECT_NE(gNotices[0].find(u"0x623"), std::u16string::npos);
    bool contactRead = false;
    for (const auto& exchange : contact.ApduLog()) {
        contactRead = contactRead || exchange.command.rfind("00B0", 0) == 0;
    }
    EXPECT_TRUE(contactRead) << "the contact card is read before the extract is encoded";
    EXPECT_TRUE(FileWrites().empty());
    EXPECT_EQ(Read(true), S_OK);
}

TEST_F(ContactlessOnBench, AWrongWriteKeyIsRefusedByTheCardWithItsCode) {
    BenchCard contact(SampleImage("vl-minimal", 0));
    const std::u16string wrongKey = EncryptToCardUser({1, 2, 3, 4}, folder_.Path());
    EXPECT_EQ(Update(contact, false, wrongKey, SignerB64()), E_FAIL);
    ASSERT_EQ(gNotices.size(), 1u);
    EXPECT_EQ(gNotices[0], u"Failed to write data to a contactless card. Error code: 27010");
    EXPECT_EQ(Read(true), S_OK) << "the card keeps its extract";
}

TEST_F(ContactlessOnBench, AnUpdateCutOffBeforeItsSodIsReportedAndTheNextOneRepairs) {
    BenchCard minimal(SampleImage("vl-minimal", 0));
    BenchCard full(SampleImage("vl-full", 0));
    // From the extract of `minimal`, a dry run of the update to `full` counts the commands up
    // to the SOD's first piece; the card is then put back to the same starting point.
    ASSERT_EQ(Update(minimal, false, encryptedKey_, SignerB64()), S_OK);
    contactless_->ClearApduLog();
    ASSERT_EQ(Update(full, false, encryptedKey_, SignerB64()), S_OK);
    std::size_t sodWrite = 0;
    const auto log = contactless_->ApduLog();
    for (std::size_t i = 0; i < log.size() && sodWrite == 0; ++i) {
        if (log[i].command.rfind("90D602", 0) == 0) {
            sodWrite = i + 1;
        }
    }
    ASSERT_GT(sodWrite, 0u);
    ASSERT_EQ(Update(minimal, false, encryptedKey_, SignerB64()), S_OK);

    // The same update cut off at the SOD: the data is written, the SOD stays the old one.
    contactless_->Control("fault sw:6581@" + std::to_string(sodWrite));
    gNotices.clear();
    EXPECT_EQ(Update(full, false, encryptedKey_, SignerB64()), E_FAIL);
    ASSERT_EQ(gNotices.size(), 1u);
    EXPECT_EQ(gNotices[0], u"Failed to write data SOD to a contactless card. Error code: 25985");
    EXPECT_EQ(Written()->CardID.GetValue(), u"VL0012345") << "the data was written";

    // The stale SOD shows only to a read that checks it.
    gNotices.clear();
    EXPECT_EQ(Read(false), S_OK);
    EXPECT_EQ(Read(true), E_FAIL);
    ASSERT_EQ(gNotices.size(), 1u);
    EXPECT_EQ(gNotices[0],
              u"Hash of data on a contactless card does not match the hash in corresponding SOD "
              u"block");
    // An update with the SOD check refuses to start from that card...
    gNotices.clear();
    EXPECT_EQ(Update(full), E_FAIL);
    // ...one without it repairs the card.
    EXPECT_EQ(Update(full, false, encryptedKey_, SignerB64()), S_OK);
    EXPECT_EQ(Read(true), S_OK);
}

TEST_F(ContactlessOnBench, TheReaderCheckAcceptsTheContactlessPartOnly) {
    BenchCard contact(SampleImage("vl-minimal", 1));
    SCARDCONTEXT context = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    for (const BenchCard* card : {contactless_.get(), &contact}) {
        SCARDHANDLE handle = 0;
        DWORD protocol = 0;
        ASSERT_EQ(SCardConnect(context, card->ReaderName().c_str(), SCARD_SHARE_SHARED,
                               SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle, &protocol),
                  SCARD_S_SUCCESS);
        EXPECT_EQ(carvix::contactless::CheckContactlessCard(handle), card == contactless_.get())
            << card->ReaderName();
        SCardDisconnect(handle, SCARD_LEAVE_CARD);
    }
    SCardReleaseContext(context);
}

}  // namespace
