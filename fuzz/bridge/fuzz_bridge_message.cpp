// One message as the page might send it: parsed and dispatched (origin check, operation,
// fields, the versions of a hello), and any "args" or "value" turned into VARIANTs and back to
// JSON. No module is registered, so creating an object fails as on a machine without it; everything
// else runs as in the host. Every input must give exactly one well-formed response or none (answers
// and cancels).
#include "dispatcher.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using carvix::bridge::Json;

class EmptyBroker final : public carvix::bridge::ObjectBroker {
  public:
    Json Export(IDispatch*) override { return Json{{"$object", 0}}; }
    IDispatch* Find(std::int64_t) const override { return nullptr; }
};

void RoundTrip(const Json& value) {
    EmptyBroker broker;
    VARIANT v;
    VariantInit(&v);
    try {
        carvix::bridge::JsonToVariant(value, broker, &v);
        (void)carvix::bridge::VariantToJson(v, broker);
    } catch (const carvix::bridge::BridgeError&) {
    }
    VariantClear(&v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace carvix::bridge;
    // Every capability, so that requests reach the dispatcher's own checks.
    static OriginGate gate(
        AllowList({{"https://id.example.org", kRead | kWrite | kPki | kContactless | kSelect},
                   {"http://localhost:8080", kRead}}));
    Dispatcher dispatcher(gate, [](const std::u16string&, IDispatch** out) {
        *out = nullptr;
        return static_cast<HRESULT>(0x80040154u);  // not registered
    });
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Json request = Json::parse(text, nullptr, false);
    const std::string response = dispatcher.Handle(request);
    if (!response.empty()) {
        const Json parsed = Json::parse(response, nullptr, false);
        if (parsed.is_discarded() || !parsed.is_object()) {
            std::abort();  // the host answered something the browser cannot read
        }
    } else if (!request.is_object() || (request.value("op", Json()) != "answer" &&
                                        request.value("op", Json()) != "cancel")) {
        std::abort();  // a request went unanswered
    }
    if (request.is_object()) {
        if (auto args = request.find("args"); args != request.end()) {
            RoundTrip(*args);
        }
        if (auto value = request.find("value"); value != request.end()) {
            RoundTrip(*value);
        }
    }
    return 0;
}
