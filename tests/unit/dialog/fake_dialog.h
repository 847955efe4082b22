// The stand-in dialog program (fake-dialog.sh) for tests of what the module and the runtime
// send: set up for one test, it records the command lines and gives one canned answer.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace carvix::testing {

class FakeDialog {
  public:
    explicit FakeDialog(const std::string& answer)
        : record_(std::filesystem::temp_directory_path() /
                  ("carvix-fake-dialog-" + std::to_string(::getpid()) + ".txt")) {
        std::filesystem::remove(record_);
        ::setenv("CARVIX_DIALOG", "on", 1);
        ::setenv("DISPLAY", ":carvix-test", 1);
        ::setenv("CARVIX_DIALOG_PROGRAM", CARVIX_FAKE_DIALOG, 1);
        ::setenv("CARVIX_FAKE_DIALOG_RECORD", record_.c_str(), 1);
        ::setenv("CARVIX_FAKE_DIALOG_ANSWER", answer.c_str(), 1);
    }
    ~FakeDialog() {
        ::setenv("CARVIX_DIALOG", "off", 1);
        std::filesystem::remove(record_);
    }
    FakeDialog(const FakeDialog&) = delete;
    FakeDialog& operator=(const FakeDialog&) = delete;

    /// The command lines received so far, BYE included.
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::ifstream in(record_);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

  private:
    std::filesystem::path record_;
};

}  // namespace carvix::testing
