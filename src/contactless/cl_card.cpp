#include "carvix/contactless/cl_card.h"

#include "carvix/blocks/vl_models.h"
#include "carvix/card/hash.h"
#include "carvix/card/signed_message.h"
#include "carvix/card/user_signing.h"
#include "carvix/contactless/contactless_sod_block.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"

#include <algorithm>

namespace carvix::contactless {

// "QXCL-RD-KEY-2026": the read key of the contactless part's key configuration.
const std::array<std::uint8_t, 16> kContactlessReadKey = {'Q', 'X', 'C', 'L', '-', 'R', 'D', '-',
                                                          'K', 'E', 'Y', '-', '2', '0', '2', '6'};

std::unique_ptr<CLCard> CLCard::Create(const std::string& moduleDirectory,
                                       std::u16string_view readerName) {
    auto library = std::make_unique<ContactlessLibrary>(moduleDirectory);
    if (!library->Loaded()) {
        throw CardException(u"Failed to load library for working with a contactless card.");
    }
    library->SetReaderName(readerName);
    return std::make_unique<CLCard>(std::move(library));
}

ContactlessLibrary& CLCard::RequireLibrary() {
    if (!library_) {
        throw CardException(u"CLCard has not been initialized.");
    }
    return *library_;
}

Orvel::ByteArray CLCard::ReadFile(std::uint32_t fileNumber, const char* failure) {
    ContactlessLibrary& library = RequireLibrary();
    Orvel::ByteArray buffer(kReadBufferSize, 0);
    std::uint32_t size = kReadBufferSize;
    std::int32_t errorCode = 0;
    std::int32_t result = 0;
    if (library.Loaded()) {
        result = library.ReadFile(fileNumber, kContactlessReadKey.data(),
                                  static_cast<std::uint32_t>(kContactlessReadKey.size()),
                                  buffer.data(), &size, &errorCode);
    }
    // A library that reports more than it was offered has not read anything usable: the read
    // fails with its error code instead of going past the buffer.
    if (result == 0 || size > kReadBufferSize) {
        throw CardException(Orvel::Format(failure, static_cast<int>(errorCode)));
    }
    buffer.resize(size);
    return buffer;
}

void CLCard::WriteFile(std::uint32_t fileNumber, std::span<const std::uint8_t> key,
                       std::span<const std::uint8_t> data, const char* failure) {
    ContactlessLibrary& library = RequireLibrary();
    std::int32_t errorCode = 0;
    std::int32_t result = 0;
    if (library.Loaded()) {
        result =
            library.WriteFile(fileNumber, key.data(), static_cast<std::uint32_t>(key.size()),
                              data.data(), static_cast<std::uint32_t>(data.size()), &errorCode);
    }
    if (result == 0) {
        throw CardException(Orvel::Format(failure, static_cast<int>(errorCode)));
    }
}

void CLCard::Read(VLContactlessModel& model, bool checkSod) {
    RequireLibrary();
    const Orvel::ByteArray data =
        ReadFile(kDataFile, "Failed to read data from a contactless card. Error code: %d");
    if (checkSod) {
        const Orvel::ByteArray sodBytes =
            ReadFile(kSodFile, "Failed to read data SOD from a contactless card. Error code: %d");
        ContactlessSodBlock sod;
        sod.Decode(sodBytes);
        const Orvel::ByteArray message = sod.Sod.GetValue();
        const VerifiedMessage verified = VerifySignedMessage(message, SignerStore{});
        const Orvel::ByteArray digest = ComputeSha256(data);
        if (verified.content.size() != digest.size() ||
            !std::equal(digest.begin(), digest.end(), verified.content.begin())) {
            throw CardException(
                u"Hash of data on a contactless card does not match the hash in corresponding "
                u"SOD block");
        }
    }
    model.Decode(data);
}

void CLCard::Write(const VLContactlessModel& model, std::span<const std::uint8_t> encryptedKey,
                   const Orvel::Security::Cryptography::X509::X509Certificate& signer) {
    RequireLibrary();
    const Orvel::ByteArray writeKey = DecryptMessage(encryptedKey);
    const Orvel::ByteArray data = model.Encode();
    const Orvel::ByteArray digest = ComputeSha256(data);
    const Orvel::ByteArray signedDigest = SignContent(digest, signer, false);
    // The SOD block is encoded before anything is written, so that a message too long for it
    // fails with the card untouched instead of after the data went out.
    ContactlessSodBlock sod;
    sod.Sod.SetValue(signedDigest);
    const Orvel::ByteArray sodBytes = sod.Encode();
    WriteFile(kDataFile, writeKey, data,
              "Failed to write data to a contactless card. Error code: %d");
    WriteFile(kSodFile, writeKey, sodBytes,
              "Failed to write data SOD to a contactless card. Error code: %d");
}

std::int32_t CLCard::GetCardInfo() {
    ContactlessLibrary& library = RequireLibrary();
    if (!library.Loaded()) {
        return 0;
    }
    return library.GetCardInfo(kContactlessReadKey.data(),
                               static_cast<std::uint32_t>(kContactlessReadKey.size()));
}

}  // namespace carvix::contactless
