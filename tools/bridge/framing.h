// The browser's framing of native messages: a 32-bit length in native byte order, then that
// many bytes of UTF-8 JSON. Reads survive partial reads and interrupted calls; writes are
// serialised so that prompts from a hook and responses never interleave.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>

namespace carvix::bridge {

/// The most the browser accepts from a host in one message.
inline constexpr std::size_t kMaxToBrowser = 1024 * 1024;
/// The most the host accepts from the browser; more is a broken or hostile peer.
inline constexpr std::size_t kMaxFromBrowser = 4 * 1024 * 1024;

enum class ReadStatus {
    Message,    // `message` holds one whole message (possibly empty)
    End,        // the port closed cleanly between messages
    Truncated,  // the stream ended inside a length or a message
    TooLarge,   // the length exceeds the limit; the body was not read
    Failed,     // the read itself failed
};

/// Reads one message from `fd` into `message`.
ReadStatus ReadFrame(int fd, std::string& message, std::size_t limit = kMaxFromBrowser);

/// Writes whole frames to one descriptor, one writer at a time.
class FrameWriter {
  public:
    explicit FrameWriter(int fd) : fd_(fd) {}
    /// False when the message exceeds `kMaxToBrowser` (nothing is written) or the write
    /// failed (the browser went away).
    bool Write(std::string_view message);

  private:
    int fd_;
    std::mutex lock_;
};

}  // namespace carvix::bridge
