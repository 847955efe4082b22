// Module-wide state of carvix-qx.so: the lock count that DllCanUnloadNow reports, and the
// object map that ties each class to its factory, registration and type information.
#pragma once

#include "carvix/automation/typeinfo.h"

#include <span>

namespace carvix::com {

/// Objects alive plus server locks (IClassFactory::LockServer, held factories).
void LockModule() noexcept;
void UnlockModule() noexcept;
long ModuleLockCount() noexcept;

using CreateFn = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

/// One row of the object map. Adding a class means adding its row to kObjectMap
/// (object_map.cpp) in the documented order; registration, DllGetClassObject and the type
/// library dump all follow from the row.
struct ClassEntry {
    const char16_t* className;    // "UtilitiesService"; registry description is "<name> Class"
    const char16_t* coclassName;  // type-library coclass name (usually className)
    const CLSID& clsid;
    const char16_t* progIdStem;  // "CARVIX.Utilities"; "<stem>.1" is the versioned ProgID
    int scriptId;                // resource ID of the class's registry script
    const automation::InterfaceDesc& primary;
    bool objectSafety;  // answers IObjectSafety
    CreateFn create;
};

std::span<const ClassEntry> ObjectMap();
const ClassEntry* FindClass(REFCLSID clsid);
/// The class whose primary interface is `iid`, or nullptr.
const ClassEntry* FindClassOf(REFIID iid);

/// The one way the module's objects create each other: straight from the object map, with no
/// registry and no second copy of the module (the block objects a service hands out, the
/// entries of the voluntary-insurance list). CLASS_E_CLASSNOTAVAILABLE for a class the
/// module does not serve.
HRESULT CreateObject(REFCLSID clsid, REFIID riid, void** ppv);

}  // namespace carvix::com
