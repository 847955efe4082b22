#include "object_table.h"

namespace carvix::bridge {
namespace {

// Snapshots of objects found inside snapshots stop here, so a type whose property returns
// another object of its kind cannot make the host recurse without end.
constexpr int kMaxSnapshotDepth = 4;

}  // namespace

Json ObjectTable::Export(IDispatch* object) {
    object->AddRef();
    const std::int64_t handle = next_++;
    objects_.emplace(handle, automation::Object(object));
    const std::shared_ptr<const TypeShape> shape = catalog_.ShapeOf(object);
    Json value{{"$object", handle},
               {"type", shape->name},
               {"methods", shape->methods},
               {"properties", shape->properties}};
    if (shape->methods.empty() && !shape->snapshot.empty() && snapshotDepth_ < kMaxSnapshotDepth) {
        if (snapshotDepth_++ == 0 && quiet_) {
            quiet_(true);
        }
        Json snapshot;
        try {
            snapshot = Snapshot(object, *shape);
        } catch (...) {
            EndSnapshot();
            throw;
        }
        EndSnapshot();
        value["snapshot"] = std::move(snapshot);
    }
    return value;
}

void ObjectTable::EndSnapshot() {
    if (--snapshotDepth_ == 0 && quiet_) {
        quiet_(false);
    }
}

Json ObjectTable::Snapshot(IDispatch* object, const TypeShape& shape) {
    Json snapshot = Json::object();
    const automation::Object target = automation::Object::Share(object);
    for (const TypeShape::Getter& getter : shape.snapshot) {
        automation::ScopedVariant value;
        if (FAILED(target.TryGet(getter.id, value))) {
            continue;  // a property that cannot be read now is left out
        }
        try {
            snapshot[getter.name] = VariantToJson(*value, *this);
        } catch (const BridgeError&) {
            // A value the page cannot receive is left out like one that cannot be read.
        }
    }
    return snapshot;
}

IDispatch* ObjectTable::Find(std::int64_t handle) const {
    auto found = objects_.find(handle);
    return found == objects_.end() ? nullptr : found->second.Get();
}

bool ObjectTable::Release(std::int64_t handle) {
    return objects_.erase(handle) != 0;
}

void ObjectTable::ReleaseAll() {
    // Newest first: objects handed out later may depend on those before them.
    while (!objects_.empty()) {
        objects_.erase(std::prev(objects_.end()));
    }
}

}  // namespace carvix::bridge
