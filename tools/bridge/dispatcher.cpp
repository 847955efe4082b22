#include "dispatcher.h"

#include "capability_gate.h"
#include "framing.h"
#include "message_json.h"
#include "versions.h"

#include "carvix/automation/failure_codes.h"

#include <new>

#ifndef CARVIX_QX_VERSION
#define CARVIX_QX_VERSION "unknown"
#endif

namespace carvix::bridge {
namespace {

constexpr const char* kTooLarge = "The answer is larger than the browser accepts (1 MiB).";

std::string Dump(const Json& value) {
    // Texts from the module are valid UTF-8; anything else is replaced rather than thrown on.
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

const std::string& TextField(const Json& request, const char* field) {
    const auto found = request.find(field);
    if (found == request.end() || !found->is_string() ||
        found->get_ref<const std::string&>().empty()) {
        throw BridgeError{E_INVALIDARG, std::string("The request needs a text \"") + field + "\"."};
    }
    return found->get_ref<const std::string&>();
}

void FillArguments(const Json& request, const ObjectBroker& objects, Arguments& args) {
    const auto found = request.find("args");
    if (found == request.end() || found->is_null()) {
        return;
    }
    if (!found->is_array()) {
        throw BridgeError{E_INVALIDARG, "\"args\" must be an array."};
    }
    for (const Json& value : *found) {
        JsonToVariant(value, objects, args.Add());
    }
}

}  // namespace

HRESULT CreateByProgId(const std::u16string& progId, IDispatch** out) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    if (FAILED(hr)) {
        return hr;
    }
    void* p = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &p);
    *out = static_cast<IDispatch*>(p);
    return hr;
}

Dispatcher::Dispatcher(OriginGate& gate, ObjectCreator create)
    : gate_(gate), create_(std::move(create)) {}

std::string Dispatcher::HandleText(std::string_view message) {
    return Handle(ParseMessageJson(message));
}

std::string Dispatcher::Handle(const Json& request) {
    Json id = nullptr;
    try {
        if (!request.is_object()) {
            throw BridgeError{E_INVALIDARG, "The message is not a request object."};
        }
        const auto idField = request.find("id");
        if (idField != request.end() && idField->is_number_integer()) {
            id = *idField;
        }
        const auto op = request.find("op");
        if (op == request.end() || !op->is_string()) {
            throw BridgeError{E_INVALIDARG, "The request names no operation (\"op\")."};
        }
        const std::string& name = op->get_ref<const std::string&>();
        if (name == "policy") {
            // Asked by the extension before any page connects: no origin to check.
            Json answer = PolicyAnswer();
            if (!id.is_null()) {
                answer["id"] = id;
            }
            return Dump(answer);
        }
        if (name == "answer" || name == "cancel") {
            return {};  // answers and cancels are handled as they arrive, never through here
        }
        if (idField == request.end() || !idField->is_number_integer()) {
            throw BridgeError{E_INVALIDARG, "The request has no integer \"id\"."};
        }
        const auto origin = request.find("origin");
        if (origin == request.end() || !origin->is_string()) {
            throw BridgeError{E_ACCESSDENIED, "The request does not say which page sent it."};
        }
        if (auto refusal = gate_.Refusal(origin->get_ref<const std::string&>()); refusal) {
            throw BridgeError{E_ACCESSDENIED, *refusal};
        }
        CheckCapabilities(name, request, origin->get_ref<const std::string&>());
        return Respond(id, Run(name, request));
    } catch (const BridgeError& e) {
        return Fail(id, e);
    } catch (const std::bad_alloc&) {
        return Fail(id, {E_OUTOFMEMORY, ""});
    } catch (const std::exception&) {
        return Fail(id, {E_UNEXPECTED, ""});
    }
}

// The allow-list as the extension learns it: the origins, and each one's capabilities.
Json Dispatcher::PolicyAnswer() const {
    Json capabilities = Json::object();
    for (const AllowList::Entry& e : gate_.List().Entries()) {
        capabilities[e.origin] = CapabilityNames(e.capabilities);
    }
    return Json{{"origins", gate_.List().Origins()}, {"capabilities", std::move(capabilities)}};
}

// What the administrator granted the page's origin against what the request needs.
void Dispatcher::CheckCapabilities(const std::string& op, const Json& request,
                                   const std::string& origin) const {
    RequireCapabilities(op, request, origin, gate_.List().CapabilitiesOf(origin), objects_);
}

Json Dispatcher::Run(const std::string& op, const Json& request) {
    if (op == "hello") {
        return HelloAnswer(request, CARVIX_QX_VERSION);
    }
    if (op == "create") {
        return Create(request);
    }
    if (op == "call") {
        return Invoke(request, DISPATCH_METHOD);
    }
    if (op == "get") {
        return Invoke(request, DISPATCH_PROPERTYGET);
    }
    if (op == "put") {
        return Put(request);
    }
    if (op == "release") {
        return Release(request);
    }
    throw UnknownOperation(op);
}

BridgeError Dispatcher::UnknownOperation(const std::string& op) {
    // E_NOTIMPL, not E_INVALIDARG: the request may be well formed for a newer host.
    return {E_NOTIMPL, "The carvix-qx host " CARVIX_QX_VERSION " (protocol " + ProtocolText() +
                           ") knows no operation \"" + op.substr(0, 64) +
                           "\"; a page that needs it needs a newer host."};
}

std::string Dispatcher::Cancelled(const Json& id) {
    return Fail(id, {automation::failures::OperationCancelled,
                     "The page cancelled the request before it ran; it was not run."});
}

Json Dispatcher::Create(const Json& request) {
    const std::string& progId = TextField(request, "progId");
    IDispatch* raw = nullptr;
    const HRESULT hr = create_(automation::Utf16(progId), &raw);
    const automation::Object object(SUCCEEDED(hr) ? raw : nullptr);
    if (FAILED(hr) || !object) {
        throw BridgeError{FAILED(hr) ? hr : E_NOINTERFACE, ""};
    }
    return objects_.Export(object.Get());
}

IDispatch* Dispatcher::Target(const Json& request) const {
    const auto handle = request.find("handle");
    IDispatch* object = handle != request.end() && handle->is_number_integer()
                            ? objects_.Find(handle->get<std::int64_t>())
                            : nullptr;
    if (object == nullptr) {
        throw BridgeError{E_HANDLE, "The request names no object of this page (\"handle\")."};
    }
    return object;
}

Json Dispatcher::Invoke(const Json& request, std::uint16_t flags) {
    IDispatch* object = Target(request);
    const std::string& member = TextField(request, "name");
    Arguments args;
    FillArguments(request, objects_, args);
    automation::ScopedVariant result;
    const std::optional<AuditRecord> audit =
        flags == DISPATCH_METHOD ? AuditOf(request, object, member) : std::nullopt;
    const auto handle = request.find("handle")->get<std::int64_t>();
    const auto callArgs = request.find("args");
    const Json noArgs = Json::array();
    readers_.Note(handle, member, callArgs != request.end() ? *callArgs : noArgs);
    // The object may be released by nothing else while this runs: requests run one at a time.
    try {
        InvokeByName(object, member, flags, args, result);
    } catch (const BridgeError& e) {
        if (audit) {
            RecordAudit({audit->origin, audit->operation, audit->reader, e.hr});
        }
        throw;
    }
    if (audit) {
        RecordAudit(*audit);
    }
    return VariantToJson(*result, objects_);
}

std::optional<AuditRecord> Dispatcher::AuditOf(const Json& request, IDispatch* object,
                                               const std::string& member) const {
    const auto type = automation::Object::Share(object).TryType();
    const std::optional<std::string> operation =
        type ? AuditedOperation(type->name, member) : std::nullopt;
    if (!operation) {
        return std::nullopt;
    }
    std::vector<std::string> parameters;
    if (const automation::Member* m = type->Find(member, automation::Invocation::Method)) {
        for (const automation::Parameter& p : m->params) {
            if (p.in && !p.retval) {
                parameters.push_back(p.name);
            }
        }
    }
    const auto args = request.find("args");
    return AuditRecord{request.value("origin", ""), *operation,
                       args != request.end() ? readers_.ReaderOf(*args, parameters) : "", S_OK};
}

Json Dispatcher::Put(const Json& request) {
    IDispatch* object = Target(request);
    const std::string& member = TextField(request, "name");
    const auto value = request.find("value");
    if (value == request.end()) {
        throw BridgeError{E_INVALIDARG, "A put needs a \"value\"."};
    }
    Arguments args;
    JsonToVariant(*value, objects_, args.Add());
    automation::ScopedVariant none;
    InvokeByName(object, member, DISPATCH_PROPERTYPUT, args, none);
    return nullptr;
}

Json Dispatcher::Release(const Json& request) {
    const auto handle = request.find("handle");
    if (handle == request.end() || !handle->is_number_integer() ||
        !objects_.Release(handle->get<std::int64_t>())) {
        throw BridgeError{E_HANDLE, "The request names no object of this page (\"handle\")."};
    }
    readers_.Forget(handle->get<std::int64_t>());
    return nullptr;
}

std::string Dispatcher::Respond(const Json& id, Json result) {
    std::string text = Dump(Json{{"id", id}, {"ok", true}, {"result", result}});
    if (text.size() <= kMaxToBrowser) {
        return text;
    }
    // A block too large with its snapshot still reaches the page as a handle.
    if (result.is_object() && result.contains("$object") && result.contains("snapshot")) {
        result.erase("snapshot");
        text = Dump(Json{{"id", id}, {"ok", true}, {"result", std::move(result)}});
        if (text.size() <= kMaxToBrowser) {
            return text;
        }
    }
    return Fail(id, {E_INVALIDARG, kTooLarge});
}

std::string Dispatcher::Fail(const Json& id, const BridgeError& error) {
    const auto code = static_cast<std::uint32_t>(error.hr);
    std::string message = error.message.empty() ? TextOf(error.hr) : error.message;
    if (message.size() > 4096) {
        message.resize(4096);  // a description cannot push the error over the limit
    }
    return Dump(
        Json{{"id", id},
             {"ok", false},
             {"error", {{"hresult", code}, {"hex", HexCode(error.hr)}, {"message", message}}}});
}

}  // namespace carvix::bridge
