/* A client in plain C that knows only the Windows names, signatures and layouts: it
 * registers the module for the current user (in a temporary HOME), creates
 * CARVIX.Utilities by ProgID, calls GetErrorMessage through GetIDsOfNames and Invoke,
 * unregisters, and checks what is left in the user's hive. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <uchar.h>
#include <unistd.h>

typedef int32_t HRESULT;
typedef char16_t OLECHAR;
typedef OLECHAR* BSTR;
typedef struct {
    uint32_t Data1;
    uint16_t Data2, Data3;
    uint8_t Data4[8];
} GUID;

typedef struct {
    uint16_t vt, wReserved1, wReserved2, wReserved3;
    union {
        int32_t lVal;
        BSTR bstrVal;
        struct {
            void* pvRecord;
            void* pRecInfo;
        } brecVal;
    };
} VARIANT;

typedef struct {
    VARIANT* rgvarg;
    int32_t* rgdispidNamedArgs;
    uint32_t cArgs, cNamedArgs;
} DISPPARAMS;

typedef struct IDispatch IDispatch;
typedef struct {
    HRESULT (*QueryInterface)(IDispatch*, const GUID*, void**);
    uint32_t (*AddRef)(IDispatch*);
    uint32_t (*Release)(IDispatch*);
    HRESULT (*GetTypeInfoCount)(IDispatch*, uint32_t*);
    HRESULT (*GetTypeInfo)(IDispatch*, uint32_t, uint32_t, void**);
    HRESULT (*GetIDsOfNames)(IDispatch*, const GUID*, OLECHAR**, uint32_t, uint32_t, int32_t*);
    HRESULT(*Invoke)
    (IDispatch*, int32_t, const GUID*, uint32_t, uint16_t, DISPPARAMS*, VARIANT*, void*, uint32_t*);
} IDispatchVtbl;
struct IDispatch {
    const IDispatchVtbl* lpVtbl;
};

_Static_assert(sizeof(VARIANT) == 24, "VARIANT is 24 bytes");
_Static_assert(offsetof(VARIANT, bstrVal) == 8, "the union starts at 8");
_Static_assert(sizeof(DISPPARAMS) == 24, "DISPPARAMS");

HRESULT CLSIDFromProgID(const OLECHAR*, GUID*);
HRESULT CoCreateInstance(const GUID*, void*, uint32_t, const GUID*, void**);
HRESULT CoInitialize(void*);
void CoUninitialize(void);
void CoFreeUnusedLibraries(void);
void VariantInit(VARIANT*);
HRESULT VariantClear(VARIANT*);
uint32_t SysStringLen(BSTR);

static const GUID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
static const GUID IID_IDispatch = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

static int failures = 0;
#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                              \
        }                                                                            \
    } while (0)

static int SameText(BSTR b, const char* ascii) {
    size_t n = strlen(ascii);
    if (SysStringLen(b) != n) {
        return 0;
    }
    for (size_t i = 0; i < n; ++i) {
        if (b[i] != (OLECHAR)(unsigned char)ascii[i]) {
            return 0;
        }
    }
    return 1;
}

static char* ReadFile(const char* path) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) {
        return NULL;
    }
    static char buf[65536];
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = 0;
    return buf;
}

/* GetErrorMessage(code) through late binding; returns the BSTR result or NULL. */
static BSTR Message(IDispatch* d, int32_t dispid, int32_t code) {
    VARIANT arg, result;
    VariantInit(&arg);
    VariantInit(&result);
    arg.vt = 3; /* VT_I4 */
    arg.lVal = code;
    DISPPARAMS params = {&arg, NULL, 1, 0};
    HRESULT hr =
        d->lpVtbl->Invoke(d, dispid, &IID_NULL, 0, 1 /* METHOD */, &params, &result, NULL, NULL);
    CHECK(hr == 0);
    CHECK(result.vt == 8); /* VT_BSTR */
    return hr == 0 ? result.bstrVal : NULL;
}

int main(void) {
    char home[] = "/tmp/carvix-c-client-XXXXXX";
    CHECK(mkdtemp(home) != NULL);
    setenv("HOME", home, 1);
    unsetenv("XDG_CONFIG_HOME");
    char systemDir[256];
    snprintf(systemDir, sizeof systemDir, "%s/system", home);
    setenv("XDG_CONFIG_DIRS", systemDir, 1);

    void* module = dlopen(CARVIX_QX_PATH, RTLD_NOW | RTLD_LOCAL);
    CHECK(module != NULL);
    if (module == NULL) {
        return 1;
    }
    HRESULT (*install)(int32_t, const OLECHAR*);
    *(void**)&install = dlsym(module, "DllInstall");
    CHECK(install != NULL);
    CHECK(CoInitialize(NULL) == 0);
    CHECK(install(1, u"USER") == 0);

    GUID clsid;
    CHECK(CLSIDFromProgID(u"CARVIX.Utilities", &clsid) == 0);
    GUID versioned;
    CHECK(CLSIDFromProgID(u"CARVIX.Utilities.1", &versioned) == 0);
    CHECK(memcmp(&clsid, &versioned, sizeof clsid) == 0);

    IDispatch* d = NULL;
    CHECK(CoCreateInstance(&clsid, NULL, 1 /* CLSCTX_INPROC_SERVER */, &IID_IDispatch,
                           (void**)&d) == 0);
    if (d != NULL) {
        OLECHAR* names[1] = {(OLECHAR*)u"GetErrorMessage"};
        int32_t dispid = -1;
        CHECK(d->lpVtbl->GetIDsOfNames(d, &IID_NULL, names, 1, 0x400, &dispid) == 0);
        CHECK(dispid == 1);

        VARIANT result;
        VariantInit(&result);
        result.vt = 8;
        result.bstrVal = Message(d, dispid, 0x1234ABCD);
        CHECK(SameText(result.bstrVal, "An unrecognized Win32Exception was thrown."));
        VariantClear(&result);

        result.vt = 8;
        result.bstrVal = Message(d, dispid, (int32_t)0x8010001Du);
        CHECK(result.bstrVal != NULL && SysStringLen(result.bstrVal) > 0);
        for (uint32_t i = 0; result.bstrVal != NULL && i + 1 < SysStringLen(result.bstrVal); ++i) {
            CHECK(!(result.bstrVal[i] == u'\r' && result.bstrVal[i + 1] == u'\n'));
        }
        VariantClear(&result);
        CHECK(d->lpVtbl->Release(d) == 0);
        d = NULL;
    }

    /* An idle module may be let go; the next creation loads it again. */
    CoFreeUnusedLibraries();
    CHECK(CoCreateInstance(&clsid, NULL, 1, &IID_IDispatch, (void**)&d) == 0);
    if (d != NULL) {
        d->lpVtbl->Release(d);
    }

    CHECK(install(0, u"user") == 0);
    char hive[512];
    snprintf(hive, sizeof hive, "%s/.config/carvix-com/current-user.hive", home);
    const char* text = ReadFile(hive);
    CHECK(text != NULL);
    const char* expected =
        "carvix-registry 1\n"
        "[Software]\n"
        "[Software\\Classes]\n"
        "[Software\\Classes\\AppID]\n"
        "[Software\\Classes\\CLSID]\n"
        "[Software\\Classes\\Interface]\n"
        "[Software\\Classes\\TypeLib]\n";
    CHECK(text != NULL && strcmp(text, expected) == 0);
    if (text != NULL && strcmp(text, expected) != 0) {
        fprintf(stderr, "hive holds:\n%s", text);
    }
    CHECK(access(systemDir, F_OK) != 0); /* nothing was written to the machine hive */
    CoUninitialize();

    char cleanup[600];
    snprintf(cleanup, sizeof cleanup, "rm -rf '%s'", home);
    if (system(cleanup) != 0) {
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
