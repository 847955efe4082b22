#include "bench_card.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "apdu.h"
#include "auth_rule.h"
#include "bench_env.h"

namespace carvix::bench {

namespace {

using Clock = std::chrono::steady_clock;

std::string ReadText(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Takes the first free slot, waiting while all are busy.
int TakeSlot(const BenchEnv& env, int& lockFd) {
    std::filesystem::create_directories(env.locks);
    const auto deadline = Clock::now() + std::chrono::minutes(5);
    while (Clock::now() < deadline) {
        for (std::size_t i = 0; i < env.slots.size(); ++i) {
            const auto path = env.locks / ("slot-" + std::to_string(i) + ".lock");
            // Read-only is enough for flock, and works on lock files other users created.
            const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
            if (fd < 0) {
                continue;
            }
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                lockFd = fd;
                return static_cast<int>(i);
            }
            ::close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    throw std::runtime_error("no free bench reader within 5 minutes");
}

std::string Ask(const std::filesystem::path& socketPath, const std::string& line) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot reach the card's control socket");
    }
    const std::string msg = line + "\n";
    ::send(fd, msg.data(), msg.size(), MSG_NOSIGNAL);
    std::string answer;
    char c;
    while (::recv(fd, &c, 1, 0) == 1 && c != '\n') {
        answer.push_back(c);
    }
    ::close(fd);
    return answer;
}

}  // namespace

BenchCard::BenchCard(const std::filesystem::path& image, std::vector<std::string> emulatorArgs) {
    const BenchEnv& env = CurrentBench();
    if (!env.ready) {
        throw std::runtime_error("the bench is not running: " + env.reason);
    }
    slot_ = TakeSlot(env, lockFd_);
    reader_ = env.slots[static_cast<std::size_t>(slot_)].reader;
    try {
        char tmpl[] = "/tmp/carvix-card.XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        dir_ = tmpl;
        image_ = dir_ / "image.json";
        log_ = dir_ / "apdu.log";
        control_ = dir_ / "control.sock";
        std::filesystem::copy_file(image, image_);
        std::ofstream(log_).close();
        std::vector<std::string> args = {VcardBinary().string(),
                                         "run",
                                         "--image",
                                         image_.string(),
                                         "--port",
                                         std::to_string(env.slots[slot_].port),
                                         "--log",
                                         log_.string(),
                                         "--control",
                                         control_.string()};
        args.insert(args.end(), emulatorArgs.begin(), emulatorArgs.end());
        StartEmulator(args);
        if (!WaitForCard(reader_, true)) {
            throw std::runtime_error("the card did not appear in " + reader_ +
                                     "; emulator said: " + ReadText(dir_ / "vcard.out"));
        }
    } catch (...) {
        StopEmulator();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        ::close(lockFd_);
        throw;
    }
}

BenchCard::~BenchCard() {
    StopEmulator();
    // The next user of this reader must not see this card as still present: pcscd notices a
    // card gone at its next look, and a test that starts before then connects to nothing.
    WaitForCard(reader_, false, 5);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    ::close(lockFd_);
}

void BenchCard::StartEmulator(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const std::string out = (dir_ / "vcard.out").string();
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        // The card goes away with the test process, however that ends.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    // Ready once the control socket answers.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("carvix-vcard exited: " + ReadText(out));
        }
        try {
            if (Ask(control_, "ping") == "ok") {
                return;
            }
        } catch (const std::runtime_error&) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    throw std::runtime_error("carvix-vcard did not start: " + ReadText(out));
}

void BenchCard::StopEmulator() noexcept {
    if (pid_ <= 0) {
        return;
    }
    ::kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    // The next user of this reader must not see this card as still present.
    WaitForCard(reader_, false, 5);
}

std::string BenchCard::Control(const std::string& line) {
    const std::string answer = Ask(control_, line);
    if (answer.rfind("ok", 0) != 0) {
        throw std::runtime_error("card control \"" + line + "\": " + answer);
    }
    return answer;
}

void BenchCard::Remove() {
    Control("remove");
    if (!WaitForCard(reader_, false)) {
        throw std::runtime_error(reader_ + " still shows a card after removal");
    }
}

void BenchCard::Insert() {
    Control("insert");
    if (!WaitForCard(reader_, true)) {
        throw std::runtime_error(reader_ + " shows no card after insertion");
    }
}

std::vector<std::string> BenchCard::LogLines() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<ApduExchange> BenchCard::ApduLog() const {
    std::vector<ApduExchange> out;
    const auto lines = LogLines();
    for (std::size_t i = logSkip_; i < lines.size(); ++i) {
        const auto sp = lines[i].find(' ');
        ApduExchange e{lines[i].substr(0, sp),
                       sp == std::string::npos ? "" : lines[i].substr(sp + 1)};
        if (e.response == "-") {
            e.response.clear();
        }
        out.push_back(e);
    }
    return out;
}

void BenchCard::ClearApduLog() {
    logSkip_ = LogLines().size();
}

bool WaitForCard(const std::string& reader, bool present, double timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
    SCARDCONTEXT ctx = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS) {
        return false;
    }
    bool reached = false;
    while (!reached && Clock::now() < deadline) {
        SCARD_READERSTATE rs{};
        rs.szReader = reader.c_str();
        rs.dwCurrentState = SCARD_STATE_UNAWARE;
        if (SCardGetStatusChange(ctx, 0, &rs, 1) == SCARD_S_SUCCESS &&
            ((rs.dwEventState & SCARD_STATE_PRESENT) != 0) == present) {
            reached = true;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    SCardReleaseContext(ctx);
    return reached;
}

std::vector<std::uint8_t> AuthResponse(const std::vector<std::uint8_t>& key,
                                       const std::vector<std::uint8_t>& challenge) {
    return vcard::ComputeAuthResponse(key, challenge);
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    return vcard::ToHex(bytes);
}
std::vector<std::uint8_t> Unhex(const std::string& text) {
    return vcard::FromHex(text);
}

}  // namespace carvix::bench
