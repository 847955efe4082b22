// Changes to a card or a token that a page started, recorded in the system journal so that an
// administrator can see which site changed a card: the page's origin, the operation, the
// reader (or token container) and the result. Never a card's values, a PIN or a key.
#pragma once

#include "values.h"

#include "carvix/automation/types.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace carvix::bridge {

struct AuditRecord {
    std::string origin;
    std::string operation;  // "IDocAdminService.WriteVLVariablePersoData"
    std::string reader;     // the reader, token container or "" when the call names none
    HRESULT result = S_OK;
};

/// "Interface.Member" when calling `member` of `interfaceName` changes a card or a token (a
/// block write, a contactless update, a key generation, a certificate import); nothing for
/// every other member. Names are compared without regard to ASCII case, as calls are.
std::optional<std::string> AuditedOperation(std::string_view interfaceName,
                                            std::string_view member);

/// The journal line of a record.
std::string AuditText(const AuditRecord& record);

/// Where records go: the system journal (syslog, facility authpriv) unless a test installs a
/// sink; returns the previous sink.
using AuditSink = std::function<void(const AuditRecord&)>;
AuditSink SetAuditSink(AuditSink sink);
void RecordAudit(const AuditRecord& record);

/// The readers a page's objects were opened on (an authentication object's Init), so that a
/// write that receives the object can name its reader.
class ReaderMemory {
  public:
    /// Notes the reader when `member` is an Init with a reader name as first argument.
    void Note(std::int64_t handle, std::string_view member, const Json& args);
    /// The reader named by the call's arguments: a "...ReaderName" or "...ContainerName"
    /// parameter, else the reader an object argument was opened on.
    std::string ReaderOf(const Json& args, const std::vector<std::string>& parameterNames) const;
    void Forget(std::int64_t handle) { readers_.erase(handle); }

  private:
    std::map<std::int64_t, std::string> readers_;
};

}  // namespace carvix::bridge
