// The machine-readable description of an interface, as JSON.
#include "carvix/automation/guid.h"
#include "carvix/automation/typeinfo.h"

#include <cstdio>

namespace carvix::automation {
namespace {

const char* TypeName(VARTYPE vt) {
    switch (vt) {
        case VT_I4:
            return "I4";
        case VT_UI4:
            return "UI4";
        case VT_UI2:
            return "UI2";
        case VT_BOOL:
            return "BOOL";
        case VT_I8:
            return "I8";
        case VT_UI8:
            return "UI8";
        case VT_DATE:
            return "DATE";
        case VT_R4:
            return "R4";
        case VT_BSTR:
            return "BSTR";
        case VT_VARIANT:
            return "VARIANT";
        case VT_DISPATCH:
            return "DISPATCH";
        case VT_UNKNOWN:
            return "UNKNOWN";
        default:
            return "UNKNOWN";
    }
}

const char* KindName(MemberKind k) {
    switch (k) {
        case MemberKind::PropertyGet:
            return "propget";
        case MemberKind::PropertyPut:
            return "propput";
        default:
            return "method";
    }
}

}  // namespace

std::string JsonString(std::u16string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c == u'"' || c == u'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out + "\"";
}

std::string DescribeInterfaceJson(const InterfaceDesc& desc) {
    std::string out =
        "{\"name\":" + JsonString(desc.name) + ",\"iid\":" + JsonString(GuidToString(desc.iid)) +
        ",\"help\":" + JsonString(desc.help ? desc.help : u"") + ",\"dual\":true,\"members\":[";
    bool firstMember = true;
    for (const MemberDesc& m : desc.members) {
        out += firstMember ? "" : ",";
        firstMember = false;
        out += "{\"dispid\":" + std::to_string(m.id) + ",\"kind\":\"" + KindName(m.kind) +
               "\",\"name\":" + JsonString(m.name) +
               ",\"help\":" + JsonString(m.help ? m.help : u"");
        if ((m.flags & kMemberInProcessOnly) != 0) {
            out += ",\"inProcessOnly\":true";
        }
        out += ",\"params\":[";
        for (std::uint8_t i = 0; i < m.paramCount; ++i) {
            const ParamDesc& p = m.params[i];
            std::string type = p.typeName != nullptr ? JsonString(p.typeName).substr(1)
                                                     : std::string(TypeName(p.vt)) + "\"";
            type.pop_back();
            if ((p.flags & kParamOut) != 0 || p.vt == VT_VARIANT) {
                type += "*";
            }
            if (p.iid != nullptr) {
                type += "*";
            }
            out += i == 0 ? "{" : ",{";
            out += "\"name\":" + JsonString(p.name ? p.name : u"") + ",\"type\":\"" + type +
                   "\",\"vt\":" + std::to_string(p.vt) +
                   ",\"in\":" + ((p.flags & kParamOut) == 0 ? "true" : "false") +
                   ",\"out\":" + ((p.flags & kParamOut) != 0 ? "true" : "false") +
                   ",\"retval\":" + ((p.flags & kParamRetval) != 0 ? "true" : "false") + "}";
        }
        out += "]}";
    }
    return out + "]}";
}

}  // namespace carvix::automation
