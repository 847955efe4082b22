// Two and four clients on one card, each with its own objects and PC/SC context, for a bounded
// time: they read every block of the card and write its two variable blocks. No read may fail
// its hash check or return a text no writer sent, no call may hang, and the value each block
// ends with is one whose write was reported as done.
#include "fault_sweep.h"
#include "write_session.h"

#include <gtest/gtest.h>

#include <future>
#include <map>
#include <mutex>
#include <random>
#include <set>

namespace {

using namespace carvix::writetest;
using carvix::bench::BenchCard;
using carvix::com::IZKDocumentBlock;
using carvix::com::IZKFixedAdminBlock;
using carvix::com::IZKFixedPersoBlock;
using carvix::com::IZKVariableAdminBlock;
using carvix::com::IZKVariablePersoBlock;
using namespace std::chrono_literals;

template <class Block, HRESULT (IDocAdminService::*Method)(BSTR, std::uint16_t, Block**)>
HRESULT Read(IDocAdminService& service, const std::string& reader) {
    const Bstr name(reader);
    Block* block = nullptr;
    const HRESULT hr = (service.*Method)(name.get(), 5, &block);
    if (block != nullptr) {
        block->Release();
    }
    return hr;
}

// The fixed blocks of the ZK card; the variable ones are read through write_session.
HRESULT(*const kFixedReads[])
(IDocAdminService&, const std::string&) = {
    &Read<IZKDocumentBlock, &IDocAdminService::ReadZKDocumentData>,
    &Read<IZKFixedAdminBlock, &IDocAdminService::ReadZKFixedAdminData>,
    &Read<IZKFixedPersoBlock, &IDocAdminService::ReadZKFixedPersoData>,
};
const WritableBlock* const kVariable[] = {&kZKVariableAdmin, &kZKVariablePerso};

struct Shared {
    std::mutex mutex;
    std::map<const WritableBlock*, std::set<std::u16string>> sent;       // every value tried
    std::map<const WritableBlock*, std::set<std::u16string>> confirmed;  // writes reported done
    std::vector<std::string> faults;
    int reads = 0;
    int writes = 0;

    void Fault(const std::string& what) {
        std::lock_guard lock(mutex);
        faults.push_back(what);
    }
};

void Client(int id, const std::string& reader, std::chrono::steady_clock::time_point end,
            std::mutex& authMutex, Shared& shared) {
    const Ref<IDocAdminService> service = NewDocAdmin();
    const Ref<IAuthenticationService> auth = NewAuth();
    {
        // The card keeps one challenge: two clients asking at once would spoil each other's.
        std::lock_guard lock(authMutex);
        if (const HRESULT hr = Authenticate(*auth, reader, 5, WriterKey()); hr != S_OK) {
            shared.Fault("client " + std::to_string(id) + " could not authenticate");
            return;
        }
    }
    std::mt19937 random(static_cast<unsigned>(id));
    int serial = 0;
    while (std::chrono::steady_clock::now() < end) {
        const unsigned pick = random() % 6;
        if (pick < 3) {
            if (const HRESULT hr = kFixedReads[pick](*service, reader); hr != S_OK) {
                shared.Fault("fixed read failed " + std::to_string(hr));
            }
            std::lock_guard lock(shared.mutex);
            ++shared.reads;
        } else if (pick < 5) {
            const WritableBlock& block = *kVariable[pick - 3];
            HRESULT hr = S_OK;
            const Ref<IDispatch> object = ReadBlock(*service, block, reader, &hr);
            if (object == nullptr) {
                shared.Fault(std::string(block.name) + " read failed " + std::to_string(hr));
                continue;
            }
            const std::u16string text = GetText(*object, block.property);
            std::lock_guard lock(shared.mutex);
            ++shared.reads;
            if (!shared.sent[&block].contains(text)) {
                shared.faults.push_back(std::string(block.name) + " read a text nobody wrote");
            }
        } else {
            const WritableBlock& block = *kVariable[serial % 2];
            const std::string ascii = "C" + std::to_string(id) + "-" + std::to_string(serial++);
            const std::u16string value(ascii.begin(), ascii.end());
            {
                std::lock_guard lock(shared.mutex);
                shared.sent[&block].insert(value);
            }
            const HRESULT hr = WriteText(*service, block, reader, auth.get(), value);
            std::lock_guard lock(shared.mutex);
            if (hr == S_OK) {
                shared.confirmed[&block].insert(value);
                ++shared.writes;
            } else {
                shared.faults.push_back(std::string(block.name) + " write failed " +
                                        std::to_string(hr));
            }
        }
    }
}

class ClientsOnOneCard : public ::testing::TestWithParam<int> {};

TEST_P(ClientsOnOneCard, ReadsVerifyWritesLandAndNobodyHangs) {
    QuietNotices quiet;
    InstalledSigner signer;
    BenchCard card(SampleImage("zk-full", 1));
    const std::string reader = card.ReaderName();
    Shared shared;
    {
        const Ref<IDocAdminService> service = NewDocAdmin();
        for (const WritableBlock* block : kVariable) {
            const Ref<IDispatch> object = ReadBlock(*service, *block, reader);
            ASSERT_NE(object, nullptr);
            shared.sent[block].insert(GetText(*object, block->property));
        }
    }
    const int clients = GetParam();
    std::mutex authMutex;
    const auto end = std::chrono::steady_clock::now() + 6s;
    std::vector<std::future<void>> running;
    for (int id = 0; id < clients; ++id) {
        running.push_back(std::async(std::launch::async, Client, id, std::cref(reader), end,
                                     std::ref(authMutex), std::ref(shared)));
    }
    for (auto& client : running) {
        // pcscd hands the card to one transaction at a time; a client still busy long after
        // the end holds it.
        ASSERT_EQ(client.wait_for(60s), std::future_status::ready) << "a client hangs";
    }
    std::printf("\n%d clients in 6 s: %d reads, %d writes\n", clients, shared.reads, shared.writes);
    for (const std::string& fault : shared.faults) {
        ADD_FAILURE() << fault;
    }
    EXPECT_GT(shared.writes, 0);
    const Ref<IDocAdminService> service = NewDocAdmin();
    for (const WritableBlock* block : kVariable) {
        const Ref<IDispatch> object = ReadBlock(*service, *block, reader);
        ASSERT_NE(object, nullptr);
        const std::u16string last = GetText(*object, block->property);
        EXPECT_TRUE(shared.confirmed[block].contains(last) ||
                    (shared.confirmed[block].empty() && shared.sent[block].contains(last)))
            << block->name << " ends with a value whose write was not reported as done";
    }
    const std::string check = CheckSodsWithOpenssl(card.ImagePath());
    EXPECT_EQ(check, "") << check;
}

INSTANTIATE_TEST_SUITE_P(TwoAndFour, ClientsOnOneCard, ::testing::Values(2, 4));

}  // namespace
