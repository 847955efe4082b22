#include "control_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace carvix::vcard {

ControlSocket::ControlSocket(std::filesystem::path path, Handler handler)
    : path_(std::move(path)), handler_(std::move(handler)) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path_.string().size() >= sizeof addr.sun_path) {
        throw std::runtime_error("control socket path is too long: " + path_.string());
    }
    std::strcpy(addr.sun_path, path_.c_str());
    ::unlink(path_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 4) != 0) {
        const std::string why = std::strerror(errno);
        if (listenFd_ >= 0) {
            ::close(listenFd_);
        }
        throw std::runtime_error("cannot listen on " + path_.string() + ": " + why);
    }
}

ControlSocket::~ControlSocket() {
    for (const auto& [fd, pending] : clients_) {
        ::close(fd);
    }
    ::close(listenFd_);
    ::unlink(path_.c_str());
}

void ControlSocket::AddPollFds(std::vector<pollfd>& fds) const {
    fds.push_back({listenFd_, POLLIN, 0});
    for (const auto& [fd, pending] : clients_) {
        fds.push_back({fd, POLLIN, 0});
    }
}

void ControlSocket::OnPoll(const std::vector<pollfd>& fds) {
    for (const auto& p : fds) {
        if (p.revents == 0) {
            continue;
        }
        if (p.fd == listenFd_) {
            Accept();
        } else if (clients_.contains(p.fd)) {
            ReadFrom(p.fd);
        }
    }
}

void ControlSocket::Accept() {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        clients_[fd] = {};
    }
}

void ControlSocket::ReadFrom(int fd) {
    char buf[512];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
        ::close(fd);
        clients_.erase(fd);
        return;
    }
    std::string& pending = clients_[fd];
    pending.append(buf, static_cast<std::size_t>(n));
    std::size_t eol;
    while ((eol = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::string answer = handler_(line) + "\n";
        ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    if (pending.size() > 4096) {
        ::close(fd);
        clients_.erase(fd);
    }
}

}  // namespace carvix::vcard
