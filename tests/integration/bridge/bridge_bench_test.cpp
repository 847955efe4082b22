// carvix-bridge as the browser runs it: a child process spoken to in length-prefixed JSON on
// its standard input and output, with the module registered in a throw-away profile and the
// sample cards on the bench.
#include "bench_card.h"
#include "cli_run.h"
#include "jpeg_image.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

using carvix::bench::BenchCard;
using carvix::bench::ProfileRoot;
using carvix::bench::ReadFile;
using nlohmann::json;
namespace fs = std::filesystem;

constexpr const char* kOrigin = "https://id.example.org";
constexpr const char* kReadOnlyOrigin = "https://reader.example.org";

class Profile : public ::testing::Environment {
  public:
    void SetUp() override {
        carvix::bench::UseFreshProfile();
        const fs::path list = ProfileRoot() / "allowed-origins";
        std::ofstream(list) << "# the test's pages\n"
                            << kOrigin << " read write select\n"
                            << kReadOnlyOrigin << " read\n";
        ::chmod(list.c_str(), 0644);
        ::setenv("CARVIX_BRIDGE_ORIGINS", list.c_str(), 1);
    }
    void TearDown() override { carvix::bench::RemoveProfile(); }
};

const auto* const kProfile = ::testing::AddGlobalTestEnvironment(new Profile);

// One carvix-bridge process, as one browser port.
class Bridge {
  public:
    Bridge() {
        int in[2];
        int out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const std::string err = (ProfileRoot() / "bridge-stderr.txt").string();
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        char program[] = CARVIX_BRIDGE;
        char origin[] = "chrome-extension://bmbdgmleddgonpgphgpbffkedkdjbdga/";
        char* argv[] = {program, origin, nullptr};
        if (::posix_spawn(&pid_, CARVIX_BRIDGE, &actions, nullptr, argv, environ) != 0) {
            throw std::runtime_error("cannot start carvix-bridge");
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~Bridge() {
        CloseInput();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(from_);
    }

    void SendRaw(const std::string& body) {
        const auto length = static_cast<std::uint32_t>(body.size());
        std::string frame(4, '\0');
        std::memcpy(frame.data(), &length, 4);
        frame += body;
        ASSERT_EQ(::write(to_, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    }
    void SendLength(std::uint32_t length) { ASSERT_EQ(::write(to_, &length, 4), 4); }
    void Send(json message) {
        if (!message.contains("origin")) {
            message["origin"] = kOrigin;
        }
        SendRaw(message.dump());
    }
    // The next message; null after `seconds` without one or at the end of the stream.
    json Receive(double seconds = 30) {
        char prefix[4];
        if (!ReadExactly(prefix, 4, seconds)) {
            return nullptr;
        }
        std::uint32_t length = 0;
        std::memcpy(&length, prefix, 4);
        std::string body(length, '\0');
        if (!ReadExactly(body.data(), length, seconds)) {
            return nullptr;
        }
        return json::parse(body);
    }
    json Request(json message) {
        Send(std::move(message));
        return Receive();
    }
    void CloseInput() {
        if (to_ >= 0) {
            ::close(to_);
            to_ = -1;
        }
    }
    // The exit status, or -1 when the process is still running after `seconds`.
    int WaitForExit(double seconds = 15) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            ::usleep(20000);
        }
        return -1;
    }

  private:
    bool ReadExactly(char* data, std::size_t size, double seconds) {
        std::size_t done = 0;
        while (done < size) {
            pollfd p{from_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(seconds * 1000)) <= 0) {
                return false;
            }
            const ssize_t n = ::read(from_, data + done, size - done);
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
};

fs::path Image(const std::string& card, int protocol) {
    return fs::path(CARVIX_SAMPLE_CARDS) / (card + "-t" + std::to_string(protocol) + ".json");
}

json Perso(const std::string& card) {
    std::ifstream in(fs::path(CARVIX_PERSO_DIR) / (card + ".json"));
    return json::parse(in);
}

std::string Base64Decode(const std::string& text) {
    static const std::string kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        const std::size_t d = kAlphabet.find(c);
        if (d == std::string::npos) {
            continue;
        }
        value = (value << 6) | static_cast<unsigned>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

// The photo bytes a personalisation value stands for: a drawn JPEG portrait or a pattern.
std::string PhotoBytes(const json& value) {
    if (value.contains("jpeg")) {
        const auto jpeg = carvix::perso::PortraitJpeg(value["jpeg"]["width"].get<int>(),
                                                      value["jpeg"]["height"].get<int>());
        return std::string(jpeg.begin(), jpeg.end());
    }
    const std::size_t length = value["pattern"].get<std::size_t>();
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>((i * 31 + i / 256) & 0xFF);
    }
    return bytes;
}

void ExpectOk(const json& response, int id) {
    ASSERT_FALSE(response.is_null()) << "no response";
    EXPECT_EQ(response["id"], id) << response.dump();
    ASSERT_EQ(response["ok"], true) << response.dump();
}

TEST(Bridge, ReadsTheVlDocumentAndPhotoInOneRoundTripEach) {
    BenchCard card(Image("vl-full", 1));
    Bridge bridge;
    const json hello = bridge.Request({{"id", 1}, {"op", "hello"}});
    ExpectOk(hello, 1);
    EXPECT_EQ(hello["result"]["host"], "carvix-bridge");

    const json admin = bridge.Request({{"id", 2}, {"op", "create"}, {"progId", "CARVIX.DocAdmin"}});
    ExpectOk(admin, 2);
    const json& service = admin["result"];
    EXPECT_EQ(service["type"], "IDocAdminService");
    EXPECT_NE(std::find(service["methods"].begin(), service["methods"].end(), "ReadVLDocumentData"),
              service["methods"].end());
    EXPECT_FALSE(service.contains("snapshot")) << "a service is no block";

    const json doc = bridge.Request({{"id", 3},
                                     {"op", "call"},
                                     {"handle", service["$object"]},
                                     {"name", "ReadVLDocumentData"},
                                     {"args", {card.ReaderName(), 1}}});
    ExpectOk(doc, 3);
    const json expected = Perso("vl-full")["applications"][0]["blocks"]["VLDocument"];
    const json& block = doc["result"];
    EXPECT_EQ(block["methods"], json::array());
    EXPECT_EQ(block["properties"]["CardID"], (json{{"get", true}, {"put", false}}));
    EXPECT_EQ(block["snapshot"]["CardID"], expected["CardID"]);
    EXPECT_EQ(block["snapshot"]["ChipSerialNumber"], expected["ChipSerialNumber"]);
    EXPECT_EQ(block["snapshot"]["DateOfIssue"],
              (json{{"$date", expected["DateOfIssue"].get<std::string>() + "T00:00:00"}}));

    // The handle stays usable: a property read and a release.
    const json cardId = bridge.Request(
        {{"id", 4}, {"op", "get"}, {"handle", block["$object"]}, {"name", "CardID"}});
    ExpectOk(cardId, 4);
    EXPECT_EQ(cardId["result"], expected["CardID"]);
    ExpectOk(bridge.Request({{"id", 5}, {"op", "release"}, {"handle", block["$object"]}}), 5);
    const json gone = bridge.Request(
        {{"id", 6}, {"op", "get"}, {"handle", block["$object"]}, {"name", "CardID"}});
    EXPECT_EQ(gone["ok"], false);

    const json photo = bridge.Request({{"id", 7},
                                       {"op", "call"},
                                       {"handle", service["$object"]},
                                       {"name", "ReadVLPhotoData"},
                                       {"args", {card.ReaderName(), 1}}});
    ExpectOk(photo, 7);
    EXPECT_EQ(Base64Decode(photo["result"]["snapshot"]["Photo"].get<std::string>()),
              PhotoBytes(Perso("vl-full")["applications"][0]["blocks"]["VLPhoto"]["Photo"]));

    bridge.CloseInput();
    EXPECT_EQ(bridge.WaitForExit(), 0);
}

TEST(Bridge, ListsReadersAndReportsFailuresWithTheirHresult) {
    BenchCard card(Image("vl-full", 0));
    Bridge bridge;
    const json smartCard =
        bridge.Request({{"id", 1}, {"op", "create"}, {"progId", "CARVIX.SmartCard"}});
    ExpectOk(smartCard, 1);
    const json readers = bridge.Request({{"id", 2},
                                         {"op", "call"},
                                         {"handle", smartCard["result"]["$object"]},
                                         {"name", "ListReaders"}});
    ExpectOk(readers, 2);
    EXPECT_NE(std::find(readers["result"].begin(), readers["result"].end(), card.ReaderName()),
              readers["result"].end());

    const json admin = bridge.Request({{"id", 3}, {"op", "create"}, {"progId", "CARVIX.DocAdmin"}});
    // The VL card has no application 5: the card's status word comes back as the member's
    // own HRESULT with the module's text.
    const json failed = bridge.Request({{"id", 4},
                                        {"op", "call"},
                                        {"handle", admin["result"]["$object"]},
                                        {"name", "ReadZKDocumentData"},
                                        {"args", {card.ReaderName(), 5}}});
    ASSERT_EQ(failed["ok"], false) << failed.dump();
    EXPECT_EQ(failed["id"], 4);
    const auto hr = failed["error"]["hresult"].get<std::uint32_t>();
    EXPECT_GE(hr, 0x80000000u);
    EXPECT_NE(hr, 0x80020009u) << "the member's own code, not DISP_E_EXCEPTION";
    EXPECT_FALSE(failed["error"]["message"].get<std::string>().empty());

    const json unknown =
        bridge.Request({{"id", 5}, {"op", "create"}, {"progId", "CARVIX.NoSuchClass"}});
    EXPECT_EQ(unknown["ok"], false);
    const json wrongArgs = bridge.Request({{"id", 6},
                                           {"op", "call"},
                                           {"handle", admin["result"]["$object"]},
                                           {"name", "ReadVLDocumentData"},
                                           {"args", json::array({"x"})}});
    EXPECT_EQ(wrongArgs["error"]["hresult"], 0x8002000Eu);  // DISP_E_BADPARAMCOUNT
}

// An origin granted reading only: the module's own objects and type information decide what
// a request needs, whatever case the page writes a name in.
TEST(Bridge, RefusesWhatTheOriginWasNotGranted) {
    Bridge bridge;
    const auto request = [&bridge](json message) {
        message["origin"] = kReadOnlyOrigin;
        return bridge.Request(std::move(message));
    };
    const json admin = request({{"id", 1}, {"op", "create"}, {"progId", "CARVIX.DocAdmin"}});
    ExpectOk(admin, 1);
    const json handle = admin["result"]["$object"];
    for (const char* name : {"WriteVLVariablePersoData", "writevlvariablepersodata"}) {
        const json write = request({{"id", 2},
                                    {"op", "call"},
                                    {"handle", handle},
                                    {"name", name},
                                    {"args", json::array({nullptr, nullptr, ""})}});
        EXPECT_EQ(write["error"]["hresult"], 0x80070005u) << write.dump();
        EXPECT_EQ(write["error"]["message"],
                  std::string("The page ") + kReadOnlyOrigin +
                      " is not allowed to change data on the card (capability \"write\").");
        // Asked as a property, the method needs the same.
        const json asGet = request({{"id", 3}, {"op", "get"}, {"handle", handle}, {"name", name}});
        EXPECT_EQ(asGet["error"]["hresult"], 0x80070005u) << asGet.dump();
    }
    const json pki = request({{"id", 4}, {"op", "create"}, {"progId", "carvix.pki"}});
    EXPECT_NE(pki["error"]["message"].get<std::string>().find("(capability \"pki\")"),
              std::string::npos)
        << pki.dump();
    // A name the object does not have fails as unknown, not as refused.
    const json unknown =
        request({{"id", 5}, {"op", "call"}, {"handle", handle}, {"name", "NoSuchMember"}});
    EXPECT_EQ(unknown["error"]["hresult"], 0x80020006u) << unknown.dump();  // DISP_E_UNKNOWNNAME
    ExpectOk(request({{"id", 6}, {"op", "release"}, {"handle", handle}}), 6);
}

TEST(Bridge, RefusesPagesOutsideTheListAndOversizedMessages) {
    Bridge bridge;
    const json refused =
        bridge.Request({{"id", 1}, {"op", "hello"}, {"origin", "https://evil.example"}});
    EXPECT_EQ(refused["ok"], false);
    EXPECT_EQ(refused["error"]["hresult"], 0x80070005u);
    EXPECT_EQ(refused["error"]["message"],
              "The page https://evil.example is not allowed to use carvix-qx.");
    const json policy = bridge.Request({{"op", "policy"}, {"origin", nullptr}});
    EXPECT_EQ(policy,
              (json{{"origins", {kOrigin, kReadOnlyOrigin}},
                    {"capabilities",
                     {{kOrigin, {"read", "write", "select"}}, {kReadOnlyOrigin, {"read"}}}}}));

    // An empty message is malformed; a length beyond the host's limit is a broken stream:
    // answered, then the end, without waiting for 64 MiB that never come.
    bridge.SendRaw(std::string());
    const json empty = bridge.Receive();
    EXPECT_EQ(empty["id"], nullptr);
    EXPECT_EQ(empty["error"]["hresult"], 0x80070057u);
    bridge.SendLength(64u * 1024 * 1024);
    const json tooLarge = bridge.Receive();
    EXPECT_EQ(tooLarge["error"]["hresult"], 0x80070057u) << tooLarge.dump();
    EXPECT_EQ(bridge.WaitForExit(), 1);
}

TEST(Bridge, TheReaderChooserIsAskedInThePageAndClosingThePortFreesTheCard) {
    BenchCard first(Image("vl-full", 1));
    BenchCard second(Image("vl-minimal", 0));
    {
        Bridge bridge;
        const json smartCard =
            bridge.Request({{"id", 1}, {"op", "create"}, {"progId", "CARVIX.SmartCard"}});
        bridge.Send({{"id", 2},
                     {"op", "call"},
                     {"handle", smartCard["result"]["$object"]},
                     {"name", "SelectReader"}});
        const json prompt = bridge.Receive();
        ASSERT_EQ(prompt["kind"], "reader") << prompt.dump();
        const json& readers = prompt["readers"];
        std::size_t index = readers.size();
        for (std::size_t i = 0; i < readers.size(); ++i) {
            if (readers[i]["name"] == second.ReaderName()) {
                index = i;
            }
        }
        ASSERT_LT(index, readers.size()) << prompt.dump();
        EXPECT_FALSE(readers[index]["atr"].get<std::string>().empty());
        bridge.Send({{"op", "answer"}, {"prompt", prompt["prompt"]}, {"index", index}});
        const json picked = bridge.Receive();
        ExpectOk(picked, 2);
        EXPECT_EQ(picked["result"], second.ReaderName());

        // Asked again, and the page goes away while the question is open.
        bridge.Send({{"id", 3},
                     {"op", "call"},
                     {"handle", smartCard["result"]["$object"]},
                     {"name", "SelectReader"}});
        ASSERT_EQ(bridge.Receive()["kind"], "reader");
        bridge.CloseInput();
        EXPECT_EQ(bridge.WaitForExit(), 0) << "a closed port cancels the open question";
    }
    // An authentication service keeps its card connection; the port closing in the middle
    // releases it, and the next page can use the card.
    {
        Bridge bridge;
        const json auth = bridge.Request({{"id", 1}, {"op", "create"}, {"progId", "CARVIX.Auth"}});
        ExpectOk(auth, 1);
        const json admin =
            bridge.Request({{"id", 2}, {"op", "create"}, {"progId", "CARVIX.DocAdmin"}});
        bridge.Send({{"id", 3},
                     {"op", "call"},
                     {"handle", admin["result"]["$object"]},
                     {"name", "ReadVLPhotoData"},
                     {"args", {first.ReaderName(), 1}}});
        bridge.CloseInput();  // before the answer
        EXPECT_EQ(bridge.WaitForExit(), 0);
    }
    Bridge next;
    const json admin = next.Request({{"id", 1}, {"op", "create"}, {"progId", "CARVIX.DocAdmin"}});
    const json doc = next.Request({{"id", 2},
                                   {"op", "call"},
                                   {"handle", admin["result"]["$object"]},
                                   {"name", "ReadVLDocumentData"},
                                   {"args", {first.ReaderName(), 1}}});
    ExpectOk(doc, 2);
}

TEST(Bridge, ACancelEndsTheReaderChoiceAndAQueuedRequestNeverRuns) {
    // Two cards: with one the chooser does not ask.
    BenchCard first(Image("vl-full", 1));
    BenchCard second(Image("vl-minimal", 0));
    Bridge bridge;
    const json smartCard =
        bridge.Request({{"id", 1}, {"op", "create"}, {"progId", "CARVIX.SmartCard"}});
    ExpectOk(smartCard, 1);
    const json handle = smartCard["result"]["$object"];
    bridge.Send({{"id", 2}, {"op", "call"}, {"handle", handle}, {"name", "SelectReader"}});
    ASSERT_EQ(bridge.Receive()["kind"], "reader");
    // Queued behind the open question, then cancelled: releasing the object must not happen.
    bridge.Send({{"id", 3}, {"op", "release"}, {"handle", handle}});
    bridge.Send({{"op", "cancel"}, {"request", 3}});
    bridge.Send({{"op", "cancel"}, {"request", 2}});
    const json chooser = bridge.Receive();
    EXPECT_EQ(chooser["id"], 2) << chooser.dump();
    EXPECT_EQ(chooser["ok"], false) << "the reader choice ended as cancelled";
    const json queued = bridge.Receive();
    EXPECT_EQ(queued["id"], 3) << queued.dump();
    EXPECT_EQ(queued["error"]["hresult"], 0x800704C7u) << queued.dump();
    // The object is still there, and the next request asks the user again.
    ExpectOk(
        bridge.Request({{"id", 4}, {"op", "call"}, {"handle", handle}, {"name", "ListReaders"}}),
        4);
    bridge.Send({{"id", 5}, {"op", "call"}, {"handle", handle}, {"name", "SelectReader"}});
    ASSERT_EQ(bridge.Receive()["kind"], "reader");
    // A cancel of a request already answered, or from another page, changes nothing.
    bridge.Send({{"op", "cancel"}, {"request", 4}});
    bridge.Send({{"op", "cancel"}, {"request", 5}, {"origin", "https://evil.example"}});
    bridge.Send({{"op", "cancel"}, {"request", 5}});
    EXPECT_EQ(bridge.Receive()["id"], 5);
}

}  // namespace
