// A stand-in for the PC/SC calls of one card connection, linked into the test binary in
// place of pcsc-lite's: one reader with one T=1 card that answers from a script of exact
// command bytes. The test reads back what was connected, sent, begun and released.
#pragma once

#include <PCSC/winscard.h>

#include <deque>
#include <string>
#include <vector>

namespace fake_card {

inline constexpr SCARDHANDLE kHandle = 0x5A5A1234;

struct Exchange {
    std::string command;  // upper-case hex without spaces
    std::string response;
    LONG result = SCARD_S_SUCCESS;  // a failure is returned without a response
};

struct State {
    LONG establishResult = SCARD_S_SUCCESS;
    LONG connectResult = SCARD_S_SUCCESS;
    std::deque<Exchange> script;
    std::vector<std::string> sent;
    std::string connectedReader;
    DWORD shareMode = 0;
    DWORD protocols = 0;
    std::vector<DWORD> disconnects;  // the dispositions, in order
    int contextsOpen = 0;
    int cardsConnected = 0;
    int transactionsOpen = 0;
    int transactionsBegun = 0;
    bool resetPending = false;  // another application reset the card; cleared by reconnecting
    LONG reconnectResult = SCARD_S_SUCCESS;
    std::vector<DWORD> reconnects;  // the initialisations, in order
    bool surprise = false;          // a command that the script did not expect
};

State& Get();
void Reset();

}  // namespace fake_card
