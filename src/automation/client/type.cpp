// Type information for the client library: the runtime's description of an object's
// interface, read once per interface and kept for the process.
#include "carvix/automation/client.h"
#include "carvix/automation/typeinfo.h"

#include <nlohmann/json.hpp>

#include <map>
#include <mutex>

namespace carvix::automation {
namespace {

using Json = nlohmann::json;

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

Invocation KindOf(const std::string& kind) {
    if (kind == "propget") {
        return Invocation::PropertyGet;
    }
    if (kind == "propput") {
        return Invocation::PropertyPut;
    }
    return Invocation::Method;
}

// Throws Json::exception for a description of another form.
TypeDescription Parse(const std::string& text) {
    const Json description = Json::parse(text);
    TypeDescription type;
    type.name = description.at("name").get<std::string>();
    type.help = description.value("help", std::string());
    for (const Json& m : description.at("members")) {
        Member member;
        member.id = m.at("dispid").get<DISPID>();
        member.kind = KindOf(m.at("kind").get<std::string>());
        member.name = m.at("name").get<std::string>();
        member.help = m.value("help", std::string());
        member.inProcessOnly = m.value("inProcessOnly", false);
        for (const Json& p : m.at("params")) {
            member.params.push_back({p.at("name").get<std::string>(), p.at("vt").get<VARTYPE>(),
                                     p.at("in").get<bool>(), p.value("retval", false)});
        }
        type.members.push_back(std::move(member));
    }
    return type;
}

// The interface's name, the key of the cache ("" when the runtime gives none).
std::u16string InterfaceName(ITypeInfo* info) {
    ScopedBstr name;
    // -1 names the type itself rather than one of its members.
    if (FAILED(info->GetDocumentation(-1, name.Put(), nullptr, nullptr, nullptr))) {
        return {};
    }
    return name.Text();
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool Member::TakesNoArguments() const {
    for (const Parameter& p : params) {
        if (p.in) {
            return false;
        }
    }
    return true;
}

const Member* TypeDescription::Find(std::string_view wanted, Invocation kind) const {
    for (const Member& m : members) {
        if (m.kind == kind && SameName(m.name, wanted)) {
            return &m;
        }
    }
    return nullptr;
}

std::shared_ptr<const TypeDescription> Object::Type() const {
    if (!p_) {
        throw ClientError(E_POINTER, "reading the type information");
    }
    ITypeInfo* info = nullptr;  // the runtime's own: lives as long as the process
    HRESULT hr = p_->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info);
    if (FAILED(hr) || info == nullptr) {
        throw ClientError(FAILED(hr) ? hr : E_NOINTERFACE, "reading the type information");
    }
    const ComPtr<ITypeInfo> held = ComPtr<ITypeInfo>::Adopt(info);
    // An interface's description never changes while the process runs, and a client that
    // walks many objects asks for the same few interfaces over and over: describe each once.
    static std::mutex cacheLock;
    static std::map<std::u16string, std::shared_ptr<const TypeDescription>> cache;
    const std::u16string name = InterfaceName(info);
    if (!name.empty()) {
        const std::lock_guard hold(cacheLock);
        if (auto found = cache.find(name); found != cache.end()) {
            return found->second;
        }
    }
    ScopedBstr json;
    hr = DescribeTypeInfoJson(info, json.Put());
    if (FAILED(hr)) {
        throw ClientError(hr, "reading the type information");
    }
    std::shared_ptr<const TypeDescription> type;
    try {
        type = std::make_shared<const TypeDescription>(Parse(Utf8Of(json.Get())));
    } catch (const Json::exception&) {
        throw ClientError(E_UNEXPECTED, "reading the type information",
                          "The runtime described the type in a form this client does not read.");
    }
    if (!name.empty()) {
        const std::lock_guard hold(cacheLock);
        cache.emplace(name, type);
    }
    return type;
}

std::shared_ptr<const TypeDescription> Object::TryType() const noexcept {
    try {
        return Type();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace carvix::automation
