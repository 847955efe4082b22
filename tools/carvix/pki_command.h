// `carvix pki`: enrolment on a token through CARVIX.PKI.
//
//   carvix pki keygen  --reader R --container C --usage sign|exchange [--bits N] [--replace]
//   carvix pki request --reader R --container C --usage sign|exchange --cn NAME [--pem]
//                      [--out FILE]
//   carvix pki import  --reader R --container C --usage sign|exchange --cert FILE
//   carvix pki select  sign|exchange --reader R [--out FILE]
//
// Every subcommand takes --pin-file FILE for unattended logins; without it the PIN is asked
// on the terminal without echo.
#pragma once

#include <string>

namespace carvix::cli {

struct PkiOptions {
    std::string action;  // keygen, request, import, select
    std::string reader;
    std::string container;
    std::string usage = "sign";  // the key pair's use: sign or exchange
    unsigned bits = 0;
    bool replace = false;  // keygen: an existing pair of the usage may be destroyed
    std::string commonName;
    bool pem = false;
    std::string out;
    std::string cert;
    std::string pinFile;
};

/// Runs the action; throws ClientError for a failed call. Returns the exit status.
int Pki(const PkiOptions& options);

}  // namespace carvix::cli
