// The substitute for the contactless vendor library: the five entry points the component
// binds, reaching the card's contactless part through PC/SC on the named reader with the
// proprietary commands of carvix-vcard's contactless mode (testbench/vcard/README.md). Only the
// bench and the tests install it beside the module; a real installation has the vendor's file.
//
// Error codes it reports: the PC/SC code of a failed call (as a signed 32-bit value), the
// card's status word (for example 27010 = 0x6982, a wrong key), 87 for bad arguments and 122
// when the caller's buffer is too small for the file.
#include <PCSC/winscard.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#define RF_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kBadArguments = 87;
constexpr std::int32_t kBufferTooSmall = 122;
constexpr std::uint8_t kCla = 0x90;
constexpr std::size_t kWritePiece = 200;

/// A failure on the way: the error code handed back to the caller.
struct Failure {
    std::int32_t code;
};

/// The reader name: terminated UTF-16 text, at most `room` units, as UTF-8.
std::string ReaderName(const char16_t* text, std::uint32_t room) {
    if (text == nullptr) {
        throw Failure{kBadArguments};
    }
    std::string out;
    for (std::uint32_t i = 0; i < room && text[i] != u'\0'; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < room && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    if (out.empty()) {
        throw Failure{kBadArguments};
    }
    return out;
}

void Check(LONG rv) {
    if (rv != SCARD_S_SUCCESS) {
        throw Failure{static_cast<std::int32_t>(static_cast<std::uint32_t>(rv))};
    }
}

/// One connection to the card on a reader, closed on every path.
class Connection {
  public:
    explicit Connection(const std::string& reader) {
        Check(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_));
        DWORD protocol = 0;
        const LONG rv = SCardConnect(context_, reader.c_str(), SCARD_SHARE_SHARED,
                                     SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card_, &protocol);
        if (rv != SCARD_S_SUCCESS) {
            SCardReleaseContext(context_);
            Check(rv);
        }
        pci_ = protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    }
    ~Connection() {
        SCardDisconnect(card_, SCARD_LEAVE_CARD);
        SCardReleaseContext(context_);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    /// Sends a command and returns its data; any status word other than 9000 is the failure
    /// code. 61xx is followed by GET RESPONSE, 6Cxx by the same command with the right Le.
    Bytes Exchange(Bytes command) {
        Bytes data;
        for (int round = 0; round < 64; ++round) {
            Bytes answer(258);
            DWORD length = static_cast<DWORD>(answer.size());
            Check(SCardTransmit(card_, pci_, command.data(), static_cast<DWORD>(command.size()),
                                nullptr, answer.data(), &length));
            if (length < 2) {
                throw Failure{static_cast<std::int32_t>(SCARD_E_NOT_TRANSACTED)};
            }
            answer.resize(length);
            const std::uint8_t sw1 = answer[length - 2];
            const std::uint8_t sw2 = answer[length - 1];
            data.insert(data.end(), answer.begin(), answer.end() - 2);
            if (sw1 == 0x61) {
                command = {0x00, 0xC0, 0x00, 0x00, sw2};
                continue;
            }
            if (sw1 == 0x6C) {
                command.back() = sw2;
                continue;
            }
            if (sw1 != 0x90 || sw2 != 0x00) {
                throw Failure{(sw1 << 8) | sw2};
            }
            return data;
        }
        throw Failure{static_cast<std::int32_t>(SCARD_E_NOT_TRANSACTED)};
    }

  private:
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
    const SCARD_IO_REQUEST* pci_ = nullptr;
};

Bytes Apdu(std::uint8_t ins, std::uint8_t p1, std::uint8_t p2, const Bytes& data, bool le) {
    Bytes apdu{kCla, ins, p1, p2, static_cast<std::uint8_t>(data.size())};
    apdu.insert(apdu.end(), data.begin(), data.end());
    if (le) {
        apdu.push_back(0x00);
    }
    return apdu;
}

Bytes Key(const std::uint8_t* key, std::uint32_t length) {
    if (key == nullptr && length != 0) {
        throw Failure{kBadArguments};
    }
    return Bytes(key, key + length);
}

/// Copies `text` (ASCII) into a UTF-16 area of `room` units, terminated.
void PutText(char16_t* area, std::uint32_t room, const std::string& text) {
    if (area == nullptr || room == 0) {
        return;
    }
    const std::size_t n = std::min<std::size_t>(text.size(), room - 1);
    for (std::size_t i = 0; i < n; ++i) {
        area[i] = static_cast<unsigned char>(text[i]);
    }
    area[n] = u'\0';
}

}  // namespace

RF_EXPORT std::int32_t GetCardInfo_CL(const char16_t* reader, std::uint32_t readerLength,
                                      char16_t* firstInfo, std::uint32_t firstLength,
                                      char16_t* secondInfo, std::uint32_t secondLength,
                                      const std::uint8_t* key, std::uint32_t keyLength) {
    try {
        Connection card(ReaderName(reader, readerLength));
        const Bytes info = card.Exchange(Apdu(0x10, 0, 0, Key(key, keyLength), true));
        const auto split = std::find(info.begin(), info.end(), 0x00);
        PutText(firstInfo, firstLength, std::string(info.begin(), split));
        PutText(secondInfo, secondLength,
                split == info.end() ? std::string() : std::string(split + 1, info.end()));
        return 1;
    } catch (const Failure&) {
        return 0;
    } catch (...) {
        return 0;
    }
}

RF_EXPORT std::int32_t ReadFile_CL(const char16_t* reader, std::uint32_t readerLength,
                                   std::uint32_t fileNumber, const std::uint8_t* key,
                                   std::uint32_t keyLength, std::uint8_t* buffer,
                                   std::uint32_t* size, std::int32_t* errorCode) {
    std::int32_t ignored = 0;
    std::int32_t& error = errorCode != nullptr ? *errorCode : ignored;
    try {
        if (buffer == nullptr || size == nullptr || fileNumber < 1 || fileNumber > 2 ||
            keyLength != 16) {
            throw Failure{kBadArguments};
        }
        Connection card(ReaderName(reader, readerLength));
        const Bytes readKey = Key(key, keyLength);
        Bytes file;
        std::size_t total = 0;
        do {
            Bytes data = readKey;
            data.push_back(static_cast<std::uint8_t>(file.size() >> 8));
            data.push_back(static_cast<std::uint8_t>(file.size()));
            const Bytes answer =
                card.Exchange(Apdu(0xB0, static_cast<std::uint8_t>(fileNumber), 0, data, true));
            if (answer.size() < 2) {
                throw Failure{static_cast<std::int32_t>(SCARD_E_NOT_TRANSACTED)};
            }
            total = static_cast<std::size_t>((answer[0] << 8) | answer[1]);
            if (answer.size() == 2 && file.size() < total) {
                throw Failure{static_cast<std::int32_t>(SCARD_E_NOT_TRANSACTED)};
            }
            file.insert(file.end(), answer.begin() + 2, answer.end());
        } while (file.size() < total);
        if (file.size() > *size) {
            throw Failure{kBufferTooSmall};
        }
        std::copy(file.begin(), file.end(), buffer);
        *size = static_cast<std::uint32_t>(file.size());
        return 1;
    } catch (const Failure& f) {
        error = f.code;
        return 0;
    } catch (...) {
        error = kBadArguments;
        return 0;
    }
}

RF_EXPORT std::int32_t WriteFile_CL(const char16_t* reader, std::uint32_t readerLength,
                                    std::uint32_t fileNumber, const std::uint8_t* key,
                                    std::uint32_t keyLength, const std::uint8_t* data,
                                    std::uint32_t dataLength, std::int32_t* errorCode) {
    std::int32_t ignored = 0;
    std::int32_t& error = errorCode != nullptr ? *errorCode : ignored;
    try {
        if ((data == nullptr && dataLength != 0) || fileNumber < 1 || fileNumber > 2 ||
            keyLength == 0 || keyLength > 64) {
            throw Failure{kBadArguments};
        }
        Connection card(ReaderName(reader, readerLength));
        const Bytes writeKey = Key(key, keyLength);
        std::size_t offset = 0;
        do {
            const std::size_t n = std::min<std::size_t>(kWritePiece, dataLength - offset);
            const bool last = offset + n == dataLength;
            Bytes body{static_cast<std::uint8_t>(keyLength)};
            body.insert(body.end(), writeKey.begin(), writeKey.end());
            body.push_back(static_cast<std::uint8_t>(offset >> 8));
            body.push_back(static_cast<std::uint8_t>(offset));
            body.insert(body.end(), data + offset, data + offset + n);
            card.Exchange(
                Apdu(0xD6, static_cast<std::uint8_t>(fileNumber), last ? 1 : 0, body, false));
            offset += n;
        } while (offset < dataLength);
        return 1;
    } catch (const Failure& f) {
        error = f.code;
        return 0;
    } catch (...) {
        error = kBadArguments;
        return 0;
    }
}

// Formatting and key initialisation belong to the card's issuing, which the component never
// does; the substitute refuses them.
RF_EXPORT std::int32_t Format_CL() {
    return 0;
}
RF_EXPORT std::int32_t KeyInitAndPrePerso_CL() {
    return 0;
}
