#include "framing.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace carvix::bridge {
namespace {

// Reads exactly `size` bytes; the count actually read (less only at end of stream), or -1.
long ReadFully(int fd, char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n == 0) {
            break;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}

bool WriteFully(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

ReadStatus ReadFrame(int fd, std::string& message, std::size_t limit) {
    message.clear();
    char prefix[4];
    const long got = ReadFully(fd, prefix, sizeof prefix);
    if (got < 0) {
        return ReadStatus::Failed;
    }
    if (got == 0) {
        return ReadStatus::End;
    }
    if (got < 4) {
        return ReadStatus::Truncated;
    }
    std::uint32_t length = 0;
    std::memcpy(&length, prefix, sizeof length);  // native byte order, as the browser writes
    if (length > limit) {
        return ReadStatus::TooLarge;
    }
    message.resize(length);
    const long body = ReadFully(fd, message.data(), length);
    if (body < 0) {
        message.clear();
        return ReadStatus::Failed;
    }
    if (static_cast<std::size_t>(body) < length) {
        message.clear();
        return ReadStatus::Truncated;
    }
    return ReadStatus::Message;
}

bool FrameWriter::Write(std::string_view message) {
    if (message.size() > kMaxToBrowser) {
        return false;
    }
    const auto length = static_cast<std::uint32_t>(message.size());
    char prefix[4];
    std::memcpy(prefix, &length, sizeof prefix);
    const std::lock_guard hold(lock_);
    return WriteFully(fd_, prefix, sizeof prefix) &&
           WriteFully(fd_, message.data(), message.size());
}

}  // namespace carvix::bridge
