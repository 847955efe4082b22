#include "type_catalog.h"

#include <algorithm>

namespace carvix::bridge {
namespace {

using Json = nlohmann::json;
using automation::Invocation;

std::shared_ptr<const TypeShape> EmptyShape() {
    static const auto empty = [] {
        auto shape = std::make_shared<TypeShape>();
        shape->methods = Json::array();
        shape->properties = Json::object();
        return std::shared_ptr<const TypeShape>(shape);
    }();
    return empty;
}

}  // namespace

std::shared_ptr<const TypeShape> ShapeFromDescription(const automation::TypeDescription& type) {
    auto shape = std::make_shared<TypeShape>();
    shape->name = type.name;
    shape->methods = Json::array();
    shape->properties = Json::object();
    for (const automation::Member& member : type.members) {
        const std::string& name = member.name;
        if (member.inProcessOnly) {
            continue;  // takes a raw pointer: no page can call it
        }
        if (member.kind == Invocation::Method) {
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
        if (member.kind == Invocation::PropertyGet) {
            access["get"] = true;
            if (member.TakesNoArguments()) {
                shape->snapshot.push_back({name, member.id});
            }
        } else {
            access["put"] = true;
        }
    }
    return shape;
}

std::shared_ptr<const TypeShape> TypeCatalog::ShapeOf(IDispatch* object) {
    const auto type = automation::Object::Share(object).TryType();
    if (type == nullptr) {
        return EmptyShape();
    }
    if (type->name.empty()) {
        return ShapeFromDescription(*type);  // nothing to know it again by
    }
    const std::lock_guard hold(lock_);
    if (auto found = shapes_.find(type->name); found != shapes_.end()) {
        return found->second;
    }
    auto shape = ShapeFromDescription(*type);
    shapes_.emplace(type->name, shape);
    return shape;
}

}  // namespace carvix::bridge
