// Test identities installed in a private "My" store, with their keys as PEM files.
#pragma once

#include "carvix/support/certificate_chooser.h"
#include "carvix/support/x509_certificate.h"
#include "carvix/support/x509_store.h"
#include "test_pki.h"

#include <gtest/gtest.h>

#include <string>

namespace cardtest {

namespace x509 = Orvel::Security::Cryptography::X509;

/// Points the user's stores at a temporary folder for one test and fills "My".
class UserStoreTest : public ::testing::Test {
  protected:
    /// Puts the identity's certificate into "My", with a link to its key file unless
    /// `withKey` is false (or the given link instead). Returns the certificate as stored.
    x509::X509Certificate Install(const carvix::testpki::Identity& identity, bool withKey = true,
                                  const std::string& link = {}) {
        x509::X509Certificate certificate(identity.Der());
        if (!link.empty()) {
            certificate.SetKeyProviderLink(link);
        } else if (withKey) {
            const auto file = keys_.Path() / (certificate.Thumbprint() + ".pem");
            certificate.SetKeyProviderLink(identity.WriteKey(file).string());
        }
        x509::X509Store my;
        my.Open(0);
        my.Add(certificate, x509::AddDisposition::Always);
        return certificate;
    }

    /// Replaces the chooser for the life of the test.
    void UseChooser(x509::CertificateChooser chooser) {
        previous_ = x509::SetCertificateChooser(std::move(chooser));
        replaced_ = true;
    }

    void TearDown() override {
        if (replaced_) {
            x509::SetCertificateChooser(std::move(previous_));
        }
    }

    carvix::testpki::PrivateStores stores_;
    carvix::testpki::TempFolder keys_;

  private:
    x509::CertificateChooser previous_;
    bool replaced_ = false;
};

}  // namespace cardtest
