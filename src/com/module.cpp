// The lock count and the cached class factories.
#include "carvix/com/module.h"
#include "class_factory.h"

#include "carvix/automation/oleauto.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace carvix::com {
namespace {

std::atomic<long> g_locks{0};

}  // namespace

void LockModule() noexcept {
    ++g_locks;
}
void UnlockModule() noexcept {
    --g_locks;
}
long ModuleLockCount() noexcept {
    return g_locks.load();
}

const ClassEntry* FindClass(REFCLSID clsid) {
    for (const ClassEntry& entry : ObjectMap()) {
        if (entry.clsid == clsid) {
            return &entry;
        }
    }
    return nullptr;
}

const ClassEntry* FindClassOf(REFIID iid) {
    for (const ClassEntry& entry : ObjectMap()) {
        if (entry.primary.iid == iid) {
            return &entry;
        }
    }
    return nullptr;
}

HRESULT CreateObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    const ClassEntry* entry = FindClass(clsid);
    return entry != nullptr ? entry->create(nullptr, riid, ppv) : CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    // The module's lock is a std::mutex, which cannot fail to initialise, so the
    // E_UNEXPECTED path of a failed module start does not exist here.
    const ClassEntry* entry = FindClass(clsid);
    if (entry == nullptr) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    static std::mutex lock;  // the module's critical section: guards factory creation
    // Factories live until the module is unloaded (or the process ends).
    static std::vector<std::unique_ptr<ClassFactory>> cache(ObjectMap().size());
    const std::size_t index = static_cast<std::size_t>(entry - ObjectMap().data());
    ClassFactory* factory = nullptr;
    {
        std::lock_guard guard(lock);
        if (cache[index] == nullptr) {
            // Its one reference belongs to the cache.
            cache[index].reset(new (std::nothrow) ClassFactory(entry->create));
        }
        factory = cache[index].get();
    }
    if (factory == nullptr) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    HRESULT hr = factory->QueryInterface(riid, ppv);
    return SUCCEEDED(hr) && *ppv == nullptr ? CLASS_E_CLASSNOTAVAILABLE : hr;
}

}  // namespace carvix::com
