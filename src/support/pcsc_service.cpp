#include "carvix/support/pcsc_service.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace Orvel::PCSC {
namespace {

enum class SocketState { Missing, NotListening, Answers };

SocketState Probe(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
        return SocketState::Missing;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return SocketState::Missing;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return SocketState::Answers;  // nothing to tell from here
    }
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    ::close(fd);
    if (rc != 0 && (error == ECONNREFUSED || error == ENOENT)) {
        return SocketState::NotListening;
    }
    return SocketState::Answers;
}

}  // namespace

std::string ServiceSocketPath() {
    const char* named = std::getenv("PCSCLITE_CSOCK_NAME");
    return named != nullptr && *named != '\0' ? named : "/run/pcscd/pcscd.comm";
}

std::string ServiceFailureText() {
    const std::string path = ServiceSocketPath();
    switch (Probe(path)) {
        case SocketState::Missing:
            return "The smart-card service pcscd is not running, and no socket starts it on "
                   "demand (" +
                   path +
                   " does not exist). Install the pcscd package and enable its socket: "
                   "sudo systemctl enable --now pcscd.socket. A pcscd started by hand with "
                   "--auto-exit ends after a while of idleness and only the socket brings it "
                   "back.";
        case SocketState::NotListening:
            return "The smart-card service pcscd has stopped and nothing answers on " + path +
                   ". Start it again: sudo systemctl restart pcscd.socket (or pcscd.service).";
        case SocketState::Answers:
            break;
    }
    return "The smart-card service pcscd refused this program (it answers on " + path +
           " but closed the connection). pcscd lets only users of an active local session use "
           "smart cards (polkit action org.debian.pcsc-lite.access_pcsc): run the program in "
           "your desktop session, or ask the administrator for a polkit rule that allows this "
           "user.";
}

}  // namespace Orvel::PCSC
