#include "field_values.h"

#include "carvix/blocks/bytes_element.h"
#include "carvix/blocks/code_element.h"
#include "carvix/blocks/date_element.h"
#include "carvix/blocks/insurance_list_element.h"
#include "carvix/blocks/string_element.h"
#include "carvix/support/base64.h"
#include "carvix/support/datetime.h"
#include "carvix/support/exceptions.h"
#include "carvix/support/text.h"
#include "hex.h"
#include "jpeg_image.h"
#include "perso_error.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace carvix::perso {
namespace {

using nlohmann::json;

std::string Text(const json& value, const std::string& where) {
    if (!value.is_string()) {
        throw PersoError(where + ": expected a text");
    }
    return value.get<std::string>();
}

Orvel::DateTime Date(const json& value, const std::string& where) {
    std::string text = Text(value, where);
    int year = 0, month = 0, day = 0;
    char dash1 = 0, dash2 = 0;
    if (text.size() != 10 ||
        std::sscanf(text.c_str(), "%4d%c%2d%c%2d", &year, &dash1, &month, &dash2, &day) != 5 ||
        dash1 != '-' || dash2 != '-') {
        throw PersoError(where + ": expected a date as YYYY-MM-DD, got \"" + text + "\"");
    }
    try {
        return Orvel::DateTime(year, month, day, Orvel::DateTimeKind::Utc);
    } catch (const Orvel::Exception&) {
        throw PersoError(where + ": " + text + " is no calendar date");
    }
}

Orvel::ByteArray Bytes(const json& value, const std::filesystem::path& baseDir,
                       const std::string& where) {
    if (!value.is_object() || value.size() != 1) {
        throw PersoError(where +
                         ": expected {\"hex\": ...}, {\"base64\": ...}, {\"file\": ...} "
                         "{\"pattern\": length} or {\"jpeg\": {\"width\": w, \"height\": h}}");
    }
    if (value.contains("hex")) {
        try {
            return FromHex(Text(value.at("hex"), where));
        } catch (const std::invalid_argument& e) {
            throw PersoError(where + ": " + e.what());
        }
    }
    if (value.contains("base64")) {
        try {
            return Orvel::FromBase64(Orvel::Utf8ToUtf16(Text(value.at("base64"), where)));
        } catch (const Orvel::Exception&) {
            throw PersoError(where + ": not Base64");
        }
    }
    if (value.contains("file")) {
        std::filesystem::path path = baseDir / Text(value.at("file"), where);
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            throw PersoError(where + ": cannot read " + path.string());
        }
        return Orvel::ByteArray(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
    }
    if (value.contains("pattern")) {
        const json& length = value.at("pattern");
        if (!length.is_number_unsigned() || length.get<std::uint64_t>() > 65535) {
            throw PersoError(where + ": a pattern length is a number up to 65535");
        }
        Orvel::ByteArray bytes(length.get<std::size_t>());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>((i * 31 + i / 256) & 0xFF);
        }
        return bytes;
    }
    if (value.contains("jpeg")) {
        const json& size = value.at("jpeg");
        if (!size.is_object() || !size.contains("width") || !size.contains("height") ||
            !size.at("width").is_number_unsigned() || !size.at("height").is_number_unsigned()) {
            throw PersoError(where +
                             ": a JPEG portrait is {\"jpeg\": {\"width\": w, \"height\": h}}");
        }
        try {
            const auto side = [&size](const char* name) {
                return static_cast<int>(
                    std::min<std::uint64_t>(size.at(name).get<std::uint64_t>(), 4096));
            };
            return PortraitJpeg(side("width"), side("height"));
        } catch (const std::invalid_argument& e) {
            throw PersoError(where + ": " + e.what());
        }
    }
    throw PersoError(where + ": unknown byte source");
}

std::vector<VoluntaryInsuranceRecord> Insurances(const json& value, const std::string& where) {
    if (!value.is_array()) {
        throw PersoError(where + ": expected a list of insurances");
    }
    std::vector<VoluntaryInsuranceRecord> records;
    for (std::size_t i = 0; i < value.size(); ++i) {
        std::string at = where + "[" + std::to_string(i) + "]";
        const json& item = value[i];
        if (!item.is_object() || !item.contains("Code") || !item.contains("PolicyCode") ||
            !item.contains("ValidTo")) {
            throw PersoError(at + ": expected {\"Code\", \"PolicyCode\", \"ValidTo\"}");
        }
        VoluntaryInsuranceRecord record;
        record.Code = Orvel::Utf8ToUtf16(Text(item.at("Code"), at + ".Code"));
        record.PolicyCode = Orvel::Utf8ToUtf16(Text(item.at("PolicyCode"), at + ".PolicyCode"));
        record.ValidTo = Date(item.at("ValidTo"), at + ".ValidTo");
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace

void SetField(TlvElement& element, const json& value, const std::filesystem::path& baseDir,
              const std::string& where) {
    if (auto* text = dynamic_cast<StringElement*>(&element)) {
        text->SetValue(Orvel::Utf8ToUtf16(Text(value, where)));
    } else if (auto* date = dynamic_cast<DateElement*>(&element)) {
        date->SetValue(Date(value, where));
    } else if (auto* code = dynamic_cast<CodeElement*>(&element)) {
        if (!value.is_number_integer()) {
            throw PersoError(where + ": expected a code number");
        }
        code->SetValue(value.get<std::int32_t>());
    } else if (auto* bytes = dynamic_cast<BytesElement*>(&element)) {
        bytes->SetValue(Bytes(value, baseDir, where));
    } else if (auto* list = dynamic_cast<InsuranceListElement*>(&element)) {
        list->SetValue(Insurances(value, where));
    } else {
        throw PersoError(where + ": the tool cannot fill this kind of element");
    }
}

}  // namespace carvix::perso
