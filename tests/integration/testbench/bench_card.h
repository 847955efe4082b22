// A virtual card in a bench reader, for integration tests.
//
// BenchCard takes a free reader slot of the bench (an exclusive lock per slot, so tests run
// side by side), starts carvix-vcard on a private copy of the image, and waits until PC/SC
// reports the card. The destructor stops the emulator, waits until the reader is empty and
// frees the slot. The emulator dies with the test process even when the test crashes.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bench_env.h"

namespace carvix::bench {

// One exchange of the card's APDU log, upper-case hex without spaces. A command the card
// dropped (removal fault) has an empty response.
struct ApduExchange {
    std::string command;
    std::string response;
    bool operator==(const ApduExchange&) const = default;
};

class BenchCard {
  public:
    explicit BenchCard(const std::filesystem::path& image,
                       std::vector<std::string> emulatorArgs = {});
    ~BenchCard();
    BenchCard(const BenchCard&) = delete;
    BenchCard& operator=(const BenchCard&) = delete;

    const std::string& ReaderName() const { return reader_; }
    std::vector<ApduExchange> ApduLog() const;
    void ClearApduLog();

    // Sends a control-socket command ("fault sw:6A82@1", "t1-get-response on", ...) and
    // returns the answer; throws std::runtime_error when the card answers with an error.
    std::string Control(const std::string& line);

    void Remove();  // the card leaves the reader; returns once PC/SC shows it empty
    void Insert();  // back in; returns once PC/SC shows a card

    // The private image; UPDATE BINARY writes land here.
    const std::filesystem::path& ImagePath() const { return image_; }

  private:
    void StartEmulator(const std::vector<std::string>& args);
    void StopEmulator() noexcept;
    std::vector<std::string> LogLines() const;

    int lockFd_ = -1;
    int slot_ = -1;
    std::string reader_;
    std::filesystem::path dir_;
    std::filesystem::path image_;
    std::filesystem::path log_;
    std::filesystem::path control_;
    pid_t pid_ = -1;
    std::size_t logSkip_ = 0;
};

// Waits until the reader shows a card (present = true) or none; false after the timeout.
bool WaitForCard(const std::string& reader, bool present, double timeoutSeconds = 10);

// The bench's authentication rule, as `carvix-vcard respond` computes it.
std::vector<std::uint8_t> AuthResponse(const std::vector<std::uint8_t>& key,
                                       const std::vector<std::uint8_t>& challenge);

std::string Hex(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> Unhex(const std::string& text);  // spaces allowed

}  // namespace carvix::bench
