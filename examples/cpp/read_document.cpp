// Lists the PC/SC readers through CARVIX.SmartCard, or reads the VL document block of the
// card in READER through CARVIX.DocAdmin, and prints it.
//
//     read_document_cpp                 the readers, one a line
//     read_document_cpp READER [APP]    the block (APP: the application ID, 1 by default)
//
// Build against the installed SDK with CMake (CMakeLists.txt beside this file) or with
//     c++ -std=c++20 read_document.cpp $(pkg-config --cflags --libs carvix-com)
// Exit status: 0 on success, 1 when a call fails, 2 for bad usage.
#include <carvix/automation/client.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

using carvix::automation::ClientError;
using carvix::automation::Object;
using carvix::automation::ScopedVariant;
using carvix::automation::Utf16;
using carvix::automation::Utf8;

std::string AsText(const VARIANT& value) {
    if (value.vt == VT_DATE) {
        SYSTEMTIME day{};
        if (VariantTimeToSystemTime(value.date, &day) == 0) {
            return "?";
        }
        char text[24];
        std::snprintf(text, sizeof text, "%04u-%02u-%02u", day.wYear, day.wMonth, day.wDay);
        return text;
    }
    ScopedVariant converted;
    if (FAILED(VariantChangeType(converted.Get(), &value, 0, VT_BSTR))) {
        return "?";
    }
    return carvix::automation::TextOf(*converted);
}

int ListReaders() {
    const Object smartCard = Object::Create(u"CARVIX.SmartCard");
    ScopedVariant readers;
    smartCard.Call(u"ListReaders", {}, readers);
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
        std::cout << AsText(*element) << "\n";
    }
    return 0;
}

int ReadDocument(const std::string& reader, std::uint16_t app) {
    const Object docAdmin = Object::Create(u"CARVIX.DocAdmin");
    ScopedVariant result;
    docAdmin.Call(u"ReadVLDocumentData",
                  {carvix::automation::TextValue(Utf16(reader)), carvix::automation::IntValue(app)},
                  result);
    if (result->vt != VT_DISPATCH || result->pdispVal == nullptr) {
        throw ClientError(E_UNEXPECTED, "ReadVLDocumentData returned no block");
    }
    const Object block = Object::Share(result->pdispVal);
    for (const char16_t* property :
         {u"CardID", u"DateOfIssue", u"DateOfExpiry", u"ChipSerialNumber"}) {
        ScopedVariant value;
        block.Get(property, value);
        std::cout << Utf8(property) << ": " << AsText(*value) << "\n";
    }
    return 0;
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
    } catch (const ClientError& e) {
        // What was being done, the HRESULT and the message (the member's own description
        // when it gave one, else the component's text for the code).
        std::cerr << "read_document_cpp: " << e.doing
                  << " failed: " << carvix::automation::HexCode(e.hresult) << " " << e.message
                  << "\n";
    }
    CoUninitialize();
    return status;
}
