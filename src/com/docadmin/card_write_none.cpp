// Built when the tree has no card application library: every write reports it.
#include "carvix/support/exceptions.h"
#include "docadmin/card_write.h"

namespace carvix::com {

void WriteBlockToCard(std::uintptr_t, std::uint16_t, const CardBlock&,
                      const Orvel::Security::Cryptography::X509::X509Certificate&) {
    throw CardException(u"The card application is not part of this build",
                        static_cast<std::int32_t>(0x80004001u));
}

}  // namespace carvix::com
