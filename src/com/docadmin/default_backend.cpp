// The backend of the services the class factory creates: the card through the card
// application, the block objects through the module's object map.
#include "carvix/com/module.h"
#include "docadmin/block_handover.h"
#include "docadmin/docadmin_backend.h"
#include "docadmin/verified_read.h"

namespace carvix::com {
namespace {

class ModuleBackend final : public DocAdminBackend {
  public:
    void ReadVerified(const std::u16string& reader, std::uint16_t appId,
                      CardBlock& model) override {
        ReadVerifiedFromCard(reader, appId, model);
    }
    // In process, straight from the object map: the classes are this module's own, so
    // creation needs neither the registry nor a second load of the module.
    HRESULT CreateBlockObject(const CLSID& clsid, const IID& iid, void** ppv) override {
        const ClassEntry* entry = FindClass(clsid);
        if (entry == nullptr) {
            *ppv = nullptr;
            return CLASS_E_CLASSNOTAVAILABLE;
        }
        return entry->create(nullptr, iid, ppv);
    }
    HRESULT LoadBlockObject(const ReadMethod&, IUnknown* object, CardBlock& model) override {
        return LoadModelInto(object, model);
    }
};

}  // namespace

DocAdminBackend& DefaultDocAdminBackend() {
    static ModuleBackend backend;
    return backend;
}

}  // namespace carvix::com
