// `carvix watch`: the readers and cards as they come and go, one line per event (or one JSON
// object per line), until interrupted. An inserted card is asked whether it carries the VL
// and the ZK application.
#pragma once

#include "carvix/support/reader_monitor.h"

#include <optional>
#include <string>
#include <vector>

namespace carvix::cli {

struct CardEvent {
    enum class Kind { ReaderAdded, ReaderRemoved, CardInserted, CardRemoved };
    Kind kind;
    std::string reader;
    std::string atr;  // upper-case hexadecimal, for an inserted card
    // For an inserted card: whether each application answered its SELECT; unset when the
    // card could not be asked (then `error` says why).
    std::optional<bool> vl;
    std::optional<bool> zk;
    std::string error;
    // Whether the card answers as a contactless card through the contactless library; unset
    // when it was not asked.
    std::optional<bool> contactless;
};

/// The events that lead from `before` to `after`: first the readers gone (each after its
/// card), then, reader by reader in `after`'s order, a reader come, a card out, a card in. A
/// card replaced between two looks is a removal and an insertion.
std::vector<CardEvent> EventsBetween(const std::vector<Orvel::PCSC::ReaderState>& before,
                                     const std::vector<Orvel::PCSC::ReaderState>& after);

/// One output line without its newline: plain text, or a JSON object with `json`. A
/// non-empty `time` leads the text line and is the JSON object's "time".
std::string EventLine(const CardEvent& event, bool json, const std::string& time = {});

/// The current time as the lines of `watch` carry it: UTC, ISO 8601, to the millisecond.
std::string EventTime();

/// Asks the card in `event.reader` for the VL (1) and the ZK (5) application, in one
/// transaction on a shared connection that is let go afterwards; sets `error` when it cannot
/// (a card another program holds beyond the card wait limit among them). With
/// `contactlessFolder` (the registered module's folder, where the module finds the contactless
/// library) it also asks that library whether the card answers as a contactless card; this
/// loads the library, so only commands that show the answer pass it.
void ProbeApplications(CardEvent& event, const std::optional<std::string>& contactlessFolder);

/// Prints the readers and cards already there, then every change, until SIGINT or SIGTERM.
/// Returns the exit status; PC/SC failures are reported on standard error.
int Watch(bool json, const std::optional<std::string>& contactlessFolder);

}  // namespace carvix::cli
