// The contactless part of a VL card, reached through the vendor library: the extract in
// file 1 and its SOD in file 2.
#pragma once

#include "carvix/contactless/contactless_library.h"
#include "carvix/support/byte_array.h"
#include "carvix/support/x509_certificate.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

class VLContactlessModel;

namespace carvix::contactless {

/// The read key of the contactless part, a constant of the build (16 printable ASCII bytes).
/// It goes to ReadFile_CL and GetCardInfo_CL.
extern const std::array<std::uint8_t, 16> kContactlessReadKey;

/// The file numbers of the contactless part.
inline constexpr std::uint32_t kDataFile = 1;
inline constexpr std::uint32_t kSodFile = 2;
/// What one read offers the library.
inline constexpr std::uint32_t kReadBufferSize = 1024;

/// One contactless reader with its own loaded library, for one operation. Every failure is a
/// CardException with E_FAIL unless a lower layer says otherwise.
class CLCard {
  public:
    /// Loads the library from `moduleDirectory` and binds it to `readerName`. A library that
    /// does not load: "Failed to load library for working with a contactless card.".
    static std::unique_ptr<CLCard> Create(const std::string& moduleDirectory,
                                          std::u16string_view readerName);
    /// A card on a library made elsewhere; none gives a card that is "not initialized".
    explicit CLCard(std::unique_ptr<ContactlessLibrary> library) noexcept
        : library_(std::move(library)) {}

    /// Fills `model` from file 1, after checking it against the SOD in file 2 when `checkSod`.
    void Read(VLContactlessModel& model, bool checkSod);
    /// Writes `model` to file 1 and then a newly signed SOD to file 2 with the write key that
    /// `encryptedKey` (PKCS#7 EnvelopedData to one of the user's certificates) carries. The
    /// data is written first and nothing is rolled back: a failure on file 2 leaves a stale SOD
    /// that the next update repairs.
    void Write(const VLContactlessModel& model, std::span<const std::uint8_t> encryptedKey,
               const Orvel::Security::Cryptography::X509::X509Certificate& signer);
    /// Builds a new extract from the verified blocks of the contact VL application on
    /// `contactReader` and the contactless serial number read from this part, and writes it.
    void Update(const std::u16string& contactReader, std::uint16_t appId, bool checkSod,
                std::span<const std::uint8_t> encryptedKey,
                const Orvel::Security::Cryptography::X509::X509Certificate& signer);

    /// GetCardInfo_CL's result (0 when it failed).
    std::int32_t GetCardInfo();

    ContactlessLibrary* Library() noexcept { return library_.get(); }

  private:
    ContactlessLibrary& RequireLibrary();
    Orvel::ByteArray ReadFile(std::uint32_t fileNumber, const char* failure);
    void WriteFile(std::uint32_t fileNumber, std::span<const std::uint8_t> key,
                   std::span<const std::uint8_t> data, const char* failure);

    std::unique_ptr<ContactlessLibrary> library_;
};

}  // namespace carvix::contactless
