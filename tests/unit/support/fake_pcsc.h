// A stand-in for the PC/SC client library, linked into the test binary in place of
// pcsc-lite's functions, so the wrappers can be driven through every outcome without a
// daemon. Results are queued per function; an empty queue means success.
#pragma once

#include <PCSC/winscard.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fake {

struct Pcsc {
    std::vector<std::string> calls;
    std::map<std::string, std::deque<LONG>> results;
    DWORD protocol = SCARD_PROTOCOL_T1;
    std::optional<std::string> lastReader;  // nullopt: a null name was passed
    std::vector<BYTE> response{0x90, 0x00};
    DWORD lastReceiveRoom = 0;
    bool receiveBufferWasZero = false;
    const SCARD_IO_REQUEST* lastPci = nullptr;
    bool receivePciWasNull = false;
    std::string statusNames = std::string("Reader A\0Reader B\0\0", 19);
    std::vector<BYTE> atr{0x3B, 0x80, 0x80, 0x01, 0x01};
    DWORD lastAtrRoom = 0;
    std::vector<DWORD> dispositions;
    std::vector<DWORD> reconnectArgs;
};

/// The fake's state, reset at the start of each test by Reset().
Pcsc& State();
void Reset();
/// Queues `rv` as the next result of `function` (for example "SCardBeginTransaction").
void Next(const std::string& function, LONG rv);

}  // namespace fake
