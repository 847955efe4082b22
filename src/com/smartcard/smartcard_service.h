// CARVIX.SmartCard: a stateless object that lists the readers and lets the user pick one
// holding a suitable card. Each call opens its own PC/SC context and releases it before
// returning.
#pragma once

#include "carvix/com/object.h"
#include "carvix/com/smartcard_service.h"
#include "smartcard/reader_select_dialog.h"

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

/// HRESULT_FROM_WIN32(ERROR_CANCELLED): the user cancelled the reader selection.
inline constexpr HRESULT kCancelled = static_cast<HRESULT>(0x800704C7u);

/// One reader selection with `check`: a PC/SC context of system scope for the call, the
/// chosen reader's name as a new BSTR, kCancelled for a cancel, a PC/SC failure as its code.
HRESULT SelectReaderWith(BSTR* bsReaderName, CardCheck check, const std::u16string& title);

/// The reader names the resource manager reports, in order (UTF-16). No reader, no service
/// and a stopped service give an empty list; other failures throw PCSCWin32Exception.
std::vector<std::u16string> SystemReaderNames();

}  // namespace carvix::com
