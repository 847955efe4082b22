#include "carvix/automation/failures.h"

#include "carvix/support/status_words.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace carvix::automation {
namespace {

struct Row {
    std::uint32_t code;
    std::string_view name;
    std::string_view situation;
    std::string_view meaning;
    std::string_view nextStep;
};

constexpr Row kRows[] = {
#include "failure_rows.inc"
};

struct Word {
    std::uint32_t mask;
    std::uint32_t value;
    std::string_view name;
    std::string_view situation;
    std::string_view nextStep;
};

constexpr Word kWords[] = {
#include "failure_words.inc"
};

#include "failure_word_defaults.inc"

static_assert(std::is_sorted(std::begin(kRows), std::end(kRows),
                             [](const Row& a, const Row& b) { return a.code < b.code; }));

constexpr unsigned kFirstWord = 0x6000;
constexpr unsigned kWordCount = 0x1000;

// The meaning of every status word 6xxx, made once from the status-word table so that the
// explanation can hand out views that live as long as the process.
const std::array<std::string, kWordCount>& WordMeanings() {
    static const auto* meanings = [] {
        auto* all = new std::array<std::string, kWordCount>();
        for (unsigned i = 0; i < kWordCount; ++i) {
            const unsigned sw = kFirstWord + i;
            std::string text = Orvel::StatusWordMeaning(sw);
            (*all)[i] = text.empty() ? Orvel::StatusWordHex(sw) +
                                           ": a status word the card uses for its own errors"
                                     : std::move(text);
        }
        return all;
    }();
    return *meanings;
}

}  // namespace

FailureExplanation ExplainFailure(HRESULT hr) noexcept {
    const auto code = static_cast<std::uint32_t>(hr);
    const Row* row = std::lower_bound(std::begin(kRows), std::end(kRows), code,
                                      [](const Row& r, std::uint32_t c) { return r.code < c; });
    if (row != std::end(kRows) && row->code == code) {
        return {row->name, row->situation, row->meaning, row->nextStep};
    }
    const std::uint32_t sw = code & 0xFFFFu;
    const bool statusWordFacility =
        std::find(std::begin(kStatusWordFacilities), std::end(kStatusWordFacilities), code >> 16) !=
        std::end(kStatusWordFacilities);
    if (!statusWordFacility || (sw & 0xF000u) != kFirstWord) {
        return {};
    }
    std::string_view meaning;
    try {
        meaning = WordMeanings()[sw - kFirstWord];
    } catch (...) {  // out of memory on the first call: the name and next step still help
    }
    for (const Word& w : kWords) {
        if ((sw & w.mask) == w.value) {
            return {w.name, w.situation, meaning, w.nextStep};
        }
    }
    return {kStatusWordDefaultName, kStatusWordDefaultSituation, meaning, {}};
}

}  // namespace carvix::automation
