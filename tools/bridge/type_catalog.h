// What the page learns about an object's type: its methods, its properties (with whether
// each can be read and written) and the getters a snapshot reads. Built once per interface
// from the object's type information and kept for the process, so handing out the
// hundredth block object costs no description work.
#pragma once

#include "carvix/automation/client.h"

#include <nlohmann/json.hpp>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace carvix::bridge {

struct TypeShape {
    std::string name;           // the interface's name ("" without type information)
    nlohmann::json methods;     // ["ReadVLDocumentBlock", ...]
    nlohmann::json properties;  // {"CardID": {"get": true, "put": false}, ...}
    struct Getter {
        std::string name;
        DISPID id;
    };
    std::vector<Getter> snapshot;  // property getters without arguments, in member order
};

/// The shape of the interface `type` describes.
std::shared_ptr<const TypeShape> ShapeFromDescription(const automation::TypeDescription& type);

/// Shapes by interface name. Safe to use from several threads.
class TypeCatalog {
  public:
    /// The shape of `object`'s type; an empty shape when the object gives no type information.
    std::shared_ptr<const TypeShape> ShapeOf(IDispatch* object);

  private:
    std::mutex lock_;
    std::map<std::string, std::shared_ptr<const TypeShape>> shapes_;  // by interface name
};

}  // namespace carvix::bridge
