/* A C client that knows only the installed C header: its types, constants and declarations
 * must match what the runtime exports and what the module hands out. It registers the module
 * for a temporary user, creates CARVIX.Utilities by ProgID, calls it by name, reads a
 * member's failure from EXCEPINFO, and uses the value functions with the header's layouts. */
#define _GNU_SOURCE
#include <carvix/automation/oleauto_c.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

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
    if (b == NULL || SysStringLen(b) != n) {
        return 0;
    }
    for (size_t i = 0; i < n; ++i) {
        if (b[i] != (OLECHAR)(unsigned char)ascii[i]) {
            return 0;
        }
    }
    return 1;
}

static void ValueFunctions(void) {
    /* A number to text and back through the header's VARIANT layout. */
    VARIANT number, text, back;
    VariantInit(&number);
    VariantInit(&text);
    VariantInit(&back);
    number.vt = VT_I4;
    number.lVal = -1234;
    CHECK(VariantChangeType(&text, &number, 0, VT_BSTR) == S_OK);
    CHECK(text.vt == VT_BSTR && SameText(text.bstrVal, "-1234"));
    CHECK(VariantChangeType(&back, &text, 0, VT_UI2) != S_OK); /* out of range */
    CHECK(VariantChangeType(&back, &text, 0, VT_I8) == S_OK && back.llVal == -1234);
    VariantClear(&text);
    VariantClear(&back);

    /* A vector with a lower bound of 1: bounds and elements land where the header says. */
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 1, 3);
    CHECK(array != NULL);
    if (array != NULL) {
        int32_t low = 0, high = 0;
        CHECK(SafeArrayGetLBound(array, 1, &low) == S_OK && low == 1);
        CHECK(SafeArrayGetUBound(array, 1, &high) == S_OK && high == 3);
        CHECK(array->cDims == 1 && array->cbElements == 4 && array->rgsabound[0].cElements == 3);
        int32_t index = 2, value = 77, read = 0;
        CHECK(SafeArrayPutElement(array, &index, &value) == S_OK);
        CHECK(((int32_t*)array->pvData)[1] == 77);
        CHECK(SafeArrayGetElement(array, &index, &read) == S_OK && read == 77);
        index = 4;
        CHECK(SafeArrayGetElement(array, &index, &read) != S_OK);
        CHECK(SafeArrayDestroy(array) == S_OK);
    }

    /* Dates: a SYSTEMTIME through DATE and back. */
    SYSTEMTIME day = {2031, 12, 0, 31, 0, 0, 0, 0};
    SYSTEMTIME again;
    memset(&again, 0, sizeof again);
    double date = 0;
    CHECK(SystemTimeToVariantTime(&day, &date) == 1);
    CHECK(VariantTimeToSystemTime(date, &again) == 1);
    CHECK(again.wYear == 2031 && again.wMonth == 12 && again.wDay == 31);

    /* GUIDs: text and back, with REFGUID as a pointer. */
    OLECHAR textForm[39];
    GUID parsed;
    CHECK(StringFromGUID2(&IID_IDispatch, textForm, 39) == 39);
    CHECK(CLSIDFromString(textForm, &parsed) == S_OK);
    CHECK(IsEqualGUID(&parsed, &IID_IDispatch) == 1);
}

static DISPID IdOf(IDispatch* d, const char* ascii) {
    OLECHAR name[64];
    size_t n = strlen(ascii);
    for (size_t i = 0; i <= n && i < 64; ++i) {
        name[i] = (OLECHAR)(unsigned char)ascii[i];
    }
    LPOLESTR names[1] = {name};
    DISPID id = -1;
    HRESULT hr = d->lpVtbl->GetIDsOfNames(d, &IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return hr == S_OK ? id : -1;
}

static void Activation(void) {
    CLSID clsid;
    CHECK(CLSIDFromProgID(u"CARVIX.Utilities", &clsid) == S_OK);
    CHECK(CLSIDFromProgID(u"CARVIX.NoSuchClass", &clsid) == CO_E_CLASSSTRING);
    IDispatch* utilities = NULL;
    CHECK(CLSIDFromProgID(u"CARVIX.Utilities", &clsid) == S_OK);
    CHECK(CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IDispatch,
                           (void**)&utilities) == S_OK);
    if (utilities == NULL) {
        return;
    }
    CHECK(IdOf(utilities, "NoSuchMember") == -1);
    const DISPID message = IdOf(utilities, "GetErrorMessage");
    CHECK(message > 0);

    /* A call with the right argument: the message text of E_INVALIDARG. */
    VARIANT arg, result;
    VariantInit(&arg);
    VariantInit(&result);
    arg.vt = VT_I4;
    arg.lVal = E_INVALIDARG;
    DISPPARAMS params = {&arg, NULL, 1, 0};
    EXCEPINFO failure;
    memset(&failure, 0, sizeof failure);
    uint32_t argErr = 99;
    CHECK(utilities->lpVtbl->Invoke(utilities, message, &IID_NULL, 0, DISPATCH_METHOD, &params,
                                    &result, &failure, &argErr) == S_OK);
    CHECK(result.vt == VT_BSTR && SysStringLen(result.bstrVal) > 0);
    VariantClear(&result);

    /* A wrong count and a wrong type come back as the dispatch errors, with the argument. */
    params.cArgs = 0;
    CHECK(utilities->lpVtbl->Invoke(utilities, message, &IID_NULL, 0, DISPATCH_METHOD, &params,
                                    &result, &failure, &argErr) == DISP_E_BADPARAMCOUNT);
    params.cArgs = 1;
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(u"not a number");
    CHECK(utilities->lpVtbl->Invoke(utilities, message, &IID_NULL, 0, DISPATCH_METHOD, &params,
                                    &result, &failure, &argErr) == DISP_E_TYPEMISMATCH);
    CHECK(argErr == 0);
    VariantClear(&arg);

    /* The object says that its interface leaves error objects. */
    ISupportErrorInfo* support = NULL;
    CHECK(utilities->lpVtbl->QueryInterface(utilities, &IID_ISupportErrorInfo, (void**)&support) ==
          S_OK);
    if (support != NULL) {
        CHECK(support->lpVtbl->InterfaceSupportsErrorInfo(support, &IID_IDispatch) == S_OK);
        CHECK(support->lpVtbl->InterfaceSupportsErrorInfo(support, &IID_IUnknown) == S_FALSE);
        support->lpVtbl->Release(support);
    }

    CHECK(utilities->lpVtbl->Release(utilities) == 0);
}

/* Error objects through the C tables: made, filled, made the thread's and handed over. */
static void ErrorObjects(void) {
    ICreateErrorInfo* created = NULL;
    CHECK(CreateErrorInfo(&created) == S_OK);
    if (created == NULL) {
        return;
    }
    OLECHAR text[] = u"Read document has ID 1, but ID 2 was requested.";
    CHECK(created->lpVtbl->SetDescription(created, text) == S_OK);
    IErrorInfo* info = NULL;
    CHECK(created->lpVtbl->QueryInterface(created, &IID_IErrorInfo, (void**)&info) == S_OK);
    created->lpVtbl->Release(created);
    if (info == NULL) {
        return;
    }
    CHECK(SetErrorInfo(0, info) == S_OK);
    info->lpVtbl->Release(info);

    IErrorInfo* current = NULL;
    CHECK(GetErrorInfo(0, &current) == S_OK && current != NULL);
    if (current != NULL) {
        BSTR description = NULL;
        CHECK(current->lpVtbl->GetDescription(current, &description) == S_OK);
        CHECK(SameText(description, "Read document has ID 1, but ID 2 was requested."));
        SysFreeString(description);
        CHECK(current->lpVtbl->Release(current) == 0);
    }
    CHECK(GetErrorInfo(0, &current) == S_FALSE && current == NULL);
}

int main(void) {
    char home[] = "/tmp/carvix-c-header-XXXXXX";
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
    CHECK(install != NULL && CoInitialize(NULL) == S_OK);
    CHECK(install != NULL && install(1, u"user") == S_OK);

    ValueFunctions();
    Activation();
    ErrorObjects();

    CHECK(install != NULL && install(0, u"user") == S_OK);
    CoFreeUnusedLibraries();
    CoUninitialize();
    dlclose(module);
    char command[512];
    snprintf(command, sizeof command, "rm -rf '%s'", home);
    CHECK(system(command) == 0);
    if (failures == 0) {
        puts("c header client: all checks passed");
    }
    return failures == 0 ? 0 : 1;
}
