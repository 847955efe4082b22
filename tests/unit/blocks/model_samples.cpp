#include "model_samples.h"

#include "carvix/blocks/bytes_element.h"
#include "carvix/blocks/code_element.h"
#include "carvix/blocks/date_element.h"
#include "carvix/blocks/insurance_list_element.h"
#include "carvix/blocks/models.h"
#include "carvix/blocks/string_element.h"
#include "carvix/blocks/u16_list_element.h"
#include "carvix/support/text.h"

#include <sstream>

namespace carvix::test {
namespace {

template <typename Model>
ModelKind Kind(std::string name, std::size_t largestSize) {
    return ModelKind{std::move(name), Model::kBlockId, largestSize,
                     [] { return std::make_unique<Model>(); }};
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

Orvel::DateTime RandomDate(std::mt19937& random) {
    const int year = std::uniform_int_distribution<int>(1, 9999)(random);
    const int month = std::uniform_int_distribution<int>(1, 12)(random);
    const int day = std::uniform_int_distribution<int>(1, DaysInMonth(year, month))(random);
    return Orvel::DateTime(year, month, day, Orvel::DateTimeKind::Utc);
}

std::u16string RandomAscii(std::mt19937& random, std::size_t maxChars) {
    std::u16string text(std::uniform_int_distribution<std::size_t>(0, maxChars)(random), u' ');
    for (char16_t& c : text) {
        c = static_cast<char16_t>(std::uniform_int_distribution<int>(0, 0x7F)(random));
    }
    return text;
}

/// Any code units, lone surrogates included (UTF-16 values are stored unit by unit), with
/// some proper surrogate pairs.
std::u16string RandomUtf16(std::mt19937& random, std::size_t maxUnits) {
    const std::size_t units = std::uniform_int_distribution<std::size_t>(0, maxUnits)(random);
    std::u16string text;
    while (text.size() < units) {
        if (text.size() + 2 <= units && random() % 8 == 0) {
            text += u"\U0001F600";
            continue;
        }
        text += static_cast<char16_t>(random() % 0x10000);
    }
    return text;
}

/// Characters of one to four UTF-8 bytes, within `maxBytes`.
std::u16string RandomUtf8(std::mt19937& random, std::size_t maxBytes) {
    static const std::u16string kChoices[] = {u"7", u"a", u"\u0411", u"\u20AC", u"\U0001F600"};
    static constexpr std::size_t kBytes[] = {1, 1, 2, 3, 4};
    const std::size_t target = std::uniform_int_distribution<std::size_t>(0, maxBytes)(random);
    std::u16string text;
    std::size_t used = 0;
    for (int tries = 0; tries < 16 && used < target; ++tries) {
        const std::size_t pick = random() % 5;
        if (used + kBytes[pick] <= target) {
            text += kChoices[pick];
            used += kBytes[pick];
        }
    }
    return text;
}

std::u16string Repeat(char16_t c, std::size_t count) {
    return std::u16string(count, c);
}

std::u16string LargestText(const StringElement& element) {
    switch (element.CodePage()) {
        case CodePage::Utf16:
            return Repeat(u'\u0416', element.MaxLength() / 2);
        default:
            return Repeat(u'7', element.MaxLength());
    }
}

/// Record i of a full list: distinct codes, the last day of 2030.
VoluntaryInsuranceRecord SampleRecord(std::size_t i) {
    const auto letter = static_cast<char16_t>(u'A' + i % 26);
    const auto digit = static_cast<char16_t>(u'0' + i % 10);
    return VoluntaryInsuranceRecord{{letter, digit},
                                    {u'P', digit, letter},
                                    Orvel::DateTime(2030, 12, 31, Orvel::DateTimeKind::Utc)};
}

std::u16string RandomFixedAscii(std::mt19937& random, std::size_t chars) {
    std::u16string text(chars, u' ');
    for (char16_t& c : text) {
        c = static_cast<char16_t>(random() % 0x80);
    }
    return text;
}

/// Calls the matching visitor for the element's kind.
template <typename Visitor>
void Visit(TlvElement& element, Visitor&& visit) {
    if (auto* text = dynamic_cast<StringElement*>(&element)) {
        visit(*text);
    } else if (auto* date = dynamic_cast<DateElement*>(&element)) {
        visit(*date);
    } else if (auto* code = dynamic_cast<CodeElement*>(&element)) {
        visit(*code);
    } else if (auto* bytes = dynamic_cast<BytesElement*>(&element)) {
        visit(*bytes);
    } else if (auto* list = dynamic_cast<InsuranceListElement*>(&element)) {
        visit(*list);
    } else if (auto* numbers = dynamic_cast<U16ListElement*>(&element)) {
        visit(*numbers);
    }
}

struct LargestFiller {
    void operator()(StringElement& e) const { e.SetValue(LargestText(e)); }
    void operator()(DateElement& e) const {
        e.SetValue(Orvel::DateTime(2030, 12, 31, Orvel::DateTimeKind::Utc));
    }
    void operator()(CodeElement& e) const { e.SetValue(e.Table().Entries().back().number); }
    void operator()(BytesElement& e) const {
        Orvel::ByteArray bytes(e.MaxLength());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
        }
        e.SetValue(std::move(bytes));
    }
    void operator()(InsuranceListElement& e) const {
        std::vector<VoluntaryInsuranceRecord> records;
        for (std::size_t i = 0; i < e.MaxLength() / InsuranceListElement::kRecordSize; ++i) {
            records.push_back(SampleRecord(i));
        }
        e.SetValue(std::move(records));
    }
    void operator()(U16ListElement& e) const {
        std::vector<std::uint16_t> numbers(e.MaxLength() / 2);
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            numbers[i] = static_cast<std::uint16_t>(0x0D00 + i);
        }
        e.SetValue(std::move(numbers));
    }
};

struct RandomFiller {
    std::mt19937& random;
    void operator()(StringElement& e) const {
        switch (e.CodePage()) {
            case CodePage::Utf16:
                e.SetValue(RandomUtf16(random, e.MaxLength() / 2));
                break;
            case CodePage::Utf8:
                e.SetValue(RandomUtf8(random, e.MaxLength()));
                break;
            default:
                e.SetValue(RandomAscii(random, e.MaxLength()));
        }
    }
    void operator()(DateElement& e) const { e.SetValue(RandomDate(random)); }
    void operator()(CodeElement& e) const {
        const auto& entries = e.Table().Entries();
        e.SetValue(entries[random() % entries.size()].number);
    }
    void operator()(BytesElement& e) const {
        Orvel::ByteArray bytes(random() % (e.MaxLength() + 1));
        for (auto& b : bytes) {
            b = static_cast<std::uint8_t>(random());
        }
        e.SetValue(std::move(bytes));
    }
    void operator()(InsuranceListElement& e) const {
        const std::size_t most = e.MaxLength() / InsuranceListElement::kRecordSize;
        std::vector<VoluntaryInsuranceRecord> records(random() % (most + 1));
        for (VoluntaryInsuranceRecord& record : records) {
            record.Code = RandomFixedAscii(random, 2);
            record.PolicyCode = RandomFixedAscii(random, 3);
            record.ValidTo = RandomDate(random);
        }
        e.SetValue(std::move(records));
    }
    void operator()(U16ListElement& e) const {
        std::vector<std::uint16_t> numbers(random() % (e.MaxLength() / 2 + 1));
        for (auto& n : numbers) {
            n = static_cast<std::uint16_t>(random());
        }
        e.SetValue(std::move(numbers));
    }
};

template <typename Element>
bool SameValue(const Element& a, const TlvElement& other) {
    const auto* b = dynamic_cast<const Element*>(&other);
    return b != nullptr && a.GetValue() == b->GetValue();
}

}  // namespace

const std::vector<ModelKind>& AllModels() {
    static const std::vector<ModelKind> models = {
        Kind<CardDocumentModel>("CardDocumentModel", 4 + 6 + 6 + 132),
        Kind<VLDocumentModel>("VLDocumentModel", 61),
        Kind<VLFixedPersoModel>("VLFixedPersoModel", 357),
        Kind<VLPhotoModel>("VLPhotoModel", 7688),
        Kind<VLVariablePersoModel>("VLVariablePersoModel", 338),
        Kind<VLContactlessModel>("VLContactlessModel", 586),
        Kind<ZKDocumentModel>("ZKDocumentModel", 76),
        Kind<ZKFixedPersoModel>("ZKFixedPersoModel", 663),
        Kind<ZKFixedAdminModel>("ZKFixedAdminModel", 725),
        Kind<ZKVariableAdminModel>("ZKVariableAdminModel", 2131),
        Kind<ZKVariablePersoModel>("ZKVariablePersoModel", 985),
    };
    return models;
}

void FillLargest(CardBlock& model) {
    for (TlvElement* element : model.Elements()) {
        Visit(*element, LargestFiller{});
    }
}

void FillRandom(CardBlock& model, std::mt19937& random) {
    for (TlvElement* element : model.Elements()) {
        if (element->State() != Presence::Mandatory && random() % 3 == 0) {
            continue;  // stays absent
        }
        Visit(*element, RandomFiller{random});
    }
}

std::string Differences(const CardBlock& expected, const CardBlock& actual) {
    std::ostringstream out;
    if (expected.Elements().size() != actual.Elements().size()) {
        return "different element counts";
    }
    for (std::size_t i = 0; i < expected.Elements().size(); ++i) {
        TlvElement& a = *expected.Elements()[i];
        const TlvElement& b = *actual.Elements()[i];
        out << std::hex << "element 0x" << a.Tag();
        if (a.Tag() != b.Tag()) {
            out << ": tag 0x" << b.Tag();
            return out.str();
        }
        if (a.State() != b.State()) {
            out << ": presence " << int(a.State()) << " became " << int(b.State());
            return out.str();
        }
        if (a.State() != Presence::Absent) {
            bool same = true;
            Visit(a, [&](const auto& element) { same = SameValue(element, b); });
            if (!same) {
                out << ": value differs";
                return out.str();
            }
        }
        out.str("");
    }
    return {};
}

}  // namespace carvix::test
