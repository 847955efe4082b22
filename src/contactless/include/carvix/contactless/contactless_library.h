// The contactless vendor library: one loaded instance of RF_QXeID_DF_API.so, opened from a
// directory and bound to its five entry points, and the directory of this module, where the
// library is looked for.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace carvix::contactless {

/// The file name of the vendor library.
inline constexpr char kLibraryFileName[] = "RF_QXeID_DF_API.so";

/// The text areas the library is given hold 255 UTF-16 code units, terminator included.
inline constexpr std::uint32_t kTextArea = 255;

// The library's entry points. Every integer argument is 32 bits wide, texts are terminated
// UTF-16, the C calling convention; each returns a signed 32-bit result.
extern "C" {
using GetCardInfoFn = std::int32_t (*)(const char16_t* reader, std::uint32_t readerLength,
                                       char16_t* firstInfo, std::uint32_t firstLength,
                                       char16_t* secondInfo, std::uint32_t secondLength,
                                       const std::uint8_t* key, std::uint32_t keyLength);
using FormatFn = std::int32_t (*)();
using KeyInitAndPrePersoFn = std::int32_t (*)();
using WriteFileFn = std::int32_t (*)(const char16_t* reader, std::uint32_t readerLength,
                                     std::uint32_t fileNumber, const std::uint8_t* key,
                                     std::uint32_t keyLength, const std::uint8_t* data,
                                     std::uint32_t dataLength, std::int32_t* errorCode);
using ReadFileFn = std::int32_t (*)(const char16_t* reader, std::uint32_t readerLength,
                                    std::uint32_t fileNumber, const std::uint8_t* key,
                                    std::uint32_t keyLength, std::uint8_t* buffer,
                                    std::uint32_t* size, std::int32_t* errorCode);
}

/// One loaded instance of the library, owned by the CLCard that created it. The constructor
/// never fails: a library that is missing, not a shared object or lacking any of the five
/// entry points leaves Loaded() false. The destructor closes the library.
class ContactlessLibrary {
  public:
    explicit ContactlessLibrary(const std::string& moduleDirectory);
    virtual ~ContactlessLibrary();
    ContactlessLibrary(const ContactlessLibrary&) = delete;
    ContactlessLibrary& operator=(const ContactlessLibrary&) = delete;

    bool Loaded() const noexcept { return loaded_ == 1; }

    /// Stores the reader name passed to every call; a name of 255 characters or more is not
    /// stored (the calls then carry an empty name).
    void SetReaderName(std::u16string_view name) noexcept;
    const char16_t* ReaderName() const noexcept { return readerName_.data(); }
    std::uint32_t ReaderNameLength() const noexcept { return readerNameLength_; }

    /// The calls as the component makes them (the library must be loaded).
    std::int32_t GetCardInfo(const std::uint8_t* key, std::uint32_t keyLength);
    std::int32_t ReadFile(std::uint32_t fileNumber, const std::uint8_t* key,
                          std::uint32_t keyLength, std::uint8_t* buffer, std::uint32_t* size,
                          std::int32_t* errorCode);
    std::int32_t WriteFile(std::uint32_t fileNumber, const std::uint8_t* key,
                           std::uint32_t keyLength, const std::uint8_t* data,
                           std::uint32_t dataLength, std::int32_t* errorCode);

    std::uint32_t FirstInfoLength() const noexcept { return firstInfoLength_; }
    std::uint32_t SecondInfoLength() const noexcept { return secondInfoLength_; }

  private:
    void* module_ = nullptr;
    std::uint32_t loaded_ = 0;
    std::array<char16_t, kTextArea> readerName_{};
    std::uint32_t readerNameLength_ = 0;
    std::array<char16_t, kTextArea> firstInfo_{};
    std::uint32_t firstInfoLength_ = 0;
    std::array<char16_t, kTextArea> secondInfo_{};
    std::uint32_t secondInfoLength_ = 0;
    GetCardInfoFn getCardInfo_ = nullptr;
    FormatFn format_ = nullptr;
    KeyInitAndPrePersoFn keyInitAndPrePerso_ = nullptr;
    WriteFileFn writeFile_ = nullptr;
    ReadFileFn readFile_ = nullptr;
};

/// The directory of the loaded module that holds this code (carvix-qx.so in an installation),
/// found once with dladdr and kept for the life of the process. Failure:
/// Orvel::Win32Exception "GetModuleDirectory".
const std::string& GetModuleDirectory();

}  // namespace carvix::contactless
