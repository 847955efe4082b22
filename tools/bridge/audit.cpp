#include "audit.h"

#include "carvix/automation/client.h"

#include <syslog.h>

#include <cstdio>
#include <mutex>

namespace carvix::bridge {
namespace {

using automation::SameName;

bool EndsWithName(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && SameName(text.substr(text.size() - tail.size()), tail);
}

struct Audited {
    const char* interfaceName;
    const char* member;
};

constexpr Audited kAudited[] = {
    {"IDocAdminService", "WriteVLVariablePersoData"},
    {"IDocAdminService", "WriteZKVariableAdminData"},
    {"IDocAdminService", "WriteZKVariablePersoData"},
    {"IDocAdminService", "UpdateVLContactlessData"},
    {"IPKIService", "GenerateKeyPair"},
    {"IPKIService", "ImportCertificate"},
};

std::mutex sinkLock;
AuditSink sink;

// A field of the journal line: quotes, backslashes and control characters escaped, so a page
// cannot forge a line or another field.
std::string Field(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::optional<std::string> AuditedOperation(std::string_view interfaceName,
                                            std::string_view member) {
    for (const Audited& a : kAudited) {
        if (SameName(interfaceName, a.interfaceName) && SameName(member, a.member)) {
            return std::string(a.interfaceName) + "." + a.member;
        }
    }
    return std::nullopt;
}

std::string AuditText(const AuditRecord& record) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(record.result));
    return "page " + Field(record.origin) + " " + record.operation + " reader " +
           Field(record.reader) + " result " + code +
           (SUCCEEDED(record.result) ? " (done)" : " (failed)");
}

AuditSink SetAuditSink(AuditSink next) {
    const std::lock_guard hold(sinkLock);
    std::swap(sink, next);
    return next;
}

void RecordAudit(const AuditRecord& record) {
    {
        const std::lock_guard hold(sinkLock);
        if (sink) {
            sink(record);
            return;
        }
    }
    ::syslog(LOG_AUTHPRIV | LOG_NOTICE, "carvix-bridge: %s", AuditText(record).c_str());
}

void ReaderMemory::Note(std::int64_t handle, std::string_view member, const Json& args) {
    if (SameName(member, "Init") && args.is_array() && !args.empty() && args[0].is_string()) {
        readers_[handle] = args[0].get<std::string>();
    }
}

std::string ReaderMemory::ReaderOf(const Json& args,
                                   const std::vector<std::string>& parameterNames) const {
    if (!args.is_array()) {
        return {};
    }
    for (std::size_t i = 0; i < args.size() && i < parameterNames.size(); ++i) {
        if (args[i].is_string() && (EndsWithName(parameterNames[i], "ReaderName") ||
                                    EndsWithName(parameterNames[i], "ContainerName"))) {
            return args[i].get<std::string>();
        }
    }
    for (const Json& arg : args) {
        const auto handle = arg.is_object() ? arg.find("$object") : arg.end();
        if (arg.is_object() && handle != arg.end() && handle->is_number_integer()) {
            const auto known = readers_.find(handle->get<std::int64_t>());
            if (known != readers_.end()) {
                return known->second;
            }
        }
    }
    return {};
}

}  // namespace carvix::bridge
