// Frames as the browser writes them: split across reads, empty, cut off, oversized both ways.
#include "framing.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

namespace carvix::bridge {
namespace {

std::string Prefix(std::uint32_t length) {
    std::string p(4, '\0');
    std::memcpy(p.data(), &length, 4);
    return p;
}

class Pipe {
  public:
    Pipe() { EXPECT_EQ(::pipe2(fds_, O_CLOEXEC), 0); }
    ~Pipe() {
        CloseWrite();
        ::close(fds_[0]);
    }
    int Read() const { return fds_[0]; }
    int Write() const { return fds_[1]; }
    void Put(const std::string& bytes) {
        ASSERT_EQ(::write(fds_[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void CloseWrite() {
        if (fds_[1] >= 0) {
            ::close(fds_[1]);
            fds_[1] = -1;
        }
    }

  private:
    int fds_[2] = {-1, -1};
};

TEST(Framing, MessagesSplitAcrossReadsArriveWhole) {
    Pipe pipe;
    const std::string body = R"({"id":1,"op":"hello"})";
    const std::string wire = Prefix(static_cast<std::uint32_t>(body.size())) + body;
    std::thread writer([&] {
        // One byte at a time, with pauses: every read returns a piece.
        for (char c : wire) {
            pipe.Put(std::string(1, c));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        pipe.CloseWrite();
    });
    std::string message;
    EXPECT_EQ(ReadFrame(pipe.Read(), message), ReadStatus::Message);
    EXPECT_EQ(message, body);
    EXPECT_EQ(ReadFrame(pipe.Read(), message), ReadStatus::End);
    writer.join();
}

TEST(Framing, ZeroLengthIsAnEmptyMessageAndStreamEndsAreTold) {
    Pipe pipe;
    pipe.Put(Prefix(0) + Prefix(2) + "{}");
    pipe.Put(std::string("\x05\x00", 2));  // half a length
    pipe.CloseWrite();
    std::string message = "stale";
    EXPECT_EQ(ReadFrame(pipe.Read(), message), ReadStatus::Message);
    EXPECT_EQ(message, "");
    EXPECT_EQ(ReadFrame(pipe.Read(), message), ReadStatus::Message);
    EXPECT_EQ(message, "{}");
    EXPECT_EQ(ReadFrame(pipe.Read(), message), ReadStatus::Truncated);
}

TEST(Framing, AMessageCutOffInsideItsBodyIsTruncated) {
    Pipe pipe;
    pipe.Put(Prefix(10) + "{\"id\"");
    pipe.CloseWrite();
    std::string message;
    EXPECT_EQ(ReadFrame(pipe.Read(), message), ReadStatus::Truncated);
    EXPECT_TRUE(message.empty());
}

TEST(Framing, OversizedIncomingLengthIsRefusedWithoutReadingTheBody) {
    Pipe pipe;
    pipe.Put(Prefix(static_cast<std::uint32_t>(kMaxFromBrowser + 1)));
    std::string message;
    EXPECT_EQ(ReadFrame(pipe.Read(), message), ReadStatus::TooLarge);
    pipe.Put(Prefix(0xFFFFFFFFu));
    EXPECT_EQ(ReadFrame(pipe.Read(), message), ReadStatus::TooLarge);
    // Exactly at a limit is fine.
    pipe.Put(Prefix(3) + "abc");
    EXPECT_EQ(ReadFrame(pipe.Read(), message, 3), ReadStatus::Message);
}

TEST(Framing, WriterFramesMessagesAndRefusesMoreThanTheBrowserAccepts) {
    Pipe pipe;
    ::fcntl(pipe.Write(), F_SETPIPE_SZ, 4 * 1024 * 1024);
    FrameWriter writer(pipe.Write());
    EXPECT_TRUE(writer.Write("{\"ok\":true}"));
    EXPECT_FALSE(writer.Write(std::string(kMaxToBrowser + 1, 'x')));
    EXPECT_TRUE(writer.Write(""));
    pipe.CloseWrite();
    std::string message;
    ASSERT_EQ(ReadFrame(pipe.Read(), message), ReadStatus::Message);
    EXPECT_EQ(message, "{\"ok\":true}");
    ASSERT_EQ(ReadFrame(pipe.Read(), message), ReadStatus::Message);
    EXPECT_EQ(message, "");  // nothing of the refused message went out
    EXPECT_EQ(ReadFrame(pipe.Read(), message), ReadStatus::End);
}

TEST(Framing, WritingToAClosedPortFails) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    ::signal(SIGPIPE, SIG_IGN);
    ::close(fds[0]);
    FrameWriter writer(fds[1]);
    EXPECT_FALSE(writer.Write("{}"));
    ::close(fds[1]);
}

}  // namespace
}  // namespace carvix::bridge
