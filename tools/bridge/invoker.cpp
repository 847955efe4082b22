#include "invoker.h"

namespace carvix::bridge {

void InvokeByName(IDispatch* object, const std::string& name, std::uint16_t flags,
                  const Arguments& args, automation::ScopedVariant& result) {
    const automation::Object target = automation::Object::Share(object);
    DISPID id = DISPID_UNKNOWN;
    try {
        id = target.IdOf(automation::Utf16(name));
    } catch (const automation::ClientError& e) {
        throw BridgeError{e.hresult, "The object has no member " + name + "."};
    }
    try {
        target.Invoke(id, flags, args, result, name);
    } catch (const automation::ClientError& e) {
        throw BridgeError{e.hresult, e.message};
    }
}

std::string TextOf(HRESULT hr) {
    std::string text = automation::MessageText(hr);
    return text.empty() ? "The operation failed with " + HexCode(hr) + "." : text;
}

}  // namespace carvix::bridge
