#include "reader_choice.h"

#include "client_names.h"

#include <cstdint>

namespace carvix::cli {
namespace {

constexpr HRESULT kCancelled = static_cast<HRESULT>(0x800704C7u);

}  // namespace

std::string ChooseReader(const std::string& given, bool contactless, TerminalChooser& chooser) {
    if (!given.empty()) {
        return given;
    }
    chooser.Install();
    const Object smartCard = Object::Create(u"CARVIX.SmartCard");
    ScopedVariant name;
    try {
        smartCard.Call(contactless ? u"SelectContactlessReader" : u"SelectReader", {}, name);
    } catch (const ClientError& e) {
        if (e.hresult != kCancelled) {
            throw;
        }
        const std::size_t offered = chooser.UnansweredReaders();
        const std::string card = contactless ? "contactless card" : "identity card";
        if (offered == SIZE_MAX) {
            throw ClientFailure{"no reader holds a suitable " + card +
                                    " and standard input is not a terminal to wait for one; "
                                    "insert the card, or name the reader with --reader NAME",
                                1};
        }
        if (offered > 0) {
            throw ClientFailure{std::to_string(offered) + " readers hold a suitable " + card +
                                    " and standard input is not a terminal to ask which; "
                                    "name one with --reader NAME (carvix readers lists them)",
                                1};
        }
        throw ClientFailure{"no reader chosen", 1};
    }
    return name->vt == VT_BSTR ? Utf8Of(name->bstrVal) : std::string();
}

}  // namespace carvix::cli
