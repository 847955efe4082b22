// A stand-in for the vendor library that records every call and answers as the test says.
// Built twice: whole, and without Format_CL (OMIT_FORMAT), which the component must refuse.
#include "recording_library.h"

#include <algorithm>

namespace {

recording::State& TheState() {
    static recording::State state;
    return state;
}

std::u16string Text(const char16_t* text) {
    return text == nullptr ? u"(null)" : std::u16string(text);
}

struct Loads {
    Loads() { ++TheState().loads; }
    ~Loads() { --TheState().loads; }
} loads;

recording::Call Record(const char* function, const char16_t* reader, std::uint32_t readerLength,
                       std::vector<std::uint32_t> lengths, const std::uint8_t* key,
                       std::uint32_t keyLength) {
    recording::Call call;
    call.function = function;
    call.reader = reader == nullptr ? std::u16string() : Text(reader);
    call.readerLength = readerLength;
    call.lengths = std::move(lengths);
    if (key != nullptr) {
        call.key.assign(key, key + keyLength);
    }
    return call;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) recording::State* Recording_CL() {
    return &TheState();
}

__attribute__((visibility("default"))) std::int32_t GetCardInfo_CL(
    const char16_t* reader, std::uint32_t readerLength, char16_t* first, std::uint32_t firstLength,
    char16_t* second, std::uint32_t secondLength, const std::uint8_t* key,
    std::uint32_t keyLength) {
    TheState().calls.push_back(Record("GetCardInfo_CL", reader, readerLength,
                                      {firstLength, secondLength, keyLength}, key, keyLength));
    if (first != nullptr && firstLength > 0) {
        first[0] = u'\0';
    }
    if (second != nullptr && secondLength > 0) {
        second[0] = u'\0';
    }
    return TheState().result;
}

#ifndef OMIT_FORMAT
__attribute__((visibility("default"))) std::int32_t Format_CL() {
    TheState().calls.push_back(Record("Format_CL", nullptr, 0, {}, nullptr, 0));
    return 0;
}
#endif

__attribute__((visibility("default"))) std::int32_t KeyInitAndPrePerso_CL() {
    TheState().calls.push_back(Record("KeyInitAndPrePerso_CL", nullptr, 0, {}, nullptr, 0));
    return 0;
}

__attribute__((visibility("default"))) std::int32_t ReadFile_CL(
    const char16_t* reader, std::uint32_t readerLength, std::uint32_t fileNumber,
    const std::uint8_t* key, std::uint32_t keyLength, std::uint8_t* buffer, std::uint32_t* size,
    std::int32_t* errorCode) {
    recording::State& state = TheState();
    recording::Call call = Record("ReadFile_CL", reader, readerLength, {keyLength}, key, keyLength);
    call.fileNumber = fileNumber;
    call.sizeIn = *size;
    call.errorIn = *errorCode;
    state.calls.push_back(call);
    if (state.result == 0) {
        *errorCode = state.errorCode;
        return 0;
    }
    const std::uint32_t index = fileNumber <= 2 ? fileNumber : 0;
    const auto& file = state.files[index];
    const std::size_t n = std::min<std::size_t>(file.size(), *size);
    std::copy_n(file.begin(), n, buffer);
    *size =
        state.reportedSize[index] != 0 ? state.reportedSize[index] : static_cast<std::uint32_t>(n);
    *errorCode = state.errorCode;
    return state.result;
}

__attribute__((visibility("default"))) std::int32_t WriteFile_CL(
    const char16_t* reader, std::uint32_t readerLength, std::uint32_t fileNumber,
    const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* data,
    std::uint32_t dataLength, std::int32_t* errorCode) {
    recording::State& state = TheState();
    recording::Call call =
        Record("WriteFile_CL", reader, readerLength, {keyLength, dataLength}, key, keyLength);
    call.fileNumber = fileNumber;
    call.errorIn = *errorCode;
    call.data.assign(data, data + dataLength);
    state.calls.push_back(call);
    if (state.result == 0 || fileNumber == state.failWriteOf) {
        *errorCode = state.errorCode;
        return 0;
    }
    if (fileNumber <= 2) {
        state.files[fileNumber] = call.data;
    }
    return state.result;
}

}  // extern "C"
