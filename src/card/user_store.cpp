#include "user_store.h"

#include "carvix/support/exceptions.h"

namespace x509 = Orvel::Security::Cryptography::X509;

namespace carvix::card {

std::vector<x509::X509Certificate> UserCertificates(const std::u16string& name) {
    std::vector<x509::X509Certificate> result;
    try {
        x509::X509Store store(x509::kStoreCurrentUser, name);
        store.Open(x509::kStoreReadOnly);
        for (const auto& certificate : store.Certificates()) {
            result.push_back(certificate);
        }
        store.Close();
    } catch (const CardException&) {
        throw;
    } catch (const Orvel::Exception& e) {
        throw CardException(u"Cannot open the certificate store \"" + name + u"\": " + e.Message());
    }
    return result;
}

}  // namespace carvix::card
