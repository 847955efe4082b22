// The contactless read and update of CARVIX.DocAdmin with a fault at each command the
// contactless part receives (the part pulled, another client resetting it, a status word, an
// answer cut short or made longer). A faulted call fails or gives the healthy result, the next
// call succeeds, and an update repeated after a failure leaves an extract whose SOD verifies.
#include "bench_card.h"
#include "carvix/support/base64.h"
#include "carvix/support/x509_certificate.h"
#include "carvix/support/x509_store.h"
#include "fault_sweep.h"
#include "write_session.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>

namespace {

using namespace carvix::writetest;
using carvix::bench::BenchCard;
namespace fs = std::filesystem;
namespace x509 = Orvel::Security::Cryptography::X509;

const fs::path kPki(CARVIX_PKI);
const std::string kWriteKey = "574B2D544553542D434C2D5752495445";

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

// The write key encrypted to the test card user by the openssl command, in Base64.
std::u16string EncryptedWriteKey(const fs::path& dir) {
    const auto plain = carvix::bench::Unhex(kWriteKey);
    std::ofstream(dir / "key.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(plain.data()), static_cast<long>(plain.size()));
    const std::string command = "openssl cms -encrypt -binary -aes256 -outform DER -in '" +
                                (dir / "key.bin").string() + "' -out '" +
                                (dir / "key.p7m").string() + "' '" +
                                (kPki / "card-user.cert.pem").string() + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return Orvel::ToBase64(ReadBytes(dir / "key.p7m"));
}

std::vector<std::uint8_t> ContactlessFile(const BenchCard& card, int number) {
    std::ifstream in(card.ImagePath());
    const nlohmann::json image = nlohmann::json::parse(in);
    return carvix::bench::Unhex(image.at("contactless").at("file" + std::to_string(number)));
}

TEST(ContactlessFaultSweep, ReadAndUpdateFailHonestlyAtEveryCommand) {
    QuietNotices quiet;
    carvix::testpki::PrivateStores stores;
    carvix::testpki::TempFolder folder;
    Install("contactless-signer");
    Install("card-user");
    const std::u16string encryptedKey = EncryptedWriteKey(folder.Path());
    const std::u16string signer = Orvel::ToBase64(ReadBytes(kPki / "contactless-signer.cert.der"));
    BenchCard contactless(CARVIX_CL_IMAGE);
    BenchCard contact(SampleImage("vl-minimal", 0));
    const Ref<IDocAdminService> service = NewDocAdmin();
    ASSERT_NE(service, nullptr);

    const auto read = [&](std::u16string* text) {
        const Bstr reader(contactless.ReaderName());
        carvix::com::IVLContactlessBlock* block = nullptr;
        const HRESULT hr = service->ReadVLContactlessData(reader.get(), 1, &block);
        if (FAILED(hr)) {
            EXPECT_EQ(block, nullptr);
            return hr;
        }
        if (block == nullptr) {
            return E_POINTER;
        }
        const Ref<IDispatch> held(reinterpret_cast<IDispatch*>(block));
        *text = GetText(*held, u"ContactlessSerialNumber") + u"|" + GetText(*held, u"CardID") +
                u"|" + GetText(*held, u"LastName");
        return hr;
    };
    const auto update = [&] {
        const Bstr contactReader(contact.ReaderName());
        const Bstr reader(contactless.ReaderName());
        const Bstr key(encryptedKey);
        const Bstr signerText(signer);
        return service->UpdateVLContactlessData(contactReader.get(), 1, reader.get(), 1, key.get(),
                                                signerText.get());
    };

    // The extract after a healthy update from the contact card; every later update writes the
    // same, so a faulted one either left it (failure) or wrote it again.
    ASSERT_EQ(update(), S_OK);
    const std::vector<std::uint8_t> extract = ContactlessFile(contactless, 1);
    std::u16string healthy;
    ASSERT_EQ(read(&healthy), S_OK);

    std::vector<SweepRow> rows;
    rows.push_back(Sweep(contactless, {"ReadVLContactlessData", nullptr, [&](bool* same) {
                                           std::u16string text;
                                           const HRESULT hr = read(&text);
                                           *same = text == healthy;
                                           return hr;
                                       }}));
    rows.push_back(Sweep(contactless, {"UpdateVLContactlessData", nullptr,
                                       [&](bool* same) {
                                           *same = false;  // the check below tells
                                           return update();
                                       },
                                       [&] {
                                           // The new extract and its SOD must read verified.
                                           std::u16string text;
                                           return ContactlessFile(contactless, 1) == extract &&
                                                  read(&text) == S_OK && text == healthy;
                                       }}));
    PrintSweepTable("The contactless part (T=1), a fault at each of its commands:", rows);
    for (const SweepRow& row : rows) {
        EXPECT_EQ(row.wrong, 0u) << row.operation;
        EXPECT_EQ(row.stuck, 0u) << row.operation;
    }
}

}  // namespace
