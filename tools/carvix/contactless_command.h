// `carvix contactless read|update`: the extract held by the card's contactless part, read
// and built again from the contact card, through CARVIX.DocAdmin as any script does it.
#pragma once

#include <optional>
#include <string>

namespace carvix::cli {

/// Where the registered module finds the contactless library (its own folder), so that the
/// client looks for it there too; unset without a registration.
std::optional<std::string> ContactlessFolder();

struct ContactlessOptions {
    std::string reader;         // the contactless reader
    bool checkSod = false;      // check the extract against its SOD
    bool json = false;          // read: print JSON
    std::string contactReader;  // update: the reader of the contact card
    int app = 1;                // update: the VL application
    std::string encryptedKey;   // update: EnvelopedData (DER, PEM or Base64) of the write key
    std::string signer;         // update: certificate file; empty: the component chooses
};

/// Exit status 0, 1 when a call fails (thrown as ClientError for the caller to report), 2 for
/// bad input.
int ContactlessRead(const ContactlessOptions& options);
int ContactlessUpdate(const ContactlessOptions& options);

}  // namespace carvix::cli
