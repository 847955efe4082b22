// Resident memory of one process over many reads and writes through CARVIX.DocAdmin and
// CARVIX.Auth on the bench: a warm-up (libraries, OpenSSL tables and the PC/SC client settle),
// then READS reads of every block of a ZK card in turn and WRITES writes of its variable
// personal data, each write with a fresh authentication. RSS is printed after the warm-up,
// at every tenth of the run, and at the end; the run fails when a call fails.
//
//   bench_growth [READS [WRITES]]  (default 10000 and 1000; starts a private bench unless
//                                   CARVIX_BENCH_DIR names a running one)
#include "bench_card.h"
#include "figures.h"
#include "use_bench.h"
#include "write_session.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using namespace carvix::writetest;
using carvix::bench::BenchCard;
using carvix::com::IZKDocumentBlock;
using carvix::com::IZKFixedAdminBlock;
using carvix::com::IZKFixedPersoBlock;
using carvix::com::IZKVariableAdminBlock;
using carvix::com::IZKVariablePersoBlock;

// VmRSS of this process in KiB, from /proc/self/status.
long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(1 << 12, '\n');
    }
    return -1;
}

template <class Block, HRESULT (IDocAdminService::*Method)(BSTR, std::uint16_t, Block**)>
HRESULT Read(IDocAdminService& service, BSTR reader) {
    Block* block = nullptr;
    const HRESULT hr = (service.*Method)(reader, 5, &block);
    if (block != nullptr) {
        block->Release();
    }
    return hr;
}

HRESULT(*const kReads[])
(IDocAdminService&, BSTR) = {
    &Read<IZKDocumentBlock, &IDocAdminService::ReadZKDocumentData>,
    &Read<IZKFixedAdminBlock, &IDocAdminService::ReadZKFixedAdminData>,
    &Read<IZKFixedPersoBlock, &IDocAdminService::ReadZKFixedPersoData>,
    &Read<IZKVariableAdminBlock, &IDocAdminService::ReadZKVariableAdminData>,
    &Read<IZKVariablePersoBlock, &IDocAdminService::ReadZKVariablePersoData>,
};

// One read of block `i % 5` with a new service object, as a script would make one.
bool OneRead(const std::string& reader, long i) {
    const Ref<IDocAdminService> service = NewDocAdmin();
    const Bstr name(reader);
    const HRESULT hr = kReads[i % 5](*service, name.get());
    if (hr != S_OK) {
        std::fprintf(stderr, "read %ld failed: 0x%08X\n", i, static_cast<unsigned>(hr));
    }
    return hr == S_OK;
}

// One write with a fresh authentication and new objects.
bool OneWrite(const std::string& reader, long i) {
    const Ref<IDocAdminService> service = NewDocAdmin();
    const Ref<IAuthenticationService> auth = NewAuth();
    HRESULT hr = Authenticate(*auth, reader, kZKVariablePerso.appId, WriterKey());
    if (hr == S_OK) {
        const std::string ascii = "Street " + std::to_string(i);
        hr = WriteText(*service, kZKVariablePerso, reader, auth.get(),
                       std::u16string(ascii.begin(), ascii.end()));
    }
    if (hr != S_OK) {
        std::fprintf(stderr, "write %ld failed: 0x%08X\n", i, static_cast<unsigned>(hr));
    }
    return hr == S_OK;
}

bool Run(long reads, long writes) {
    const InstalledSigner signer;
    BenchCard card(SampleImage("zk-full", 1));
    const std::string reader = card.ReaderName();
    // Warm-up: everything loaded once is not growth.
    for (long i = 0; i < 50; ++i) {
        if (!OneRead(reader, i) || (i % 10 == 0 && !OneWrite(reader, i))) {
            return false;
        }
    }
    const long start = RssKiB();
    const carvix::bench::Table table(24, {{"reads", 8, 0}, {"writes", 8, 0}, {"RSS KiB", 10, 0}});
    table.PrintHeader("after");
    table.PrintRow("warm-up", {0.0, 0.0, static_cast<double>(start)});
    // Reads and writes interleaved: one write after every reads/writes reads.
    const long total = reads + writes;
    long doneReads = 0;
    long doneWrites = 0;
    for (long step = 1; step <= total; ++step) {
        const bool write = writes > 0 && step % (total / writes) == 0 && doneWrites < writes;
        if (write ? !OneWrite(reader, doneWrites++) : !OneRead(reader, doneReads++)) {
            return false;
        }
        if (step % std::max(1L, total / 10) == 0) {
            table.PrintRow(std::to_string(step * 100 / total) + "%",
                           {static_cast<double>(doneReads), static_cast<double>(doneWrites),
                            static_cast<double>(RssKiB())});
        }
    }
    const long end = RssKiB();
    std::printf("growth: %ld KiB (%.1f%%) over %ld reads and %ld writes\n", end - start,
                100.0 * static_cast<double>(end - start) / static_cast<double>(start), doneReads,
                doneWrites);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const long reads = argc > 1 ? std::max(1L, std::atol(argv[1])) : 10000;
    const long writes = argc > 2 ? std::max(0L, std::atol(argv[2])) : 1000;
    const carvix::bench::UseBench bench("bench_growth", 1);
    if (!bench.Ready()) {
        return carvix::bench::kNoBench;
    }
    return Run(reads, writes) ? 0 : 1;  // an own bench stops here
}
