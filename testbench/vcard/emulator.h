// The running card: owns the image, the applet and transport, the link to vpcd, the
// control socket and the APDU log, and runs the event loop until asked to stop.
#pragma once

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "applet.h"
#include "faults.h"
#include "image_io.h"
#include "transport.h"
#include "vpcd_link.h"

namespace carvix::vcard {

struct EmulatorOptions {
    std::filesystem::path image;
    std::string host = "127.0.0.1";
    int port = 0x8C7B;
    std::filesystem::path apduLog;  // empty: no log
    std::filesystem::path control;  // empty: no control socket
    std::vector<Fault> faults;
    bool t1GetResponse = false;
};

class Emulator {
  public:
    explicit Emulator(EmulatorOptions options);  // loads the image; throws ImageError
    ~Emulator();

    // Serves the card until stop becomes true (set from a signal handler).
    void Run(const std::atomic<bool>& stop);

    // Executes one control-socket command and returns the answer line.
    std::string Control(const std::string& line);

  private:
    void OnMessage(const Bytes& msg);
    void Log(const Bytes& command, const Bytes* response);
    void PullOut();

    EmulatorOptions options_;
    ImageFile image_;
    Applet applet_;
    Transport transport_;
    VpcdLink link_;
    std::FILE* log_ = nullptr;
    bool inserted_ = true;
    bool powered_ = false;
};

}  // namespace carvix::vcard
