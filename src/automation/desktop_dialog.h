// The desktop dialog program (carvix-dialog) as the runtime sees it: whether it is to be
// used, and one running copy spoken to over a socket pair with the line protocol of
// tools/dialog/PROTOCOL.md.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace carvix::automation {

/// Turns the desktop dialogs on or off for the process (CarvixSetDesktopDialogs).
void SetDesktopDialogsEnabled(bool enabled) noexcept;

/// The program to start: CARVIX_DIALOG_PROGRAM, else the installed one. Empty when the
/// dialogs are off (CarvixSetDesktopDialogs(0), CARVIX_DIALOG=off), no graphical session is
/// present (neither WAYLAND_DISPLAY nor DISPLAY is set) or the program is not executable.
std::string DesktopDialogProgram();

/// One running dialog program. Destroying it ends the program.
class DialogProcess {
  public:
    /// Starts `program` and reads its greeting; null when either fails.
    static std::unique_ptr<DialogProcess> Start(const std::string& program);
    /// Starts the program DesktopDialogProgram() names; null when there is none or it fails.
    static std::unique_ptr<DialogProcess> StartWanted();

    ~DialogProcess();
    DialogProcess(const DialogProcess&) = delete;
    DialogProcess& operator=(const DialogProcess&) = delete;

    /// Writes one command line; false when the program is gone.
    bool Send(const std::vector<std::string>& fields);

    enum class Got { kLine, kTimeout, kGone };
    /// Reads one reply line into `fields`, waiting at most `timeoutMs` (negative: as long as
    /// it takes). A malformed or overlong line counts as the program being gone.
    Got Read(int timeoutMs, std::vector<std::string>& fields);

    /// Send, then Read without a time limit: the reply, or none when the program is gone.
    std::optional<std::vector<std::string>> Ask(const std::vector<std::string>& fields);

    /// Overwrites what was read so far (a reply may have carried a PIN).
    void WipeInput() noexcept;

  private:
    DialogProcess(pid_t pid, int fd) : pid_(pid), fd_(fd) {}

    pid_t pid_;
    int fd_;
    std::string pending_;  // bytes read past the last line end
    bool gone_ = false;
};

}  // namespace carvix::automation
