#include "image_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace carvix::vcard {

namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw ImageError(where + ": " + what);
}

const json& Member(const json& obj, const char* key, const std::string& where) {
    if (!obj.is_object() || !obj.contains(key)) {
        Fail(where, std::string("missing \"") + key + "\"");
    }
    return obj.at(key);
}

Bytes HexField(const json& value, const std::string& where) {
    if (!value.is_string()) {
        Fail(where, "expected a hex string");
    }
    try {
        return FromHex(value.get<std::string>());
    } catch (const std::invalid_argument& e) {
        Fail(where, e.what());
    }
}

// A whole number from 0 to max, whether the JSON holds it signed or unsigned.
bool WholeUpTo(const json& value, std::int64_t max) {
    return value.is_number_integer() && value.get<std::int64_t>() >= 0 &&
           value.get<std::int64_t>() <= max;
}

// A 16-bit file identifier written as "0D00" (hex text) or as a number.
std::uint16_t FileId(const json& value, const std::string& where) {
    if (WholeUpTo(value, 0xFFFF)) {
        return static_cast<std::uint16_t>(value.get<std::int64_t>());
    }
    if (value.is_string()) {
        const Bytes b = HexField(value, where);
        if (b.size() == 2) {
            return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
        }
    }
    Fail(where, "expected a file identifier such as \"0D00\"");
}

Protocol ParseProtocol(const json& doc) {
    const auto& p = Member(doc, "protocol", "image");
    if (p == "T=0") {
        return Protocol::T0;
    }
    if (p == "T=1") {
        return Protocol::T1;
    }
    Fail("protocol", "expected \"T=0\" or \"T=1\"");
}

ElementaryFile ParseFile(const json& f, const std::string& where) {
    ElementaryFile ef;
    ef.id = FileId(Member(f, "id", where), where + ".id");
    ef.data = f.contains("data") ? HexField(f.at("data"), where + ".data") : Bytes{};
    if (f.contains("size")) {
        const auto& s = f.at("size");
        if (!WholeUpTo(s, 0xFFFF)) {
            Fail(where + ".size", "expected a number from 0 to 65535");
        }
        ef.size = static_cast<std::uint16_t>(s.get<std::int64_t>());
    } else if (ef.data.size() <= 0xFFFF) {
        ef.size = static_cast<std::uint16_t>(ef.data.size());
    }
    if (ef.data.size() > ef.size) {
        Fail(where, "data is longer than the file size");
    }
    return ef;
}

Role ParseRole(const json& r, const std::string& where, const Application& app) {
    Role role;
    const auto& id = Member(r, "id", where);
    if (!WholeUpTo(id, 127)) {
        Fail(where + ".id", "expected a role number from 0 to 127");
    }
    role.id = static_cast<std::uint8_t>(id.get<std::int64_t>());
    role.key = HexField(Member(r, "key", where), where + ".key");
    if (role.key.size() != 16 && role.key.size() != 24 && role.key.size() != 32) {
        Fail(where + ".key", "an AES key has 16, 24 or 32 bytes");
    }
    if (r.contains("update")) {
        const auto& list = r.at("update");
        if (!list.is_array()) {
            Fail(where + ".update", "expected a list of file identifiers");
        }
        for (std::size_t i = 0; i < list.size(); ++i) {
            const auto fid = FileId(list[i], where + ".update[" + std::to_string(i) + "]");
            if (!app.files.contains(fid)) {
                Fail(where + ".update", "names a file the application does not have");
            }
            role.updatable.insert(fid);
        }
    }
    return role;
}

Application ParseApplication(const json& a, const std::string& where) {
    Application app;
    app.aid = HexField(Member(a, "aid", where), where + ".aid");
    if (app.aid.size() < 5 || app.aid.size() > 16) {
        Fail(where + ".aid", "an AID has 5 to 16 bytes");
    }
    if (a.contains("label") && a.at("label").is_string()) {
        app.label = a.at("label").get<std::string>();
    }
    const auto& files = a.contains("files") ? a.at("files") : json::array();
    for (std::size_t i = 0; i < files.size(); ++i) {
        auto ef = ParseFile(files[i], where + ".files[" + std::to_string(i) + "]");
        if (!app.files.emplace(ef.id, ef).second) {
            Fail(where, "file " + ToHex(Bytes{std::uint8_t(ef.id >> 8), std::uint8_t(ef.id)}) +
                            " appears twice");
        }
    }
    const auto& roles = a.contains("roles") ? a.at("roles") : json::array();
    for (std::size_t i = 0; i < roles.size(); ++i) {
        auto role = ParseRole(roles[i], where + ".roles[" + std::to_string(i) + "]", app);
        if (!app.roles.emplace(role.id, role).second) {
            Fail(where, "role " + std::to_string(role.id) + " appears twice");
        }
    }
    return app;
}

ContactlessPart ParseContactless(const json& c) {
    const std::string where = "contactless";
    ContactlessPart part;
    const auto& serial = Member(c, "serial", where);
    if (!serial.is_string() || serial.get<std::string>().empty() ||
        serial.get<std::string>().size() > 16) {
        Fail(where + ".serial", "expected 1 to 16 ASCII characters");
    }
    part.serial = serial.get<std::string>();
    for (char ch : part.serial) {
        if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) > 0x7E) {
            Fail(where + ".serial", "expected printable ASCII");
        }
    }
    part.readKey = HexField(Member(c, "readKey", where), where + ".readKey");
    if (part.readKey.size() != 16) {
        Fail(where + ".readKey", "the read key has 16 bytes");
    }
    part.writeKey = HexField(Member(c, "writeKey", where), where + ".writeKey");
    if (part.writeKey.empty() || part.writeKey.size() > 64) {
        Fail(where + ".writeKey", "the write key has 1 to 64 bytes");
    }
    for (int i = 0; i < 2; ++i) {
        const std::string key = "file" + std::to_string(i + 1);
        part.files[i] = c.contains(key) ? HexField(c.at(key), where + "." + key) : Bytes{};
        if (part.files[i].size() > ContactlessPart::kFileCapacity) {
            Fail(where + "." + key, "a contactless file holds at most 1024 bytes");
        }
    }
    return part;
}

}  // namespace

CardImage ParseImage(const json& doc) {
    if (!doc.is_object()) {
        Fail("image", "expected a JSON object");
    }
    CardImage image;
    image.atr = HexField(Member(doc, "atr", "image"), "atr");
    if (image.atr.size() < 2 || image.atr.size() > 33) {
        Fail("atr", "an ATR has 2 to 33 bytes");
    }
    image.protocol = ParseProtocol(doc);
    const auto& apps = Member(doc, "applications", "image");
    if (!apps.is_array()) {
        Fail("applications", "expected a list");
    }
    for (std::size_t i = 0; i < apps.size(); ++i) {
        auto app = ParseApplication(apps[i], "applications[" + std::to_string(i) + "]");
        for (const auto& other : image.applications) {
            if (other.aid == app.aid) {
                Fail("applications", "AID " + ToHex(app.aid) + " appears twice");
            }
        }
        image.applications.push_back(std::move(app));
    }
    if (doc.contains("contactless")) {
        image.contactless = ParseContactless(doc.at("contactless"));
    }
    return image;
}

ImageFile::ImageFile(std::filesystem::path path) : path_(std::move(path)) {
    std::ifstream in(path_);
    if (!in) {
        throw ImageError(path_.string() + ": cannot open the card image");
    }
    try {
        doc_ = json::parse(in);
    } catch (const json::exception& e) {
        throw ImageError(path_.string() + ": " + e.what());
    }
    image_ = ParseImage(doc_);
}

void ImageFile::Save() {
    // Only file contents change while the card runs; patch them into the document.
    auto& apps = doc_.at("applications");
    for (std::size_t i = 0; i < apps.size(); ++i) {
        auto& files = apps[i]["files"];
        for (auto& f : files) {
            const auto fid = FileId(f.at("id"), "files.id");
            f["data"] = ToHex(image_.applications[i].files.at(fid).data);
        }
    }
    if (image_.contactless) {
        doc_["contactless"]["file1"] = ToHex(image_.contactless->files[0]);
        doc_["contactless"]["file2"] = ToHex(image_.contactless->files[1]);
    }
    WriteFileAtomically(path_, doc_.dump(2) + "\n");
}

void WriteFileAtomically(const std::filesystem::path& path, const std::string& text) {
    const std::filesystem::path tmp = path.string() + ".tmp." + std::to_string(getpid());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw ImageError(tmp.string() + ": " + std::strerror(errno));
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    const int err = errno;
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        const int e = ok ? errno : err;
        ::unlink(tmp.c_str());
        throw ImageError(path.string() + ": cannot write the card image: " + std::strerror(e));
    }
}

}  // namespace carvix::vcard
