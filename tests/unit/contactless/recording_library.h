// What the recording stand-in for the vendor library keeps of its calls, and how a test
// steers its answers. The test opens the same library file itself and reaches this state
// through Recording_CL(), so the state outlives the component's own load and unload.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace recording {

struct Call {
    std::string function;
    std::u16string reader;  // the text up to its terminator
    std::uint32_t readerLength = 0;
    std::vector<std::uint32_t> lengths;  // the other 32-bit integers, in argument order
    std::vector<std::uint8_t> key;
    std::uint32_t fileNumber = 0;
    std::uint32_t sizeIn = 0;        // ReadFile_CL: *size on entry
    std::int32_t errorIn = -1;       // *errorCode on entry
    std::vector<std::uint8_t> data;  // WriteFile_CL: the bytes
};

struct State {
    std::vector<Call> calls;
    // Answers.
    std::int32_t result = 1;
    std::int32_t errorCode = 0;
    std::uint32_t reportedSize[3] = {};  // ReadFile_CL per file: 0 means the bytes copied
    std::vector<std::uint8_t> files[3];
    std::uint32_t failWriteOf = 0;  // WriteFile_CL of this file number fails with errorCode
    int loads = 0;                  // how often the library was loaded and not yet unloaded
};

}  // namespace recording

extern "C" recording::State* Recording_CL();
