/* Reads the VL document block of a card through CARVIX.DocAdmin and prints it.
 *
 *     read_document READER [APP]        (APP: the application ID, 1 when left out)
 *
 * Build against the installed SDK:
 *     cc -std=c11 read_document.c $(pkg-config --cflags --libs carvix-com) -o read_document
 * The module must be registered (the package does it machine-wide; `carvix register` per
 * user). Exit status: 0 on success, 1 when a call fails, 2 for bad usage. */
#include <carvix/automation/oleauto_c.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* UTF-16 to UTF-8 for printing (the texts of this card are in the Basic Multilingual Plane). */
static void PrintText(const OLECHAR* text, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        uint32_t c = text[i];
        if (c < 0x80) {
            putchar((int)c);
        } else if (c < 0x800) {
            putchar((int)(0xC0 | (c >> 6)));
            putchar((int)(0x80 | (c & 0x3F)));
        } else {
            putchar((int)(0xE0 | (c >> 12)));
            putchar((int)(0x80 | ((c >> 6) & 0x3F)));
            putchar((int)(0x80 | (c & 0x3F)));
        }
    }
}

/* An ASCII text as a new BSTR (SysFreeString frees it). */
static BSTR AsciiBstr(const char* text) {
    size_t n = strlen(text);
    BSTR b = SysAllocStringLen(NULL, (uint32_t)n);
    for (size_t i = 0; b != NULL && i < n; ++i) {
        b[i] = (OLECHAR)(unsigned char)text[i];
    }
    return b;
}

/* Creates an object by ProgID and asks it for IDispatch. */
static HRESULT Create(const char* progId, IDispatch** out) {
    BSTR name = AsciiBstr(progId);
    CLSID clsid;
    HRESULT hr = name == NULL ? E_OUTOFMEMORY : CLSIDFromProgID(name, &clsid);
    SysFreeString(name);
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_IDispatch, (void**)out);
    }
    return hr;
}

/* The description of the last member failure (what the component said went wrong), or NULL. */
static BSTR lastDescription = NULL;

/* Calls a member by name. args[] are in call order; the result lands in *result. A member's
 * own failure comes back as DISP_E_EXCEPTION; its HRESULT is returned instead. */
static HRESULT Call(IDispatch* d, const char* member, uint16_t flags, VARIANT* args, uint32_t count,
                    VARIANT* result) {
    SysFreeString(lastDescription);
    lastDescription = NULL;
    BSTR name = AsciiBstr(member);
    DISPID id = 0;
    HRESULT hr = name == NULL
                     ? E_OUTOFMEMORY
                     : d->lpVtbl->GetIDsOfNames(d, &IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    SysFreeString(name);
    if (FAILED(hr)) {
        return hr;
    }
    VARIANT reversed[4];
    for (uint32_t i = 0; i < count && i < 4; ++i) {
        reversed[count - 1 - i] = args[i]; /* Invoke takes the last argument first */
    }
    DISPPARAMS params = {reversed, NULL, count, 0};
    EXCEPINFO failure;
    memset(&failure, 0, sizeof failure);
    VariantInit(result);
    hr = d->lpVtbl->Invoke(d, id, &IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &failure,
                           NULL);
    if (hr == DISP_E_EXCEPTION) {
        hr = failure.scode;
        SysFreeString(failure.bstrSource);
        lastDescription = failure.bstrDescription; /* NULL when the member left no text */
        SysFreeString(failure.bstrHelpFile);
    }
    return hr;
}

/* Prints what failed: the HRESULT and the member's description of the failure, or else the
 * component's message text for the HRESULT. */
static void Report(const char* what, HRESULT hr) {
    fprintf(stderr, "read_document: %s failed: 0x%08X", what, (unsigned)hr);
    IDispatch* utilities = NULL;
    if (SysStringLen(lastDescription) > 0) {
        fputc(' ', stderr);
        for (uint32_t i = 0; i < SysStringLen(lastDescription); ++i) {
            fputc(lastDescription[i] < 0x80 ? (int)lastDescription[i] : '?', stderr);
        }
    } else if (SUCCEEDED(Create("CARVIX.Utilities", &utilities))) {
        VARIANT code, text;
        VariantInit(&code);
        code.vt = VT_I4;
        code.lVal = hr;
        if (SUCCEEDED(Call(utilities, "GetErrorMessage", DISPATCH_METHOD, &code, 1, &text)) &&
            text.vt == VT_BSTR) {
            fputc(' ', stderr);
            for (uint32_t i = 0; i < SysStringLen(text.bstrVal); ++i) {
                fputc(text.bstrVal[i] < 0x80 ? (int)text.bstrVal[i] : '?', stderr);
            }
        }
        VariantClear(&text);
        utilities->lpVtbl->Release(utilities);
    }
    fputc('\n', stderr);
}

static int PrintProperty(IDispatch* block, const char* name) {
    VARIANT value;
    HRESULT hr = Call(block, name, DISPATCH_PROPERTYGET, NULL, 0, &value);
    if (FAILED(hr)) {
        Report(name, hr);
        return 1;
    }
    printf("%s: ", name);
    if (value.vt == VT_BSTR) {
        PrintText(value.bstrVal, SysStringLen(value.bstrVal));
    } else if (value.vt == VT_DATE) {
        SYSTEMTIME day;
        if (VariantTimeToSystemTime(value.date, &day)) {
            printf("%04u-%02u-%02u", day.wYear, day.wMonth, day.wDay);
        }
    } else {
        VARIANT text; /* anything else as the runtime writes it as text */
        VariantInit(&text);
        if (SUCCEEDED(VariantChangeType(&text, &value, 0, VT_BSTR))) {
            PrintText(text.bstrVal, SysStringLen(text.bstrVal));
        }
        VariantClear(&text);
    }
    putchar('\n');
    VariantClear(&value);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: read_document READER [APP]\n");
        return 2;
    }
    const long app = argc == 3 ? strtol(argv[2], NULL, 10) : 1;
    if (app < 1 || app > 65535) {
        fprintf(stderr, "read_document: APP must be 1 to 65535\n");
        return 2;
    }
    CoInitialize(NULL);
    int status = 1;
    IDispatch* docAdmin = NULL;
    HRESULT hr = Create("CARVIX.DocAdmin", &docAdmin);
    if (FAILED(hr)) {
        Report("creating CARVIX.DocAdmin", hr);
    } else {
        VARIANT args[2], result;
        VariantInit(&args[0]);
        args[0].vt = VT_BSTR;
        args[0].bstrVal = AsciiBstr(argv[1]);
        VariantInit(&args[1]);
        args[1].vt = VT_UI2;
        args[1].uiVal = (uint16_t)app;
        hr = Call(docAdmin, "ReadVLDocumentData", DISPATCH_METHOD, args, 2, &result);
        VariantClear(&args[0]);
        if (FAILED(hr)) {
            Report("ReadVLDocumentData", hr);
        } else if (result.vt != VT_DISPATCH || result.pdispVal == NULL) {
            fprintf(stderr, "read_document: ReadVLDocumentData returned no block\n");
        } else {
            status = PrintProperty(result.pdispVal, "CardID") |
                     PrintProperty(result.pdispVal, "DateOfIssue") |
                     PrintProperty(result.pdispVal, "DateOfExpiry") |
                     PrintProperty(result.pdispVal, "ChipSerialNumber");
        }
        VariantClear(&result);
        docAdmin->lpVtbl->Release(docAdmin);
    }
    CoUninitialize();
    return status;
}
