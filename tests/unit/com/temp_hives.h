// Points both registry hives at a fresh temporary folder for the life of a test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

class TempHives {
  public:
    TempHives() {
        std::string templ =
            (std::filesystem::temp_directory_path() / "carvix-hive-XXXXXX").string();
        root_ = ::mkdtemp(templ.data());
        ::setenv("HOME", root_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        ::setenv("XDG_CONFIG_DIRS", (root_ / "system").c_str(), 1);
    }
    ~TempHives() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempHives(const TempHives&) = delete;
    TempHives& operator=(const TempHives&) = delete;
    const std::filesystem::path& Root() const { return root_; }

  private:
    std::filesystem::path root_;
};
