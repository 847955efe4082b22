// The objects one page holds: each under a small handle, unique for the connection and never
// reused, until the page releases it or the connection ends. Handing an object out describes
// it (methods, properties) and, for a type without methods such as a block, reads every
// argument-less property once so the page has the whole block in one round trip.
#pragma once

#include "type_catalog.h"
#include "values.h"

#include "carvix/automation/client.h"

#include <cstdint>
#include <functional>
#include <map>

namespace carvix::bridge {

/// Owns one reference to every object the page holds. Used by the thread that runs the
/// page's requests only.
class ObjectTable final : public ObjectBroker {
  public:
    explicit ObjectTable(TypeCatalog& catalog) : catalog_(catalog) {}
    ~ObjectTable() override { ReleaseAll(); }
    ObjectTable(const ObjectTable&) = delete;
    ObjectTable& operator=(const ObjectTable&) = delete;

    Json Export(IDispatch* object) override;
    IDispatch* Find(std::int64_t handle) const override;

    /// Drops the table's reference; false for a handle the table does not hold.
    bool Release(std::int64_t handle);
    /// Drops every reference (the page went away).
    void ReleaseAll();
    std::size_t Count() const { return objects_.size(); }

    /// Called with true before a snapshot is read and with false after: the host holds back
    /// notices the module shows while reading properties the page did not ask for.
    void OnSnapshot(std::function<void(bool)> quiet) { quiet_ = std::move(quiet); }

  private:
    Json Snapshot(IDispatch* object, const TypeShape& shape);
    void EndSnapshot();

    TypeCatalog& catalog_;
    std::map<std::int64_t, automation::Object> objects_;
    std::int64_t next_ = 1;
    int snapshotDepth_ = 0;  // objects inside snapshots of objects
    std::function<void(bool)> quiet_;
};

}  // namespace carvix::bridge
