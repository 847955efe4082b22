// ListReaders against the bench's pcscd: the bench readers are listed, with and without a
// card in them.
#include "bench_card.h"
#include "carvix/automation/oleauto.h"
#include "smartcard/smartcard_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using carvix::bench::BenchCard;
using carvix::bench::CurrentBench;
using carvix::bench::SampleCard;

std::vector<std::string> Listed() {
    void* p = nullptr;
    EXPECT_EQ(carvix::com::Create<carvix::com::SmartCardService>(
                  nullptr, carvix::com::ISmartCardService::kIid, &p),
              S_OK);
    auto* service = static_cast<carvix::com::ISmartCardService*>(p);
    VARIANT list;
    VariantInit(&list);
    EXPECT_EQ(service->ListReaders(&list), S_OK);
    service->Release();
    std::vector<std::string> names;
    EXPECT_EQ(list.vt, VT_ARRAY | VT_VARIANT);
    std::int32_t lower = -1;
    std::int32_t upper = -1;
    SafeArrayGetLBound(list.parray, 1, &lower);
    SafeArrayGetUBound(list.parray, 1, &upper);
    EXPECT_EQ(lower, 0);
    for (std::int32_t i = lower; i <= upper; ++i) {
        VARIANT name;
        VariantInit(&name);
        SafeArrayGetElement(list.parray, &i, &name);
        EXPECT_EQ(name.vt, VT_BSTR);
        std::string text;
        for (std::uint32_t k = 0; k < SysStringLen(name.bstrVal); ++k) {
            text.push_back(static_cast<char>(name.bstrVal[k]));  // bench names are ASCII
        }
        names.push_back(text);
        VariantClear(&name);
    }
    VariantClear(&list);
    return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(BenchReaders, EveryBenchReaderIsListedWithOrWithoutACard) {
    const std::vector<std::string> before = Listed();
    for (const auto& slot : CurrentBench().slots) {
        EXPECT_TRUE(Contains(before, slot.reader)) << slot.reader;
    }
    BenchCard card(SampleCard("sample-t1.json"));
    const std::vector<std::string> with = Listed();
    EXPECT_TRUE(Contains(with, card.ReaderName()));
    EXPECT_EQ(with.size(), before.size()) << "a card does not add or remove a reader";
}

}  // namespace
