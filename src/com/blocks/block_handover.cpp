#include "carvix/com/block_handover.h"

#include "carvix/automation/interfaces.h"
#include "carvix/com/module.h"

#include <algorithm>
#include <mutex>
#include <random>
#include <vector>

namespace carvix::com {
namespace detail {
namespace {

struct LiveHandOver {
    std::uint64_t token;
    const void* typeTag;
    void* model;
    bool writable;
};

// The three words after vt spell "CX" "HO" "v1"; a VARIANT that lacks them is not ours.
constexpr std::uint16_t kMagic1 = 0x4358;
constexpr std::uint16_t kMagic2 = 0x484F;
constexpr std::uint16_t kMagic3 = 0x7631;

struct Table {
    std::mutex lock;
    std::vector<LiveHandOver> live;  // a handful at most: hand-overs nest one level
    std::mt19937_64 random{std::random_device{}()};
};

Table& TheTable() {
    static Table table;
    return table;
}

}  // namespace

std::uint64_t RegisterHandOver(const void* typeTag, void* model, bool writable) {
    Table& t = TheTable();
    const std::lock_guard guard(t.lock);
    std::uint64_t token = 0;
    do {
        token = t.random();
    } while (token == 0 || std::any_of(t.live.begin(), t.live.end(),
                                       [&](const LiveHandOver& h) { return h.token == token; }));
    t.live.push_back({token, typeTag, model, writable});
    return token;
}

void UnregisterHandOver(std::uint64_t token) noexcept {
    Table& t = TheTable();
    const std::lock_guard guard(t.lock);
    std::erase_if(t.live, [&](const LiveHandOver& h) { return h.token == token; });
}

void* ResolveHandOver(const void* typeTag, const VARIANT* arg, bool forWriting) noexcept {
    if (arg == nullptr || arg->vt != kHandOverVarType || arg->wReserved1 != kMagic1 ||
        arg->wReserved2 != kMagic2 || arg->wReserved3 != kMagic3) {
        return nullptr;
    }
    const std::uint64_t token = arg->ullVal;
    Table& t = TheTable();
    const std::lock_guard guard(t.lock);
    for (const LiveHandOver& h : t.live) {
        if (h.token == token) {
            return h.typeTag == typeTag && (h.writable || !forWriting) ? h.model : nullptr;
        }
    }
    return nullptr;
}

}  // namespace detail

ModelHandOver::ModelHandOver(const void* typeTag, void* model, bool writable)
    : token_(detail::RegisterHandOver(typeTag, model, writable)), arg_{} {
    arg_.vt = kHandOverVarType;
    arg_.wReserved1 = detail::kMagic1;
    arg_.wReserved2 = detail::kMagic2;
    arg_.wReserved3 = detail::kMagic3;
    arg_.ullVal = token_;
}

HRESULT CreateInProcess(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    const ClassEntry* entry = FindClass(clsid);
    if (entry == nullptr) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return entry->create(nullptr, riid, ppv);
}

}  // namespace carvix::com
