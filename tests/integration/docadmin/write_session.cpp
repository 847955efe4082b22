#include "write_session.h"

#include "auth/authentication_service.h"
#include "bench_card.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/support/base64.h"
#include "carvix/support/x509_certificate.h"
#include "carvix/support/x509_store.h"
#include "docadmin/docadmin_service.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace carvix::writetest {

namespace x509 = Orvel::Security::Cryptography::X509;

std::vector<std::uint8_t> WriterKey() {
    return carvix::bench::Unhex("000102030405060708090A0B0C0D0E0F");
}

Bstr::Bstr(const std::string& utf8) : Bstr(std::u16string(utf8.begin(), utf8.end())) {}
Bstr::Bstr(const std::u16string& text)
    : value_(SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()))) {}

Ref<IAuthenticationService> NewAuth() {
    void* p = nullptr;
    if (FAILED(carvix::com::Create<carvix::com::AuthenticationService>(
            nullptr, IAuthenticationService::kIid, &p))) {
        return nullptr;
    }
    return Ref<IAuthenticationService>(static_cast<IAuthenticationService*>(p));
}

Ref<IDocAdminService> NewDocAdmin() {
    void* p = nullptr;
    if (FAILED(carvix::com::Create<carvix::com::DocAdminService>(nullptr, IDocAdminService::kIid,
                                                                 &p))) {
        return nullptr;
    }
    return Ref<IDocAdminService>(static_cast<IDocAdminService*>(p));
}

HRESULT Authenticate(IAuthenticationService& auth, const std::string& reader, std::uint16_t appId,
                     const std::vector<std::uint8_t>& key, std::uint32_t role) {
    {
        Bstr name(reader);
        if (const HRESULT hr = auth.Init(name.get(), appId); FAILED(hr)) {
            return hr;
        }
    }
    BSTR text = nullptr;
    if (const HRESULT hr = auth.GetChallenge(&text); FAILED(hr)) {
        return hr;
    }
    const Orvel::ByteArray challenge = Orvel::FromBase64(std::u16string(text, SysStringLen(text)));
    SysFreeString(text);
    const auto response = carvix::bench::AuthResponse(key, {challenge.begin(), challenge.end()});
    Bstr responseText(Orvel::ToBase64(response));
    return auth.ExternalAuthenticate(role, responseText.get());
}

namespace {

template <class Block, HRESULT (IDocAdminService::*Read)(BSTR, std::uint16_t, Block**)>
HRESULT ReadAs(IDocAdminService& service, BSTR reader, std::uint16_t appId, IDispatch** out) {
    Block* block = nullptr;
    const HRESULT hr = (service.*Read)(reader, appId, &block);
    *out = block;  // every block interface is a dual interface: its IDispatch comes first
    return hr;
}

template <class Block, HRESULT (IDocAdminService::*Write)(IAuthenticationService*, Block*, BSTR)>
HRESULT WriteAs(IDocAdminService& service, IAuthenticationService* auth, IDispatch* object,
                BSTR signer) {
    void* p = nullptr;
    if (const HRESULT hr = object->QueryInterface(Block::kIid, &p); FAILED(hr)) {
        return hr;
    }
    const HRESULT hr = (service.*Write)(auth, static_cast<Block*>(p), signer);
    static_cast<Block*>(p)->Release();
    return hr;
}

using namespace carvix::com;

}  // namespace

const WritableBlock kVLVariablePerso{
    "VLVariablePerso",
    "vl-full",
    1,
    0x0D03,
    0x0D06,
    u"OrgUnit",
    &ReadAs<IVLVariablePersoBlock, &IDocAdminService::ReadVLVariablePersoData>,
    &WriteAs<IVLVariablePersoBlock, &IDocAdminService::WriteVLVariablePersoData>};
const WritableBlock kZKVariableAdmin{
    "ZKVariableAdmin",
    "zk-full",
    5,
    0x0E02,
    0x0D09,
    u"InsurerName",
    &ReadAs<IZKVariableAdminBlock, &IDocAdminService::ReadZKVariableAdminData>,
    &WriteAs<IZKVariableAdminBlock, &IDocAdminService::WriteZKVariableAdminData>};
const WritableBlock kZKVariablePerso{
    "ZKVariablePerso",
    "zk-full",
    5,
    0x0D03,
    0x0D06,
    u"Street",
    &ReadAs<IZKVariablePersoBlock, &IDocAdminService::ReadZKVariablePersoData>,
    &WriteAs<IZKVariablePersoBlock, &IDocAdminService::WriteZKVariablePersoData>};

const std::vector<const WritableBlock*>& WritableBlocks() {
    static const std::vector<const WritableBlock*> all{&kVLVariablePerso, &kZKVariableAdmin,
                                                       &kZKVariablePerso};
    return all;
}

Ref<IDispatch> ReadBlock(IDocAdminService& service, const WritableBlock& block,
                         const std::string& reader, HRESULT* hr) {
    Bstr name(reader);
    IDispatch* object = nullptr;
    const HRESULT result = block.read(service, name.get(), block.appId, &object);
    if (hr != nullptr) {
        *hr = result;
    }
    return Ref<IDispatch>(FAILED(result) ? nullptr : object);
}

namespace {

DISPID IdOf(IDispatch& object, const char16_t* property) {
    std::u16string name = property;
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    object.GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    return id;
}

}  // namespace

std::u16string GetText(IDispatch& object, const char16_t* property) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    if (FAILED(object.Invoke(IdOf(object, property), IID_NULL, 0, DISPATCH_PROPERTYGET, &none,
                             &result, nullptr, nullptr)) ||
        result.vt != VT_BSTR) {
        VariantClear(&result);
        return u"<no text>";
    }
    std::u16string text(result.bstrVal, SysStringLen(result.bstrVal));
    VariantClear(&result);
    return text;
}

HRESULT PutText(IDispatch& object, const char16_t* property, const std::u16string& value) {
    Bstr text(value);
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BSTR;
    arg.bstrVal = text.get();
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&arg, &named, 1, 1};
    return object.Invoke(IdOf(object, property), IID_NULL, 0, DISPATCH_PROPERTYPUT, &params,
                         nullptr, nullptr, nullptr);
}

HRESULT WriteText(IDocAdminService& service, const WritableBlock& block, const std::string& reader,
                  IAuthenticationService* auth, const std::u16string& value,
                  const std::u16string& signerB64) {
    HRESULT hr = S_OK;
    const Ref<IDispatch> object = ReadBlock(service, block, reader, &hr);
    if (object == nullptr) {
        return hr;
    }
    if (hr = PutText(*object, block.property, value); FAILED(hr)) {
        return hr;
    }
    Bstr signer(signerB64);
    return block.write(service, auth, object.get(), signer.get());
}

std::filesystem::path SampleImage(const std::string& stem, int protocol) {
    return std::filesystem::path(CARVIX_SAMPLE_CARDS) /
           (stem + "-t" + std::to_string(protocol) + ".json");
}

InstalledSigner::InstalledSigner() {
    const std::filesystem::path pki(CARVIX_PKI_DIR);
    std::ifstream in(pki / "document-signer.cert.der", std::ios::binary);
    der_.assign(std::istreambuf_iterator<char>(in), {});
    x509::X509Certificate certificate(der_);
    certificate.SetKeyProviderLink((pki / "TEST-KEY-document-signer.key.pem").string());
    x509::X509Store my;
    my.Open(0);
    my.Add(certificate, x509::AddDisposition::Always);
    base64_ = Orvel::ToBase64(der_);
}

std::string CheckSodsWithOpenssl(const std::filesystem::path& image) {
    const std::string command =
        "python3 " + std::string(CARVIX_CHECK_SODS) + " '" + image.string() + "' 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (pipe == nullptr) {
        return "cannot run " + command;
    }
    std::string output;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe.get()) != nullptr) {
        output += buffer;
    }
    const int status = pclose(pipe.release());
    return status == 0 ? std::string() : output.empty() ? "check failed" : output;
}

std::vector<std::uint8_t> ImageFile(const std::filesystem::path& image, std::uint16_t fileId) {
    std::ifstream in(image);
    const auto doc = nlohmann::json::parse(in);
    char id[8];
    std::snprintf(id, sizeof id, "%04X", fileId);
    for (const auto& f : doc["applications"][0]["files"]) {
        if (f["id"].get<std::string>() == id) {
            return carvix::bench::Unhex(f["data"].get<std::string>());
        }
    }
    return {};
}

}  // namespace carvix::writetest
