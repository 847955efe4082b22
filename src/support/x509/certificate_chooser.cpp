#include "carvix/support/certificate_chooser.h"

#include <utility>

namespace Orvel::Security::Cryptography::X509 {
namespace {
CertificateChooser& Installed() {
    static CertificateChooser chooser;
    return chooser;
}
}  // namespace

CertificateChooser SetCertificateChooser(CertificateChooser chooser) {
    return std::exchange(Installed(), std::move(chooser));
}

const CertificateChooser& GetCertificateChooser() noexcept {
    return Installed();
}

}  // namespace Orvel::Security::Cryptography::X509
