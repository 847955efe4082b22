// Lists the PC/SC readers through CARVIX.SmartCard, or reads the VL document block of the
// card in READER through CARVIX.DocAdmin, and prints it.
//
//     read_document_cpp                 the readers, one a line
//     read_document_cpp READER [APP]    the block (APP: the application ID, 1 by default)
//
// Build against the installed SDK with CMake (CMakeLists.txt beside this file) or with
//     c++ -std=c++20 read_document.cpp $(pkg-config --cflags --libs carvix-com)
// Exit status: 0 on success, 1 when a call fails, 2 for bad usage.
#include <carvix/automation/scoped.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using carvix::automation::ComPtr;
using carvix::automation::ScopedBstr;
using carvix::automation::ScopedVariant;

// A failed call: what was called and its HRESULT.
struct Failure : std::runtime_error {
    Failure(const std::string& what, HRESULT code) : std::runtime_error(what), hr(code) {}
    HRESULT hr;
};

std::u16string Utf16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::string Utf8(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

ComPtr<IDispatch> Create(const std::string& progId) {
    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(Utf16(progId).c_str(), &clsid);
    ComPtr<IDispatch> object;
    if (SUCCEEDED(hr)) {
        hr =
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.PutVoid());
    }
    if (FAILED(hr)) {
        throw Failure("creating " + progId, hr);
    }
    return object;
}

// Calls a member by name with arguments in call order; a member's own failure (reported as
// DISP_E_EXCEPTION) is thrown with the member's HRESULT.
void Call(IDispatch* object, const std::string& member, std::uint16_t flags,
          std::vector<VARIANT> args, VARIANT* result) {
    std::u16string name = Utf16(member);
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        throw Failure(member, hr);
    }
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());  // the last argument first
    DISPPARAMS params{reversed.data(), nullptr, static_cast<std::uint32_t>(reversed.size()), 0};
    EXCEPINFO failure{};
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &failure,
                        nullptr);
    SysFreeString(failure.bstrSource);
    SysFreeString(failure.bstrDescription);
    SysFreeString(failure.bstrHelpFile);
    if (hr == DISP_E_EXCEPTION) {
        hr = failure.scode;
    }
    if (FAILED(hr)) {
        throw Failure(member, hr);
    }
}

std::u16string AsText(const VARIANT& value) {
    if (value.vt == VT_DATE) {
        SYSTEMTIME day{};
        if (VariantTimeToSystemTime(value.date, &day) == 0) {
            return u"?";
        }
        char text[24];
        std::snprintf(text, sizeof text, "%04u-%02u-%02u", day.wYear, day.wMonth, day.wDay);
        return Utf16(text);
    }
    ScopedVariant converted;
    if (FAILED(VariantChangeType(converted.Get(), &value, 0, VT_BSTR))) {
        return u"?";
    }
    return carvix::automation::BstrText(converted->bstrVal);
}

int ListReaders() {
    ComPtr<IDispatch> smartCard = Create("CARVIX.SmartCard");
    ScopedVariant readers;
    Call(smartCard.Get(), "ListReaders", DISPATCH_METHOD, {}, readers.Get());
    if ((readers->vt & VT_ARRAY) == 0 || readers->parray == nullptr) {
        return 0;  // no reader
    }
    std::int32_t low = 0, high = -1;
    SafeArrayGetLBound(readers->parray, 1, &low);
    SafeArrayGetUBound(readers->parray, 1, &high);
    for (std::int32_t i = low; i <= high; ++i) {
        ScopedVariant element;
        if ((readers->vt & VT_TYPEMASK) == VT_VARIANT) {
            SafeArrayGetElement(readers->parray, &i, element.Get());
        } else {
            element->vt = VT_BSTR;
            SafeArrayGetElement(readers->parray, &i, &element->bstrVal);
        }
        std::cout << Utf8(AsText(*element.Get())) << "\n";
    }
    return 0;
}

int ReadDocument(const std::string& reader, std::uint16_t app) {
    ComPtr<IDispatch> docAdmin = Create("CARVIX.DocAdmin");
    ScopedBstr readerName(Utf16(reader));
    VARIANT name{};
    name.vt = VT_BSTR;
    name.bstrVal = readerName.Get();
    VARIANT appId{};
    appId.vt = VT_UI2;
    appId.uiVal = app;
    ScopedVariant block;
    Call(docAdmin.Get(), "ReadVLDocumentData", DISPATCH_METHOD, {name, appId}, block.Get());
    if (block->vt != VT_DISPATCH || block->pdispVal == nullptr) {
        throw Failure("ReadVLDocumentData returned no block", E_UNEXPECTED);
    }
    for (const char* property : {"CardID", "DateOfIssue", "DateOfExpiry", "ChipSerialNumber"}) {
        ScopedVariant value;
        Call(block->pdispVal, property, DISPATCH_PROPERTYGET, {}, value.Get());
        std::cout << property << ": " << Utf8(AsText(*value.Get())) << "\n";
    }
    return 0;
}

// The component's message text for a code, or nothing when it cannot be had.
std::string MessageOf(HRESULT hr) {
    try {
        ComPtr<IDispatch> utilities = Create("CARVIX.Utilities");
        VARIANT code{};
        code.vt = VT_I4;
        code.lVal = hr;
        ScopedVariant text;
        Call(utilities.Get(), "GetErrorMessage", DISPATCH_METHOD, {code}, text.Get());
        return Utf8(AsText(*text.Get()));
    } catch (const Failure&) {
        return {};
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 3) {
        std::cerr << "usage: read_document_cpp [READER [APP]]\n";
        return 2;
    }
    const long app = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 1;
    if (app < 1 || app > 65535) {
        std::cerr << "read_document_cpp: APP must be 1 to 65535\n";
        return 2;
    }
    CoInitialize(nullptr);
    int status = 1;
    try {
        status = argc == 1 ? ListReaders() : ReadDocument(argv[1], static_cast<std::uint16_t>(app));
    } catch (const Failure& f) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(f.hr));
        std::cerr << "read_document_cpp: " << f.what() << " failed: " << code << " "
                  << MessageOf(f.hr) << "\n";
    }
    CoUninitialize();
    return status;
}
