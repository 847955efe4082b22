// A bench of the program's own, for a test or benchmark binary run outside the ctest
// fixture: started by the bench program (testbench/supervisor/carvix-bench) in a fresh folder,
// watched by this process so it ends with it, and stopped and removed on destruction.
#pragma once

#include <filesystem>

namespace carvix::bench {

class OwnBench {
  public:
    explicit OwnBench(int readers);
    ~OwnBench();
    OwnBench(const OwnBench&) = delete;
    OwnBench& operator=(const OwnBench&) = delete;

    // The bench's bench.json (describes an unavailable bench when it could not start).
    std::filesystem::path Description() const { return dir_ / "bench.json"; }

  private:
    std::filesystem::path dir_;
};

}  // namespace carvix::bench
