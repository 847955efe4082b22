// What the journal learns of a page's changes to a card or a token: which calls are recorded,
// which reader they name, and that nothing a page sends can forge a journal line.
#include "audit.h"

#include <gtest/gtest.h>

#include <vector>

namespace carvix::bridge {
namespace {

TEST(Audit, OnlyCallsThatChangeACardOrATokenAreRecorded) {
    EXPECT_EQ(AuditedOperation("IDocAdminService", "writevlvariablepersodata"),
              "IDocAdminService.WriteVLVariablePersoData");
    EXPECT_EQ(AuditedOperation("IDocAdminService", "UpdateVLContactlessData"),
              "IDocAdminService.UpdateVLContactlessData");
    EXPECT_EQ(AuditedOperation("IPKIService", "GenerateKeyPair"), "IPKIService.GenerateKeyPair");
    EXPECT_EQ(AuditedOperation("IPKIService", "ImportCertificate"),
              "IPKIService.ImportCertificate");
    for (const auto& [interfaceName, member] : std::vector<std::pair<const char*, const char*>>{
             {"IDocAdminService", "ReadVLDocumentData"},
             {"IPKIService", "CreateCertificateRequest"},
             {"IAuthenticationService", "ExternalAuthenticate"},
             {"IVLVariablePersoBlock", "WriteVLVariablePersoData"}}) {
        EXPECT_FALSE(AuditedOperation(interfaceName, member)) << interfaceName << "." << member;
    }
}

TEST(Audit, TheReaderComesFromTheCallOrFromTheObjectItWasOpenedOn) {
    ReaderMemory readers;
    readers.Note(7, "init", Json::array({"Carvix Bench 1 00 00", 1}));
    readers.Note(8, "GetChallenge", Json::array({"not a reader"}));
    // A write receives the authentication object opened on the reader.
    EXPECT_EQ(readers.ReaderOf(Json::array({{{"$object", 7}}, {{"$object", 9}}, ""}),
                               {"pAuth", "pBlock", "bsSignerCertB64"}),
              "Carvix Bench 1 00 00");
    EXPECT_EQ(readers.ReaderOf(Json::array({{{"$object", 8}}}), {"pAuth"}), "");
    // A contactless update names its readers; key generation its container.
    EXPECT_EQ(readers.ReaderOf(Json::array({"Contact", 1, "Contactless", 1, "k", ""}),
                               {"bsContactReaderName", "uwAppID", "bsContactlessReaderName",
                                "bCheckCLSod", "bsEncryptedKeyB64", "bsSignerCertB64"}),
              "Contact");
    EXPECT_EQ(readers.ReaderOf(Json::array({"Token\\c1", 1, 0}),
                               {"bsContainerName", "ulKeySpec", "ulFlags"}),
              "Token\\c1");
    readers.Forget(7);
    EXPECT_EQ(readers.ReaderOf(Json::array({{{"$object", 7}}}), {"pAuth"}), "");
}

TEST(Audit, ALineNamesOriginOperationReaderAndResultAndCannotBeForged) {
    const AuditRecord done{"https://id.example.org", "IPKIService.GenerateKeyPair", "Token", S_OK};
    EXPECT_EQ(AuditText(done),
              "page \"https://id.example.org\" IPKIService.GenerateKeyPair "
              "reader \"Token\" result 0x00000000 (done)");
    const AuditRecord forged{"https://a.example", "IDocAdminService.WriteZKVariablePersoData",
                             "R\" result 0x00000000 (done)\nfake line", E_FAIL};
    const std::string line = AuditText(forged);
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_NE(line.find("reader \"R\\\" result 0x00000000 (done)\\x0Afake line\" result "
                        "0x80004005 (failed)"),
              std::string::npos)
        << line;

    std::vector<std::string> seen;
    const AuditSink previous =
        SetAuditSink([&](const AuditRecord& record) { seen.push_back(AuditText(record)); });
    RecordAudit(done);
    SetAuditSink(previous);
    EXPECT_EQ(seen, std::vector<std::string>{AuditText(done)});
}

}  // namespace
}  // namespace carvix::bridge
