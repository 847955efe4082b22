// Every block of the sample cards read through pcscd and checked against its SOD, on a T=0
// and a T=1 card, with the number of APDUs each block read takes.
#include "bench_card.h"
#include "carvix/blocks/card_document_model.h"
#include "carvix/blocks/vl_models.h"
#include "carvix/blocks/zk_models.h"
#include "carvix/card/card_applet.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"

#include <PCSC/winscard.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace {

using carvix::bench::BenchCard;
using Orvel::Security::Cryptography::X509::X509Certificate;

std::filesystem::path Image(const std::string& card, int protocol) {
    return std::filesystem::path(CARVIX_SAMPLE_CARDS) /
           (card + "-t" + std::to_string(protocol) + ".json");
}

Orvel::ByteArray ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Orvel::ByteArray(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const Orvel::ByteArray& SignerDer() {
    static const Orvel::ByteArray der =
        ReadFile(std::filesystem::path(CARVIX_PKI_DIR) / "document-signer.cert.der");
    return der;
}

std::unique_ptr<CardApplet> OpenOn(const BenchCard& card, std::uint16_t applicationId) {
    return CardApplet::OpenForRead(Orvel::Utf8ToUtf16(card.ReaderName()), applicationId);
}

// The commands one block read takes: selections (each with GET RESPONSE under T=0), the
// header, and one READ BINARY per 128 bytes.
std::size_t ExpectedApdus(std::size_t blockSize, int protocol) {
    return (protocol == 0 ? 5 : 3) + (blockSize + 127) / 128;
}

// Reads each block alone, checks the command count, and prints it.
void CountReads(BenchCard& card, CardApplet& applet, const std::vector<std::uint16_t>& blocks,
                int protocol, const std::string& name) {
    for (std::uint16_t id : blocks) {
        card.ClearApduLog();
        std::size_t size = applet.ReadBlock(id).size();
        std::size_t apdus = card.ApduLog().size();
        EXPECT_EQ(apdus, ExpectedApdus(size, protocol)) << "block " << std::hex << id;
        std::printf("%s T=%d block %04X: %zu bytes, %zu APDUs\n", name.c_str(), protocol, id, size,
                    apdus);
    }
}

template <typename Model>
void Verify(CardApplet& applet, Model& model) {
    X509Certificate signer;
    applet.ReadVerifiedBlock(model, signer);
    ASSERT_FALSE(signer.IsEmpty()) << "block " << std::hex << model.Tag();
    EXPECT_EQ(signer.RawData(), SignerDer());
}

class SampleCards : public ::testing::TestWithParam<int> {};

TEST_P(SampleCards, VlCardWithEveryOptionalField) {
    const int protocol = GetParam();
    BenchCard card(Image("vl-full", protocol));
    auto applet = OpenOn(card, 1);
    CountReads(card, *applet, {0x0D01, 0x0D02, 0x0D03, 0x0D04, 0x0D05, 0x0D06, 0x0D07}, protocol,
               "vl-full");
    card.ClearApduLog();
    VLDocumentModel document;
    VLFixedPersoModel fixed;
    VLVariablePersoModel variable;
    VLPhotoModel photo;
    Verify(*applet, document);
    Verify(*applet, fixed);
    Verify(*applet, variable);
    Verify(*applet, photo);
    EXPECT_TRUE(card.ApduLog().empty()) << "verification read the card again";
    EXPECT_EQ(document.CardID.GetValue(), u"VL0012345");
    EXPECT_EQ(fixed.LastName.GetValue(), u"Petrović");
    EXPECT_EQ(fixed.BloodType.GetValue(), 7);
    EXPECT_EQ(variable.Rank.GetValue(), 24);
    EXPECT_EQ(variable.HealthWorkerID.GetValue(), u"HW123456");
    EXPECT_EQ(variable.ServiceEndDate.GetValue().Year(), 2035);
    // The sample photo is a real JPEG (start and end of image markers).
    const auto& jpeg = photo.Photo.GetValue();
    ASSERT_GT(jpeg.size(), 500u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
}

TEST_P(SampleCards, VlCardWithNoOptionalField) {
    const int protocol = GetParam();
    BenchCard card(Image("vl-minimal", protocol));
    auto applet = OpenOn(card, 1);
    CountReads(card, *applet, {0x0D01, 0x0D02, 0x0D03, 0x0D04, 0x0D05, 0x0D06}, protocol,
               "vl-minimal");
    VLDocumentModel document;
    VLFixedPersoModel fixed;
    VLVariablePersoModel variable;
    VLPhotoModel photo;
    Verify(*applet, document);
    Verify(*applet, fixed);
    Verify(*applet, variable);
    Verify(*applet, photo);
    EXPECT_TRUE(variable.Rank.IsNull());
    EXPECT_TRUE(variable.UnitNo.IsNull());
    EXPECT_TRUE(variable.ServiceEndDate.IsNull());
    EXPECT_TRUE(variable.HealthWorkerID.IsNull());
    EXPECT_EQ(variable.OrgUnit.GetValue(), u"Logistics Base");
    // The card holds no block 0x0D07 and does not declare it.
    EXPECT_THROW(applet->ReadBlock(0x0D07), CardException);
}

TEST_P(SampleCards, ZkCardWithInsurancesAndCyrillicText) {
    const int protocol = GetParam();
    BenchCard card(Image("zk-full", protocol));
    auto applet = OpenOn(card, 5);
    CountReads(card, *applet,
               {0x0D01, 0x0D02, 0x0D03, 0x0E01, 0x0E02, 0x0D05, 0x0D06, 0x0D09, 0x0D07}, protocol,
               "zk-full");
    ZKDocumentModel document;
    ZKFixedPersoModel fixed;
    ZKVariablePersoModel address;
    ZKFixedAdminModel fixedAdmin;
    ZKVariableAdminModel variableAdmin;
    Verify(*applet, document);
    Verify(*applet, fixed);
    Verify(*applet, address);
    Verify(*applet, fixedAdmin);
    Verify(*applet, variableAdmin);
    EXPECT_EQ(fixed.LastName.GetValue(), u"Јовановић");
    EXPECT_EQ(fixed.FirstNameLatin.GetValue(), u"Ljubica");
    EXPECT_EQ(address.Number.GetValue(), u"12Б");
    EXPECT_EQ(address.Street.GetValue(), u"Булевар ослобођења");
    EXPECT_EQ(fixedAdmin.Country.GetValue(), u"Србија");
    auto insurances = variableAdmin.VoluntaryInsurances.GetValue();
    ASSERT_EQ(insurances.size(), 20u);
    EXPECT_EQ(insurances[19].Code, u"20");
    EXPECT_EQ(insurances[0].PolicyCode, u"100");
}

TEST_P(SampleCards, WrongApplicationsAreRefused) {
    const int protocol = GetParam();
    BenchCard card(Image("vl-minimal", protocol));
    try {
        OpenOn(card, 5);  // no ZK applet on this card
        ADD_FAILURE() << "opened a missing applet";
    } catch (const CardException& e) {
        EXPECT_EQ(e.Code(), 0x6A82);
    }
    try {
        OpenOn(card, 2);
        ADD_FAILURE() << "opened with another document ID";
    } catch (const CardException& e) {
        EXPECT_EQ(e.Message(), u"Read document has ID 1, but ID 2 was requested.");
    }
}

// A private copy of an image with the last byte of one block changed.
std::filesystem::path TamperedCopy(const std::filesystem::path& source, const std::string& id,
                                   const std::filesystem::path& target) {
    std::ifstream in(source);
    std::stringstream text;
    text << in.rdbuf();
    std::string json = text.str();
    // The file's members may come in any order: look for "data" inside its object.
    std::size_t entry = json.find("\"id\": \"" + id + "\"");
    std::size_t begin = entry == std::string::npos ? entry : json.rfind('{', entry);
    std::size_t close = entry == std::string::npos ? entry : json.find('}', entry);
    std::size_t data = begin == std::string::npos ? begin : json.find("\"data\": \"", begin);
    if (data == std::string::npos || data > close) {
        throw std::runtime_error("block " + id + " not found in " + source.string());
    }
    std::size_t end = json.find('"', data + 9);
    char& last = json[end - 1];
    last = last == '7' ? '6' : '7';
    std::ofstream(target) << json;
    return target;
}

TEST_P(SampleCards, ChangedBlocksFailTheirHashCheck) {
    const int protocol = GetParam();
    std::filesystem::path copy = std::filesystem::temp_directory_path() /
                                 ("carvix-tampered-" + std::to_string(::getpid()) + ".json");
    BenchCard card(TamperedCopy(Image("vl-full", protocol), "0D02", copy));
    std::filesystem::remove(copy);
    auto applet = OpenOn(card, 1);
    VLFixedPersoModel fixed;
    X509Certificate signer;
    try {
        applet->ReadVerifiedBlock(fixed, signer);
        ADD_FAILURE() << "a changed block passed";
    } catch (const CardException& e) {
        EXPECT_EQ(
            e.Message(),
            u"Hash of block with ID 0xD02 does not match the hash in corresponding SOD block");
    }
    EXPECT_EQ(signer.RawData(), SignerDer());
    // The untouched blocks of the same SOD still verify.
    VLDocumentModel document;
    Verify(*applet, document);
}

TEST_P(SampleCards, WriteFormAdoptsAHandleItDoesNotOwn) {
    const int protocol = GetParam();
    BenchCard card(Image("vl-minimal", protocol));
    SCARDCONTEXT context = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context), SCARD_S_SUCCESS);
    SCARDHANDLE handle = 0;
    DWORD active = 0;
    ASSERT_EQ(SCardConnect(context, card.ReaderName().c_str(), SCARD_SHARE_SHARED,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle, &active),
              SCARD_S_SUCCESS);
    for (int round = 0; round < 2; ++round) {
        auto applet = CardApplet::OpenForWrite(handle, 1);
        EXPECT_EQ(applet->ApplicationId(), 1);
        VLFixedPersoModel fixed;
        Verify(*applet, fixed);
        EXPECT_EQ(fixed.FirstName.GetValue(), u"Ana");
        CardApplet::Close(std::move(applet));
        // The handle is still connected after the applet is gone.
        DWORD state = 0;
        DWORD protocolNow = 0;
        DWORD atrLength = 0;
        DWORD nameLength = 0;
        EXPECT_EQ(
            SCardStatus(handle, nullptr, &nameLength, &state, &protocolNow, nullptr, &atrLength),
            SCARD_S_SUCCESS);
        EXPECT_EQ(protocolNow, active);
    }
    EXPECT_EQ(SCardDisconnect(handle, SCARD_LEAVE_CARD), SCARD_S_SUCCESS);
    SCardReleaseContext(context);
}

INSTANTIATE_TEST_SUITE_P(Protocols, SampleCards, ::testing::Values(0, 1),
                         [](const auto& info) { return "T" + std::to_string(info.param); });

}  // namespace
