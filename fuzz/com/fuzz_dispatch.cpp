// Invoke and GetIDsOfNames on every class of the object map with arbitrary DISPIDs, flags,
// named arguments and VARIANTs (including references, arrays, huge BSTRs and foreign
// pointers), and the same VARIANTs through VariantChangeType and VariantCopyInd.
//
// Nothing reaches a card or the user's files: HOME and the XDG folders point at a private
// temporary folder, the token configuration at an empty token folder, and the PC/SC calls
// are a table with one reader that never holds a card (a transmit aborts).
#include "carvix/automation/oleauto.h"
#include "carvix/com/module.h"
#include "carvix/support/pcsc_api.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

class NoCard final : public Orvel::PCSC::PcscApi {
  public:
    LONG EstablishContext(DWORD, LPSCARDCONTEXT context) override {
        *context = 0x5151;
        return SCARD_S_SUCCESS;
    }
    LONG ReleaseContext(SCARDCONTEXT) override { return SCARD_S_SUCCESS; }
    LONG ListReaders(SCARDCONTEXT, LPCSTR, LPSTR readers, LPDWORD length) override {
        // One reader; the list is handed out as the client library's own allocation
        // would be (FreeMemory below leaves it alone).
        static char kList[] = "Fuzz Reader 0\0";
        if (length == nullptr) {
            return SCARD_E_INVALID_PARAMETER;
        }
        if (*length == SCARD_AUTOALLOCATE && readers != nullptr) {
            *reinterpret_cast<char**>(readers) = kList;
            *length = sizeof kList;
            return SCARD_S_SUCCESS;
        }
        if (readers == nullptr) {
            *length = sizeof kList;
            return SCARD_S_SUCCESS;
        }
        if (*length < sizeof kList) {
            *length = sizeof kList;
            return SCARD_E_INSUFFICIENT_BUFFER;
        }
        std::memcpy(readers, kList, sizeof kList);
        *length = sizeof kList;
        return SCARD_S_SUCCESS;
    }
    LONG FreeMemory(SCARDCONTEXT, LPCVOID) override { return SCARD_S_SUCCESS; }
    LONG Connect(SCARDCONTEXT, LPCSTR, DWORD, DWORD, LPSCARDHANDLE, LPDWORD) override {
        return SCARD_E_NO_SMARTCARD;
    }
    LONG Reconnect(SCARDHANDLE, DWORD, DWORD, DWORD, LPDWORD) override {
        return SCARD_E_NO_SMARTCARD;
    }
    LONG Disconnect(SCARDHANDLE, DWORD) override { return SCARD_S_SUCCESS; }
    LONG BeginTransaction(SCARDHANDLE) override { return SCARD_E_NO_SMARTCARD; }
    LONG EndTransaction(SCARDHANDLE, DWORD) override { return SCARD_S_SUCCESS; }
    LONG Status(SCARDHANDLE, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD) override {
        return SCARD_E_NO_SMARTCARD;
    }
    LONG Transmit(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE, DWORD, SCARD_IO_REQUEST*, LPBYTE,
                  LPDWORD) override {
        std::fprintf(stderr, "an APDU was transmitted without a card\n");
        std::abort();
    }
    LONG Control(SCARDHANDLE, DWORD, LPCVOID, DWORD, LPVOID, DWORD, LPDWORD) override {
        return SCARD_E_NO_SMARTCARD;
    }
    LONG GetStatusChange(SCARDCONTEXT, DWORD, SCARD_READERSTATE*, DWORD) override {
        return SCARD_E_TIMEOUT;
    }
};

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    template <typename T>
    T Take() {
        T value{};
        const std::size_t n = size < sizeof value ? size : sizeof value;
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }
};

// Storage that by-reference arguments point into; never freed by the callee.
struct Scratch {
    VARIANT inner[4];
    std::uint8_t bytes[4][16];
    BSTR bstr[4];
    IDispatch* disp[4];
    SAFEARRAY* arrays[4];
};

void Fill(Input& in, VARIANT& v, IDispatch* self, Scratch& s, int k, std::vector<BSTR>& owned,
          std::vector<SAFEARRAY*>& ownedArrays) {
    VariantInit(&v);
    const auto vt = in.Take<std::uint16_t>();
    const auto payload = in.Take<std::uint64_t>();
    v.vt = vt;
    std::memcpy(&v.llVal, &payload, sizeof payload);
    const VARTYPE base = vt & VT_TYPEMASK;
    if ((vt & VT_BYREF) != 0) {
        VariantInit(&s.inner[k]);
        if ((vt & VT_ARRAY) != 0) {
            s.arrays[k] = nullptr;
            v.pparray = &s.arrays[k];
        } else if (base == VT_VARIANT) {
            s.inner[k].vt = static_cast<VARTYPE>(payload & 0x3F);  // shallow, no pointers
            if (s.inner[k].vt == VT_BSTR || s.inner[k].vt == VT_DISPATCH ||
                s.inner[k].vt == VT_UNKNOWN) {
                s.inner[k].vt = VT_I4;
            }
            v.pvarVal = &s.inner[k];
        } else if (base == VT_BSTR) {
            s.bstr[k] = SysAllocString(u"12");
            owned.push_back(s.bstr[k]);
            v.pbstrVal = &s.bstr[k];
        } else if (base == VT_DISPATCH || base == VT_UNKNOWN) {
            s.disp[k] = (payload & 1) != 0 ? self : nullptr;
            v.ppdispVal = &s.disp[k];
        } else {
            std::memcpy(s.bytes[k], &payload, sizeof payload);
            v.byref = s.bytes[k];
        }
        return;
    }
    if ((vt & VT_ARRAY) != 0) {
        if ((payload & 3) == 0) {
            v.parray = nullptr;
        } else if ((payload & 3) == 1) {
            v.parray = reinterpret_cast<SAFEARRAY*>(s.bytes[k]);  // foreign
        } else {
            SAFEARRAY* psa =
                SafeArrayCreateVector(base, 0, static_cast<std::uint32_t>(payload >> 8) & 7);
            ownedArrays.push_back(psa);
            v.parray = psa;
        }
        return;
    }
    if (base == VT_BSTR) {
        const std::size_t n = in.Take<std::uint8_t>() % 12;
        std::u16string text;
        for (std::size_t i = 0; i < n; ++i) {
            text += static_cast<char16_t>(in.Take<std::uint8_t>());
        }
        if ((payload & 6) == 6) {
            text.assign(64 * 1024, static_cast<char16_t>(payload >> 8));  // a huge string
        }
        v.bstrVal = (payload & 1) != 0
                        ? SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()))
                        : nullptr;
        owned.push_back(v.bstrVal);
    } else if (base == VT_DISPATCH || base == VT_UNKNOWN) {
        v.pdispVal = (payload & 1) != 0 ? self : nullptr;
    } else if (base == VT_RECORD) {
        v.vt = VT_I4;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/carvix-fuzz-dispatch-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr) {
        std::abort();
    }
    const std::string root = made;
    ::setenv("HOME", root.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", (root + "/system").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    const std::string conf = root + "/softhsm2.conf";
    if (FILE* f = std::fopen(conf.c_str(), "w")) {
        std::fprintf(f, "directories.tokendir = %s\n", root.c_str());
        std::fclose(f);
    }
    ::setenv("SOFTHSM2_CONF", conf.c_str(), 1);
    static NoCard noCard;
    static Orvel::PCSC::ScopedPcscApi scope(noCard);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in{data, size};
    const auto classes = carvix::com::ObjectMap();
    const auto& entry = classes[in.Take<std::uint8_t>() % classes.size()];
    void* p = nullptr;
    if (FAILED(entry.create(nullptr, IID_IDispatch, &p))) {
        return 0;
    }
    auto* disp = static_cast<IDispatch*>(p);
    // Mostly a member of the class (with its own flags), sometimes any DISPID.
    const auto pick = in.Take<std::uint8_t>();
    const auto members = entry.primary.members;
    const auto raw = in.Take<std::int32_t>();
    const DISPID id =
        (pick & 0x80) != 0 || members.empty() ? raw % 64 : members[pick % members.size()].id;
    const auto flags = in.Take<std::uint16_t>();
    // The member's own kind unless the input asks for arbitrary invoke flags.
    std::uint16_t invokeFlags = flags & 0xF;
    if ((flags & 0x8000) == 0 && (pick & 0x80) == 0 && !members.empty()) {
        const auto kind = members[pick % members.size()].kind;
        invokeFlags = kind == carvix::automation::MemberKind::PropertyGet   ? DISPATCH_PROPERTYGET
                      : kind == carvix::automation::MemberKind::PropertyPut ? DISPATCH_PROPERTYPUT
                                                                            : DISPATCH_METHOD;
    }
    const std::uint32_t cArgs = in.Take<std::uint8_t>() % 4u;
    const auto cNamed = in.Take<std::uint8_t>() % 2;
    DISPID named = (in.Take<std::uint8_t>() % 2) != 0 || invokeFlags == DISPATCH_PROPERTYPUT
                       ? DISPID_PROPERTYPUT
                       : in.Take<std::int32_t>();
    VARIANT args[4];
    Scratch scratch{};
    std::vector<BSTR> owned;
    std::vector<SAFEARRAY*> arrays;
    for (int k = 0; k < static_cast<int>(cArgs); ++k) {
        Fill(in, args[k], disp, scratch, k, owned, arrays);
    }
    DISPPARAMS params{cArgs ? args : nullptr, cNamed ? &named : nullptr, cArgs,
                      static_cast<std::uint32_t>(cNamed)};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    std::uint32_t argErr = 0;
    disp->Invoke(id, IID_NULL, 0, invokeFlags, &params, (flags & 0x100) ? nullptr : &result,
                 (flags & 0x200) ? nullptr : &excep, &argErr);
    VariantClear(&result);
    SysFreeString(excep.bstrSource);

    // Each argument once more through the coercions and copies directly.
    for (std::uint32_t k = 0; k < cArgs; ++k) {
        VARIANT converted;
        VariantInit(&converted);
        VariantChangeType(&converted, &args[k], flags & 0x3, in.Take<std::uint16_t>() & 0x60FF);
        VariantClear(&converted);
        VARIANT copy;
        VariantInit(&copy);
        VariantCopyInd(&copy, &args[k]);
        VariantClear(&copy);
    }

    // The same bytes as a name lookup.
    std::u16string name;
    while (in.size > 0 && name.size() < 32) {
        name += static_cast<char16_t>(in.Take<std::uint8_t>());
    }
    LPOLESTR names[] = {name.data(), name.data()};
    DISPID ids[2];
    disp->GetIDsOfNames(IID_NULL, names, 2, 0, ids);

    for (BSTR b : owned) {
        SysFreeString(b);
    }
    for (SAFEARRAY* a : arrays) {
        SafeArrayDestroy(a);
    }
    disp->Release();
    return 0;
}
