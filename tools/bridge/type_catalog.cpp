#include "type_catalog.h"

#include "dispatch_client.h"

#include "carvix/automation/scoped.h"
#include "carvix/automation/typeinfo.h"

#include <algorithm>

namespace carvix::bridge {
namespace {

using Json = nlohmann::json;

std::shared_ptr<const TypeShape> EmptyShape() {
    static const auto empty = [] {
        auto shape = std::make_shared<TypeShape>();
        shape->methods = Json::array();
        shape->properties = Json::object();
        return std::shared_ptr<const TypeShape>(shape);
    }();
    return empty;
}

// A getter that takes nothing from the caller: every parameter is the result.
bool TakesNoArguments(const Json& member) {
    for (const Json& p : member.at("params")) {
        if (p.at("in").get<bool>()) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::shared_ptr<const TypeShape> ShapeFromDescription(const Json& description) {
    auto shape = std::make_shared<TypeShape>();
    shape->name = description.at("name").get<std::string>();
    shape->methods = Json::array();
    shape->properties = Json::object();
    for (const Json& member : description.at("members")) {
        const std::string& kind = member.at("kind").get_ref<const std::string&>();
        const std::string& name = member.at("name").get_ref<const std::string&>();
        if (member.value("inProcessOnly", false)) {
            continue;  // takes a raw pointer: no page can call it
        }
        if (kind == "method") {
            if (std::find(shape->methods.begin(), shape->methods.end(), name) ==
                shape->methods.end()) {
                shape->methods.push_back(name);
            }
            continue;
        }
        Json& access = shape->properties[name];
        if (access.is_null()) {
            access = Json{{"get", false}, {"put", false}};
        }
        if (kind == "propget") {
            access["get"] = true;
            if (TakesNoArguments(member)) {
                shape->snapshot.push_back({name, member.at("dispid").get<DISPID>()});
            }
        } else {
            access["put"] = true;
        }
    }
    return shape;
}

std::shared_ptr<const TypeShape> TypeCatalog::ShapeOf(IDispatch* object) {
    ITypeInfo* info = nullptr;  // the runtime's own: lives as long as the process
    if (FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) || info == nullptr) {
        return EmptyShape();
    }
    automation::ScopedBstr name;
    // -1 names the type itself rather than one of its members.
    const bool named =
        SUCCEEDED(info->GetDocumentation(-1, name.Put(), nullptr, nullptr, nullptr)) &&
        name.Get() != nullptr;
    const std::u16string key =
        named ? std::u16string(name.Get(), SysStringLen(name.Get())) : std::u16string();
    if (named) {
        const std::lock_guard hold(lock_);
        if (auto found = shapes_.find(key); found != shapes_.end()) {
            info->Release();
            return found->second;
        }
    }
    automation::ScopedBstr json;
    const HRESULT hr = automation::DescribeTypeInfoJson(info, json.Put());
    info->Release();
    if (FAILED(hr)) {
        return EmptyShape();
    }
    std::shared_ptr<const TypeShape> shape;
    try {
        shape = ShapeFromDescription(Json::parse(cli::BstrText(json.Get())));
    } catch (const Json::exception&) {
        return EmptyShape();
    }
    if (named) {
        const std::lock_guard hold(lock_);
        shapes_.emplace(key, shape);
    }
    return shape;
}

}  // namespace carvix::bridge
