#include "carvix/blocks/insurance_list_element.h"

#include "carvix/blocks/date_element.h"
#include "carvix/blocks/string_element.h"
#include "carvix/support/codepage.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"

namespace {
constexpr std::size_t kCodeLength = 2;
constexpr std::size_t kPolicyCodeLength = 3;
}  // namespace

InsuranceListElement::~InsuranceListElement() = default;

std::vector<VoluntaryInsuranceRecord> InsuranceListElement::GetValue() const {
    RequirePresent();
    return value_;
}

void InsuranceListElement::SetValue(std::vector<VoluntaryInsuranceRecord> value) {
    value_ = std::move(value);
    MarkAssigned();
}

void InsuranceListElement::CopyFrom(const InsuranceListElement& other) {
    value_ = other.value_;
    CopyHeaderFrom(other);
}

Orvel::ByteArray InsuranceListElement::EncodeValue() const {
    Orvel::ByteArray out;
    out.reserve(value_.size() * kRecordSize);
    int index = 0;
    for (const VoluntaryInsuranceRecord& record : value_) {
        if (record.Code.size() != kCodeLength) {
            throw CardException(
                Orvel::Format("Element with tag 0x%X has incorrect size for value Code on index %d",
                              Tag(), index));
        }
        if (record.PolicyCode.size() != kPolicyCodeLength) {
            throw CardException(Orvel::Format(
                "Element with tag 0x%X has incorrect size for value Policy Code on index %d", Tag(),
                index));
        }
        for (const Orvel::ByteArray& part :
             {StringElement::EncodeText(Orvel::Text::kUsAscii, record.Code),
              StringElement::EncodeText(Orvel::Text::kUsAscii, record.PolicyCode),
              DateElement::EncodeDate(record.ValidTo)}) {
            out.insert(out.end(), part.begin(), part.end());
        }
        ++index;
    }
    return out;
}

void InsuranceListElement::DecodeValue(ByteView value) {
    if (value.size() % kRecordSize != 0) {
        throw CardException(
            Orvel::Format("Element with tag 0x%X has incorrect size of %zu", Tag(), value.size()));
    }
    std::vector<VoluntaryInsuranceRecord> records;
    records.reserve(value.size() / kRecordSize);
    for (std::size_t at = 0; at < value.size(); at += kRecordSize) {
        ByteView record = value.subspan(at, kRecordSize);
        records.push_back(VoluntaryInsuranceRecord{
            StringElement::DecodeText(Orvel::Text::kUsAscii, record.subspan(0, kCodeLength)),
            StringElement::DecodeText(Orvel::Text::kUsAscii,
                                      record.subspan(kCodeLength, kPolicyCodeLength)),
            DateElement::DecodeDate(record.subspan(kCodeLength + kPolicyCodeLength))});
    }
    value_ = std::move(records);
}
