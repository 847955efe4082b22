// Built when the tree has no card application library: every read reports it.
#include "carvix/support/exceptions.h"
#include "docadmin/verified_read.h"

namespace carvix::com {

void ReadVerifiedFromCard(const std::u16string&, std::uint16_t, CardBlock&) {
    throw CardException(u"The card application is not part of this build",
                        static_cast<std::int32_t>(0x80004001u));
}

}  // namespace carvix::com
