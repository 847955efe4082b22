// A Unix stream socket on which tests send one-line commands to the running card
// ("fault sw:6A82@1", "remove", "insert", ...) and read one-line answers ("ok", "error: ...").
#pragma once

#include <poll.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace carvix::vcard {

class ControlSocket {
  public:
    using Handler = std::function<std::string(const std::string& line)>;

    ControlSocket(std::filesystem::path path, Handler handler);  // throws std::runtime_error
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // The descriptors to poll for reading, and the work to do when poll returns.
    void AddPollFds(std::vector<pollfd>& fds) const;
    void OnPoll(const std::vector<pollfd>& fds);

  private:
    void Accept();
    void ReadFrom(int fd);

    std::filesystem::path path_;
    Handler handler_;
    int listenFd_ = -1;
    std::map<int, std::string> clients_;  // fd -> bytes of an unfinished line
};

}  // namespace carvix::vcard
