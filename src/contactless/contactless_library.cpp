#include "carvix/contactless/contactless_library.h"

#include "carvix/support/exceptions.h"

#include <dlfcn.h>

#include <cerrno>
#include <filesystem>

namespace carvix::contactless {
namespace {

/// The library path: the directory, a separator unless it already ends with one, the name.
std::string LibraryPath(const std::string& directory) {
    std::string path = directory;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    return path + kLibraryFileName;
}

template <class Fn>
bool Bind(void* module, const char* name, Fn& out) {
    void* symbol = ::dlsym(module, name);
    out = reinterpret_cast<Fn>(symbol);
    return symbol != nullptr;
}

}  // namespace

ContactlessLibrary::ContactlessLibrary(const std::string& moduleDirectory) {
    // An absolute path makes dlopen take exactly this file. Its own dependencies are found
    // through its RUNPATH ($ORIGIN for the substitute), i.e. in its own directory first.
    module_ = ::dlopen(LibraryPath(moduleDirectory).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr) {
        return;
    }
    // Looked up in this order, stopping at the first one missing; all five are required,
    // even the two that are never called.
    if (Bind(module_, "GetCardInfo_CL", getCardInfo_) && Bind(module_, "Format_CL", format_) &&
        Bind(module_, "KeyInitAndPrePerso_CL", keyInitAndPrePerso_) &&
        Bind(module_, "WriteFile_CL", writeFile_) && Bind(module_, "ReadFile_CL", readFile_)) {
        loaded_ = 1;
    }
}

ContactlessLibrary::~ContactlessLibrary() {
    if (module_ != nullptr) {
        ::dlclose(module_);
    }
}

void ContactlessLibrary::SetReaderName(std::u16string_view name) noexcept {
    readerName_.fill(u'\0');
    readerNameLength_ = 0;
    if (name.size() >= kTextArea) {
        return;
    }
    name.copy(readerName_.data(), name.size());
    readerNameLength_ = static_cast<std::uint32_t>(name.size());
}

std::int32_t ContactlessLibrary::GetCardInfo(const std::uint8_t* key, std::uint32_t keyLength) {
    readerNameLength_ = kTextArea;
    firstInfoLength_ = kTextArea;
    secondInfoLength_ = kTextArea;
    const std::int32_t result =
        getCardInfo_(readerName_.data(), kTextArea, firstInfo_.data(), kTextArea,
                     secondInfo_.data(), kTextArea, key, keyLength);
    if (result != 1) {
        readerNameLength_ = 0;
        firstInfoLength_ = 0;
        secondInfoLength_ = 0;
    }
    return result;
}

std::int32_t ContactlessLibrary::ReadFile(std::uint32_t fileNumber, const std::uint8_t* key,
                                          std::uint32_t keyLength, std::uint8_t* buffer,
                                          std::uint32_t* size, std::int32_t* errorCode) {
    readerNameLength_ = kTextArea;
    return readFile_(readerName_.data(), kTextArea, fileNumber, key, keyLength, buffer, size,
                     errorCode);
}

std::int32_t ContactlessLibrary::WriteFile(std::uint32_t fileNumber, const std::uint8_t* key,
                                           std::uint32_t keyLength, const std::uint8_t* data,
                                           std::uint32_t dataLength, std::int32_t* errorCode) {
    readerNameLength_ = kTextArea;
    return writeFile_(readerName_.data(), kTextArea, fileNumber, key, keyLength, data, dataLength,
                      errorCode);
}

const std::string& GetModuleDirectory() {
    static const std::string directory = [] {
        Dl_info info{};
        if (::dladdr(reinterpret_cast<void*>(&GetModuleDirectory), &info) == 0 ||
            info.dli_fname == nullptr || info.dli_fname[0] == '\0') {
            throw Orvel::Win32Exception("GetModuleDirectory", 126);  // ERROR_MOD_NOT_FOUND
        }
        std::error_code ec;
        std::filesystem::path file = std::filesystem::canonical(info.dli_fname, ec);
        if (ec) {
            file = info.dli_fname;
        }
        return file.parent_path().string();
    }();
    return directory;
}

}  // namespace carvix::contactless
