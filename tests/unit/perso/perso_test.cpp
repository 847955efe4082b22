#include "card_builder.h"
#include "carvix/blocks/card_document_model.h"
#include "carvix/blocks/vl_models.h"
#include "carvix/card/hash.h"
#include "carvix/card/signed_message.h"
#include "carvix/card/sod_block.h"
#include "carvix/card/sod_registry.h"
#include "document_signer.h"
#include "perso_error.h"
#include "test_pki.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using carvix::perso::BuildApplication;
using carvix::perso::DocumentSigner;
using carvix::perso::PersoError;
using nlohmann::json;

class Perso : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new carvix::testpki::TempFolder();
        auto identity = carvix::testpki::MakeIdentity("Perso test signer");
        auto der = identity.Der();
        std::ofstream(folder_->Path() / "signer.der", std::ios::binary)
            .write(reinterpret_cast<const char*>(der.data()), static_cast<long>(der.size()));
        identity.WriteKey(folder_->Path() / "signer.key");
        carvix::testpki::MakeIdentity("Someone else").WriteKey(folder_->Path() / "other.key");
        signer_ =
            new DocumentSigner(folder_->Path() / "signer.der", folder_->Path() / "signer.key");
    }
    static void TearDownTestSuite() {
        delete signer_;
        delete folder_;
    }

    static json Vl() {
        return json::parse(R"({
          "applicationId": 3,
          "blocks": {
            "VLDocument": {"CardID": "VL1", "DateOfIssue": "2024-02-29",
                           "DateOfExpiry": "2034-02-28", "ChipSerialNumber": "C1"},
            "VLPhoto": {"Photo": {"hex": "0102 0304"}},
            "VLVariablePerso": {"OrgUnit": "Unit", "ServiceSite": "Site",
                                "ServiceStartDate": "2020-01-01", "Rank": null}
          }
        })");
    }

    static std::string FailureOf(const json& application) {
        try {
            BuildApplication(application, folder_->Path(), *signer_, "app");
        } catch (const PersoError& e) {
            return e.what();
        }
        return "(built)";
    }

    static carvix::testpki::TempFolder* folder_;
    static DocumentSigner* signer_;
};
carvix::testpki::TempFolder* Perso::folder_ = nullptr;
DocumentSigner* Perso::signer_ = nullptr;

TEST_F(Perso, BuildsBlocksCardDocumentAndSods) {
    auto app = BuildApplication(Vl(), folder_->Path(), *signer_, "app");
    EXPECT_EQ(app.label, "VL");
    std::vector<std::uint16_t> ids;
    for (const auto& [id, bytes] : app.blocks) {
        ids.push_back(id);
    }
    EXPECT_EQ(ids, (std::vector<std::uint16_t>{0x0D00, 0x0D01, 0x0D03, 0x0D04, 0x0D05, 0x0D06}));

    CardDocumentModel document;
    document.Decode(app.blocks.at(0x0D00));
    EXPECT_EQ(document.DocumentID.GetValue(), 3);
    EXPECT_EQ(document.PresentBlocks.GetValue(),
              (std::vector<std::uint16_t>{0x0D01, 0x0D03, 0x0D04, 0x0D05, 0x0D06}));
    VLDocumentModel vl;
    vl.Decode(app.blocks.at(0x0D01));
    EXPECT_EQ(vl.DateOfIssue.GetValue().Day(), 29);
    VLVariablePersoModel variable;
    variable.Decode(app.blocks.at(0x0D03));
    EXPECT_TRUE(variable.Rank.IsNull());

    // SOD 0x0D05 lists 0D00, 0D01, 0D02, 0D04, 0D07: the card lacks 0D02 and 0D07.
    const SodRegistry& registry = SodRegistry::ForApplication(3);
    auto sod = registry.CreateSodBlock(0x0D05);
    sod->Decode(app.blocks.at(0x0D05));
    VerifiedMessage verified = VerifySignedMessage(sod->Message().GetValue());
    Orvel::ByteArray expected;
    for (std::uint16_t id : {0x0D00, 0x0D01, 0x0D02, 0x0D04, 0x0D07}) {
        Orvel::ByteArray slot =
            app.blocks.contains(id) ? ComputeSha256(app.blocks.at(id)) : Orvel::ByteArray(32, 0);
        expected.insert(expected.end(), slot.begin(), slot.end());
    }
    EXPECT_EQ(verified.content, expected);
    auto variableSod = registry.CreateSodBlock(0x0D06);
    variableSod->Decode(app.blocks.at(0x0D06));
    EXPECT_EQ(VerifySignedMessage(variableSod->Message().GetValue()).content,
              ComputeSha256(app.blocks.at(0x0D03)));
}

TEST_F(Perso, DescriptionMistakesAreNamed) {
    json missing = Vl();
    missing["blocks"]["VLDocument"].erase("CardID");
    EXPECT_EQ(FailureOf(missing), "app.VLDocument: the mandatory field CardID has no value");

    json unknown = Vl();
    unknown["blocks"]["VLPhoto"]["Picture"] = "x";
    EXPECT_EQ(FailureOf(unknown), "app.VLPhoto: no field Picture (fields: Photo)");

    json wrongBlock = Vl();
    wrongBlock["blocks"]["ZKDocument"] = json::object();
    EXPECT_NE(FailureOf(wrongBlock).find("no block ZKDocument in this application"),
              std::string::npos);

    json badDate = Vl();
    badDate["blocks"]["VLDocument"]["DateOfIssue"] = "29.02.2024";
    EXPECT_EQ(FailureOf(badDate),
              "app.VLDocument.DateOfIssue: expected a date as YYYY-MM-DD, got \"29.02.2024\"");
    badDate["blocks"]["VLDocument"]["DateOfIssue"] = "2023-02-29";
    EXPECT_EQ(FailureOf(badDate), "app.VLDocument.DateOfIssue: 2023-02-29 is no calendar date");

    json tooLong = Vl();
    tooLong["blocks"]["VLDocument"]["CardID"] = "VL01234567";
    EXPECT_EQ(FailureOf(tooLong),
              "app.VLDocument: Element with tag 0x611 has length 10, but maximum allowed is 9");

    json sodByHand = Vl();
    sodByHand["extraBlocks"] = json::array({{{"id", "0D06"}, {"body", "00"}}});
    EXPECT_EQ(FailureOf(sodByHand), "app.extraBlocks: block 0D06 is made by the tool");

    json six = {{"applicationId", 6}};
    EXPECT_NE(FailureOf(six).find("application ID 6 has no data blocks"), std::string::npos)
        << FailureOf(six);
    EXPECT_EQ(FailureOf(json::array()), "app: expected an object with \"applicationId\" (1 to 5)");
}

TEST_F(Perso, ImagesCarryTheProtocolAndOneAppletEach) {
    json description = {{"format", "carvix-perso/1"}, {"applications", json::array({Vl()})}};
    json image = carvix::perso::BuildImage(description, folder_->Path(), *signer_, {"T=1", {}});
    EXPECT_EQ(image["format"], "carvix-vcard/1");
    EXPECT_EQ(image["protocol"], "T=1");
    EXPECT_EQ(image["atr"], "3B85014356585431AC");
    const json& files = image["applications"][0]["files"];
    ASSERT_EQ(files.size(), 6u);
    EXPECT_EQ(files[2]["id"], "0D03");
    EXPECT_EQ(files[2]["size"], 1024);

    description["applications"].push_back(Vl());
    EXPECT_THROW(carvix::perso::BuildImage(description, folder_->Path(), *signer_, {}), PersoError);
    description["format"] = "something else";
    EXPECT_THROW(carvix::perso::BuildImage(description, folder_->Path(), *signer_, {}), PersoError);
}

TEST_F(Perso, SignerKeyMustMatchItsCertificate) {
    EXPECT_THROW(DocumentSigner(folder_->Path() / "signer.der", folder_->Path() / "other.key"),
                 PersoError);
    EXPECT_THROW(DocumentSigner(folder_->Path() / "missing.der", folder_->Path() / "signer.key"),
                 PersoError);
}

TEST(PersoFileSizes, WrittenBlocksGetRoom) {
    EXPECT_EQ(carvix::perso::FileSizeFor(0x0D01, 61), 61);
    EXPECT_EQ(carvix::perso::FileSizeFor(0x0D03, 180), 1024);
    EXPECT_EQ(carvix::perso::FileSizeFor(0x0D03, 2000), 2000);
    EXPECT_EQ(carvix::perso::FileSizeFor(0x0D05, 1491), 2568);
    EXPECT_EQ(carvix::perso::FileSizeFor(0x0D09, 100), 2408);
    EXPECT_EQ(carvix::perso::FileSizeFor(0x0D04, 70000), 0xFFFF);
}

}  // namespace
