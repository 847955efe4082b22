#include "fake_reader_list.h"

#include <cstdlib>
#include <cstring>

namespace fake_readers {

State& Get() {
    static State state;
    return state;
}

void Reset() {
    Get() = State{};
}

}  // namespace fake_readers

extern "C" {

LONG SCardEstablishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    auto& s = fake_readers::Get();
    if (s.establishResult != SCARD_S_SUCCESS) {
        return s.establishResult;
    }
    *context = 0x4242;
    ++s.contextsOpen;
    return SCARD_S_SUCCESS;
}

LONG SCardReleaseContext(SCARDCONTEXT) {
    --fake_readers::Get().contextsOpen;
    return SCARD_S_SUCCESS;
}

LONG SCardListReaders(SCARDCONTEXT, LPCSTR groups, LPSTR readers, LPDWORD length) {
    auto& s = fake_readers::Get();
    if (groups != nullptr || *length != SCARD_AUTOALLOCATE) {
        return SCARD_E_INVALID_PARAMETER;
    }
    if (s.listResult != SCARD_S_SUCCESS) {
        return s.listResult;
    }
    char* buffer = static_cast<char*>(std::malloc(s.multiString.size() + 1));
    std::memcpy(buffer, s.multiString.data(), s.multiString.size());
    *reinterpret_cast<char**>(readers) = buffer;
    *length = static_cast<DWORD>(s.multiString.size());
    ++s.buffersOut;
    return SCARD_S_SUCCESS;
}

LONG SCardFreeMemory(SCARDCONTEXT, LPCVOID memory) {
    auto& s = fake_readers::Get();
    std::free(const_cast<void*>(memory));
    --s.buffersOut;
    return s.freeResult;
}

}  // extern "C"
