// What a caller of a Windows smart-card crypto provider would see for a PKCS#11 result.
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstdint>

namespace Orvel::Pkcs11 {

/// The HRESULT for a CKR_* value (the table is in pkcs11_hresult.cpp and the README);
/// CKR_OK gives S_OK and anything the table does not name NTE_FAIL (0x80090020).
std::uint32_t HResultOf(CK_RV rv) noexcept;

}  // namespace Orvel::Pkcs11
