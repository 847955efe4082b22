// The operations of the bridge protocol on one connection: hello, create, call, get, put,
// release and policy. Each request gets exactly one response (an answer to a prompt gets
// none): the result, or the HRESULT of what failed with its message. Nothing the page sends
// can crash the host: a message that is not a request, a wrong type or an unknown operation
// is answered with E_INVALIDARG.
#pragma once

#include "audit.h"
#include "invoker.h"
#include "object_table.h"
#include "origin_gate.h"
#include "type_catalog.h"
#include "values.h"

#include <functional>
#include <string>
#include <string_view>

namespace carvix::bridge {

/// Creates the object of a ProgID, asking for IDispatch (CLSIDFromProgID and
/// CoCreateInstance unless a test gives another way).
using ObjectCreator = std::function<HRESULT(const std::u16string& progId, IDispatch** out)>;
HRESULT CreateByProgId(const std::u16string& progId, IDispatch** out);

class Dispatcher {
  public:
    Dispatcher(OriginGate& gate, ObjectCreator create = CreateByProgId);

    /// The response text for one message as parsed (a discarded value: it was not JSON);
    /// empty when the message gets no response.
    std::string Handle(const Json& request);
    /// Parses and handles one message.
    std::string HandleText(std::string_view message);
    /// The response to a request the page cancelled before it ran.
    std::string Cancelled(const Json& id);

    ObjectTable& Objects() { return objects_; }

  private:
    Json Run(const std::string& op, const Json& request);
    Json PolicyAnswer() const;
    void CheckCapabilities(const std::string& op, const Json& request,
                           const std::string& origin) const;
    static BridgeError UnknownOperation(const std::string& op);
    Json Create(const Json& request);
    Json Invoke(const Json& request, std::uint16_t flags);
    Json Put(const Json& request);
    Json Release(const Json& request);
    IDispatch* Target(const Json& request) const;
    /// What the journal records of this call, when it changes a card or a token.
    std::optional<AuditRecord> AuditOf(const Json& request, IDispatch* object,
                                       const std::string& member) const;
    std::string Respond(const Json& id, Json result);
    std::string Fail(const Json& id, const BridgeError& error);

    OriginGate& gate_;
    ObjectCreator create_;
    TypeCatalog catalog_;
    ObjectTable objects_{catalog_};
    ReaderMemory readers_;
};

}  // namespace carvix::bridge
