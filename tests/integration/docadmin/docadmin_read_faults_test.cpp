// Every read of CARVIX.DocAdmin and the card commands of CARVIX.Auth interrupted at each command
// they send: the card pulled, another client resetting it, the status words 6982, 6A82, 6700
// and 6F00, an answer one byte short and one two bytes too long. A faulted call fails or gives
// exactly what a healthy call gives, and the next call on the healthy card succeeds.
#include "carvix/support/base64.h"
#include "fault_sweep.h"
#include "write_session.h"

#include <gtest/gtest.h>

namespace {

using namespace carvix::writetest;
using carvix::bench::BenchCard;
using namespace carvix::com;

template <class Block, HRESULT (IDocAdminService::*Read)(BSTR, std::uint16_t, Block**)>
HRESULT ReadAs(IDocAdminService& service, BSTR reader, std::uint16_t appId, IDispatch** out) {
    Block* block = nullptr;
    const HRESULT hr = (service.*Read)(reader, appId, &block);
    *out = block;  // block interfaces are dual: their IDispatch comes first
    return hr;
}

struct ReadMethod {
    const char* name;
    const char* card;
    std::uint16_t appId;
    const char16_t* property;  // a text the healthy and the faulted read must agree on
    HRESULT (*read)(IDocAdminService&, BSTR, std::uint16_t, IDispatch**);
};

const ReadMethod kReads[] = {
    {"ReadVLDocumentData", "vl-full", 1, u"CardID",
     &ReadAs<IVLDocumentBlock, &IDocAdminService::ReadVLDocumentData>},
    {"ReadVLFixedPersoData", "vl-full", 1, u"LastName",
     &ReadAs<IVLFixedPersoBlock, &IDocAdminService::ReadVLFixedPersoData>},
    {"ReadVLPhotoData", "vl-full", 1, u"Photo",
     &ReadAs<IVLPhotoBlock, &IDocAdminService::ReadVLPhotoData>},
    {"ReadVLVariablePersoData", "vl-full", 1, u"OrgUnit",
     &ReadAs<IVLVariablePersoBlock, &IDocAdminService::ReadVLVariablePersoData>},
    {"ReadZKDocumentData", "zk-full", 5, u"CardID",
     &ReadAs<IZKDocumentBlock, &IDocAdminService::ReadZKDocumentData>},
    {"ReadZKFixedAdminData", "zk-full", 5, u"InsurantNumber",
     &ReadAs<IZKFixedAdminBlock, &IDocAdminService::ReadZKFixedAdminData>},
    {"ReadZKFixedPersoData", "zk-full", 5, u"LastName",
     &ReadAs<IZKFixedPersoBlock, &IDocAdminService::ReadZKFixedPersoData>},
    {"ReadZKVariableAdminData", "zk-full", 5, u"InsurerName",
     &ReadAs<IZKVariableAdminBlock, &IDocAdminService::ReadZKVariableAdminData>},
    {"ReadZKVariablePersoData", "zk-full", 5, u"Street",
     &ReadAs<IZKVariablePersoBlock, &IDocAdminService::ReadZKVariablePersoData>},
};

// The text of a block read through `method`, or an empty optional-like marker on failure.
HRESULT ReadText(IDocAdminService& service, const ReadMethod& method, const std::string& reader,
                 std::u16string* text) {
    const Bstr name(reader);
    IDispatch* object = nullptr;
    const HRESULT hr = method.read(service, name.get(), method.appId, &object);
    if (FAILED(hr)) {
        EXPECT_EQ(object, nullptr) << method.name << " failed but handed out an object";
        return hr;
    }
    if (object == nullptr) {
        return E_POINTER;  // S_OK without a block counts as wrong
    }
    *text = GetText(*object, method.property);
    object->Release();
    return hr;
}

std::vector<SweepRow> SweepReads(const std::string& stem, int protocol) {
    std::vector<SweepRow> rows;
    BenchCard card(SampleImage(stem, protocol));
    const Ref<IDocAdminService> service = NewDocAdmin();
    for (const ReadMethod& method : kReads) {
        if (method.card != stem) {
            continue;
        }
        std::u16string healthy;
        EXPECT_EQ(ReadText(*service, method, card.ReaderName(), &healthy), S_OK) << method.name;
        const SweptOperation op{method.name, nullptr, [&](bool* same) {
                                    std::u16string text;
                                    const HRESULT hr =
                                        ReadText(*service, method, card.ReaderName(), &text);
                                    *same = text == healthy;
                                    return hr;
                                }};
        rows.push_back(Sweep(card, op));
    }
    return rows;
}

TEST(ReadFaultSweep, EveryReadFailsHonestlyAtEveryCommandAndLeavesTheCardFree) {
    QuietNotices quiet;
    std::vector<SweepRow> rows = SweepReads("vl-full", 1);
    for (SweepRow& row : SweepReads("zk-full", 0)) {
        rows.push_back(row);
    }
    PrintSweepTable("The reads, a fault at each command (VL on T=1, ZK on T=0):", rows);
    for (const SweepRow& row : rows) {
        EXPECT_EQ(row.wrong, 0u) << row.operation;
        EXPECT_EQ(row.stuck, 0u) << row.operation;
        EXPECT_EQ(row.failed + row.intact, row.faults) << row.operation;
    }
}

// CARVIX.Auth: GetChallenge, ExternalAuthenticate and Logout (Init only connects), each set up
// by a fresh object. The faulted object stays alive until the next round, so whatever it held would
// stall the healthy call that follows.
TEST(AuthFaultSweep, EveryAuthenticationCommandFailsHonestlyAndLeavesTheCardFree) {
    QuietNotices quiet;
    BenchCard card(SampleImage("vl-full", 0));
    const std::string reader = card.ReaderName();
    Ref<IAuthenticationService> auth;
    Ref<IAuthenticationService> previous;
    std::vector<std::uint8_t> challenge;
    const auto fresh = [&] {
        previous = std::move(auth);
        auth = NewAuth();
    };
    const auto init = [&] {
        const Bstr name(reader);
        return auth->Init(name.get(), kVLVariablePerso.appId);
    };
    const auto getChallenge = [&](std::vector<std::uint8_t>* out) {
        BSTR text = nullptr;
        const HRESULT hr = auth->GetChallenge(&text);
        if (SUCCEEDED(hr)) {
            const auto bytes = Orvel::FromBase64(std::u16string(text, SysStringLen(text)));
            out->assign(bytes.begin(), bytes.end());
        }
        SysFreeString(text);
        return hr;
    };
    const auto authenticate = [&] {
        const auto response = carvix::bench::AuthResponse(WriterKey(), challenge);
        const Bstr text(Orvel::ToBase64(response));
        return auth->ExternalAuthenticate(kWriterRole, text.get());
    };

    std::vector<SweepRow> rows;
    rows.push_back(Sweep(card, {"Auth.GetChallenge",
                                [&] {
                                    fresh();
                                    return init();
                                },
                                [&](bool* same) {
                                    std::vector<std::uint8_t> got;
                                    const HRESULT hr = getChallenge(&got);
                                    *same = got.size() == 8;
                                    return hr;
                                }}));
    rows.push_back(Sweep(card, {"Auth.ExternalAuthenticate",
                                [&] {
                                    fresh();
                                    const HRESULT hr = init();
                                    return FAILED(hr) ? hr : getChallenge(&challenge);
                                },
                                [&](bool* same) {
                                    *same = true;
                                    return authenticate();
                                }}));
    rows.push_back(Sweep(card, {"Auth.Logout",
                                [&] {
                                    fresh();
                                    return Authenticate(*auth, reader, kVLVariablePerso.appId,
                                                        WriterKey());
                                },
                                [&](bool* same) {
                                    *same = true;
                                    return auth->Logout(kWriterRole);
                                }}));
    auth.reset();
    previous.reset();
    PrintSweepTable("CARVIX.Auth on T=0, a fault at each command:", rows);
    for (const SweepRow& row : rows) {
        EXPECT_EQ(row.stuck, 0u) << row.operation;
        EXPECT_EQ(row.failed + row.intact, row.faults) << row.operation;
    }
}

}  // namespace
