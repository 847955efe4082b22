// Calling a member of an object by name, as a script engine does, and the text of a failure.
#pragma once

#include "bridge_error.h"

#include "dispatch_client.h"

#include <cstdint>
#include <string>
#include <vector>

namespace carvix::bridge {

/// Arguments in their natural order; cleared on destruction.
class ArgumentList {
  public:
    ArgumentList() = default;
    ~ArgumentList();
    ArgumentList(const ArgumentList&) = delete;
    ArgumentList& operator=(const ArgumentList&) = delete;
    /// A new empty argument at the end.
    VARIANT* Add();
    std::size_t Size() const { return values_.size(); }
    /// The arguments last first, as IDispatch::Invoke takes them.
    std::vector<VARIANT>& Reversed();

  private:
    std::vector<VARIANT> values_;
    bool reversed_ = false;
};

/// Invokes member `name` of `object` with `flags` (DISPATCH_METHOD, DISPATCH_PROPERTYGET or
/// DISPATCH_PROPERTYPUT; a put passes its one argument as the new value). Throws
/// BridgeError: for DISP_E_EXCEPTION the member's own HRESULT and description.
void InvokeByName(IDispatch* object, const std::string& name, std::uint16_t flags,
                  ArgumentList& args, VARIANT* result);

/// The message text of HRESULTs, from the module's own message table (CARVIX.Utilities),
/// with a plain fallback when the module cannot say.
class MessageTexts {
  public:
    std::string TextOf(HRESULT hr);

  private:
    cli::Dispatch utilities_;
    bool tried_ = false;
};

}  // namespace carvix::bridge
