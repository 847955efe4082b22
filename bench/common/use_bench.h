// The test bench a benchmark runs on: the one CARVIX_BENCH_DIR names, or else a private one
// started for the life of the object; PC/SC is pointed at its daemon.
#pragma once

#include "own_bench.h"

#include <memory>

namespace carvix::bench {

class UseBench {
  public:
    /// `program` names the benchmark in the message printed when no bench can run.
    UseBench(const char* program, int readers);

    /// Whether a bench is there; when not, the program exits with 77 (skipped).
    bool Ready() const { return ready_; }

  private:
    std::unique_ptr<OwnBench> own_;
    bool ready_ = false;
};

/// The exit status of a benchmark that found no bench.
inline constexpr int kNoBench = 77;

}  // namespace carvix::bench
