// CARVIX.SmartCard: a stateless object that lists the readers (and, later, lets the user
// pick one). Each call opens its own PC/SC context and releases it before returning.
#pragma once

#include "carvix/com/object.h"
#include "carvix/com/smartcard_service.h"

#include <string>
#include <vector>

namespace carvix::com {

class SmartCardService final
    : public CoClass<SmartCardService, ISmartCardService, kSmartCardServiceDesc, ObjectSafety> {
  public:
    HRESULT SelectReader(BSTR* bsReaderName) override;
    HRESULT SelectContactlessReader(BSTR* bsReaderName) override;
    HRESULT ListReaders(VARIANT* pReaders) override;
};

/// The reader names the resource manager reports, in order (UTF-16). No reader, no service
/// and a stopped service give an empty list; other failures throw PCSCWin32Exception.
std::vector<std::u16string> SystemReaderNames();

}  // namespace carvix::com
