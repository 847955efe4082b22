// A stand-in for the PC/SC calls of the reader listing, linked into the test binary in
// place of pcsc-lite's: the test sets what the resource manager answers and reads back
// what was asked and freed.
#pragma once

#include <PCSC/winscard.h>

#include <string>

namespace fake_readers {

struct State {
    LONG establishResult = SCARD_S_SUCCESS;
    LONG listResult = SCARD_S_SUCCESS;
    LONG freeResult = SCARD_S_SUCCESS;
    std::string multiString;  // what SCardListReaders hands out, final NULs included
    int contextsOpen = 0;
    int buffersOut = 0;
};

State& Get();
void Reset();

}  // namespace fake_readers
