// The pieces of `carvix write` and `carvix certs` around the automation calls: the terminal
// certificate chooser (through the runtime's hook), the response command, and certificate
// and key files.
#include "certificate_file.h"
#include "responder.h"
#include "terminal_chooser.h"

#include "carvix/automation/host_hooks.h"
#include "carvix/support/x509_certificate.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace carvix::cli;
namespace fs = std::filesystem;

const CarvixCertificateOffer kOffers[] = {
    {u"CN=First", u"CN=Issuer", u"2030-01-01 00:00:00", u"AA", nullptr, 0, 0},
    {u"CN=Second", u"CN=Issuer", u"2031-01-01 00:00:00", u"BB", nullptr, 0, 0},
    {u"CN=Third", u"CN=Issuer", u"2032-01-01 00:00:00", u"CC", nullptr, 0, 0},
};

struct Asked {
    std::int32_t answered;
    std::uint32_t index;
    std::string shown;
};

// Puts the question through the runtime, as the module does, with `typed` on the terminal.
Asked Ask(const std::string& typed, bool interactive = true) {
    std::istringstream in(typed);
    std::ostringstream out;
    TerminalChooser chooser(in, out, interactive);
    chooser.Install();
    std::uint32_t index = 99;
    const std::int32_t answered = CarvixChooseCertificate(u"", u"", kOffers, 3, &index);
    EXPECT_EQ(chooser.UnansweredQuestion(), !interactive);
    return {answered, index, out.str()};
}

TEST(TerminalChooser, TheNumberTypedPicksThatCertificate) {
    const Asked a = Ask("2\n");
    EXPECT_EQ(a.answered, 1);
    EXPECT_EQ(a.index, 1u);
    EXPECT_NE(a.shown.find("  1. CN=First"), std::string::npos) << a.shown;
    EXPECT_NE(a.shown.find("  3. CN=Third"), std::string::npos);
    EXPECT_NE(a.shown.find("valid until 2031-01-01 00:00:00"), std::string::npos);
    EXPECT_NE(a.shown.find("[1-3, empty to cancel]"), std::string::npos);
}

TEST(TerminalChooser, WrongAnswersAreAskedAgainThenCancelled) {
    const Asked retried = Ask("0\nfour\n 3 \n");
    EXPECT_EQ(retried.answered, 1);
    EXPECT_EQ(retried.index, 2u);
    EXPECT_NE(retried.shown.find("Not a number from 1 to 3."), std::string::npos);

    EXPECT_EQ(Ask("4\n-1\n99999999999999\n1\n").answered, 0) << "three wrong answers cancel";
}

TEST(TerminalChooser, EmptyAnswerEndOfInputAndNoTerminalCancel) {
    EXPECT_EQ(Ask("\n1\n").answered, 0);
    EXPECT_EQ(Ask("").answered, 0);
    const Asked noTerminal = Ask("1\n", false);
    EXPECT_EQ(noTerminal.answered, 0);
    EXPECT_EQ(noTerminal.shown, "") << "nothing is asked without a terminal";
}

TEST(TerminalChooser, RemovedWhenItGoes) {
    {
        std::istringstream in("1\n");
        std::ostringstream out;
        TerminalChooser chooser(in, out, true);
        chooser.Install();
    }
    std::uint32_t index = 99;
    EXPECT_EQ(CarvixChooseCertificate(u"", u"", kOffers, 3, &index), 0);
    EXPECT_EQ(index, 99u);
}

TEST(Responder, TheChallengeIsTheLastArgumentAndTheOutputTheResponse) {
    EXPECT_EQ(RunResponder("echo", "AAECAwQFBgc="), "AAECAwQFBgc=");
    // Base64 text passes through the shell unchanged, quotes or not.
    EXPECT_EQ(RunResponder("printf '%s\\n\\n'", "q+/="), "q+/=");
    EXPECT_EQ(RunResponder("f() { printf 'QUJD\\r\\n'; }; f", "x"), "QUJD");
}

TEST(Responder, FailuresAreReported) {
    const auto message = [](const std::string& command) {
        try {
            RunResponder(command, "AAAA");
        } catch (const ResponderError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_NE(message("false").find("failed (exit status 1)"), std::string::npos);
    EXPECT_NE(message("true").find("printed nothing"), std::string::npos);
    EXPECT_NE(message("echo not base64 at all #").find("no Base64 response"), std::string::npos);
    EXPECT_NE(message("echo 'AB*D' #").find("no Base64 response"), std::string::npos);
    EXPECT_EQ(ShellQuote("it's"), "'it'\\''s'");
}

class Files : public ::testing::Test {
  protected:
    static fs::path Pki(const char* name) { return fs::path(CARVIX_TEST_PKI) / name; }
    fs::path Scratch(const char* name, const std::string& content) {
        const fs::path path = fs::temp_directory_path() / (std::string("carvix-cli-") + name);
        std::ofstream(path, std::ios::binary) << content;
        made_.push_back(path);
        return path;
    }
    void TearDown() override {
        for (const auto& p : made_) {
            fs::remove(p);
        }
    }

  private:
    std::vector<fs::path> made_;
};

TEST_F(Files, PemAndDerGiveTheSameCertificate) {
    const auto pem = ReadCertificateFile(Pki("document-signer.cert.pem"));
    const auto der = ReadCertificateFile(Pki("document-signer.cert.der"));
    EXPECT_EQ(pem.Thumbprint(), der.Thumbprint());
    EXPECT_EQ(pem.Thumbprint().size(), 40u);
    EXPECT_EQ(ExpiryDay(pem).size(), 10u);
}

TEST_F(Files, WhatIsNotACertificateIsRefused) {
    EXPECT_THROW(ReadCertificateFile(Scratch("junk.pem", "hello")), FileError);
    EXPECT_THROW(ReadCertificateFile(Pki("TEST-KEY-issuer.key.pem")), FileError);
    EXPECT_THROW(ReadCertificateFile(Pki("no-such-file.pem")), FileError);
}

TEST_F(Files, OnlyTheCertificatesOwnKeyMatches) {
    const auto signer = ReadCertificateFile(Pki("document-signer.cert.pem"));
    EXPECT_NO_THROW(CheckKeyMatches(signer, Pki("TEST-KEY-document-signer.key.pem")));
    try {
        CheckKeyMatches(signer, Pki("TEST-KEY-issuer.key.pem"));
        FAIL() << "another key matched";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("does not match"), std::string::npos);
    }
    EXPECT_THROW(CheckKeyMatches(signer, Pki("document-signer.cert.pem")), FileError);
    EXPECT_THROW(CheckKeyMatches(signer, Pki("no-such-key.pem")), FileError);
}

}  // namespace
