// The type library as JSON, built from the object map.
#include "typelib.h"

#include "carvix/automation/guid.h"
#include "carvix/com/guids.h"
#include "carvix/com/module.h"
#include "registration.h"

namespace carvix::com {

std::string DescribeTypeLibraryJson() {
    using automation::JsonString;
    std::string out =
        "{\"name\":" + JsonString(kTypeLibName) + ",\"version\":" + JsonString(kTypeLibVersion) +
        ",\"help\":" + JsonString(kTypeLibHelp) +
        ",\"libid\":" + JsonString(automation::GuidToString(kLibId)) + ",\"coclasses\":[";
    bool first = true;
    for (const ClassEntry& c : ObjectMap()) {
        const std::u16string stem = c.progIdStem;
        out += first ? "{" : ",{";
        first = false;
        out += "\"name\":" + JsonString(c.coclassName) +
               ",\"clsid\":" + JsonString(automation::GuidToString(c.clsid)) +
               ",\"help\":" + JsonString(std::u16string(c.className) + u" Class") +
               ",\"progId\":" + JsonString(stem + u".1") +
               ",\"versionIndependentProgId\":" + JsonString(stem) +
               ",\"threadingModel\":\"Apartment\",\"interface\":" + JsonString(c.primary.name) +
               ",\"objectSafety\":" + (c.objectSafety ? "true" : "false") + "}";
    }
    out += "],\"interfaces\":[";
    first = true;
    for (const ClassEntry& c : ObjectMap()) {
        out += first ? "" : ",";
        first = false;
        out += automation::DescribeInterfaceJson(c.primary);
    }
    return out + "]}";
}

}  // namespace carvix::com
