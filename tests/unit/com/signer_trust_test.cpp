// CARVIX.SignerTrust over real block objects that a DocAdminService hands out: the signer a
// read found reaches scripts by name, blocks without one say so, and a read refused by the
// trust policy returns its own code without a notice.
#include "carvix/automation/oleauto.h"
#include "carvix/automation/scoped.h"
#include "carvix/blocks/card_block.h"
#include "carvix/com/block_interfaces.h"
#include "carvix/com/model_transfer.h"
#include "carvix/com/module.h"
#include "carvix/com/notifier.h"
#include "carvix/support/exceptions.h"
#include "docadmin/docadmin_service.h"
#include "trust/signer_trust_service.h"

#include <openssl/x509.h>

#include <gtest/gtest.h>

namespace {

namespace ca = carvix::automation;
using carvix::com::BlockSigner;

constexpr HRESULT kNoSignature = static_cast<HRESULT>(0x800B0100u);
constexpr HRESULT kUntrustedRoot = static_cast<HRESULT>(0x800B0109u);

// Reads nothing: hands out real block objects with the signer it was given.
struct SigningBackend final : carvix::com::DocAdminBackend {
    void ReadVerified(const std::u16string&, std::uint16_t, CardBlock&) override {}
    std::shared_ptr<const BlockSigner> ReadVerifiedSigned(const std::u16string&, std::uint16_t,
                                                          CardBlock&) override {
        if (refuse) {
            throw CardException(u"The signer of block with ID 0x0D01 is not trusted",
                                kUntrustedRoot);
        }
        return signer;
    }
    HRESULT CreateBlockObject(const CLSID& clsid, const IID& iid, void** ppv) override {
        return carvix::com::CreateObject(clsid, iid, ppv);
    }
    HRESULT LoadBlockObject(const carvix::com::ReadMethod&, IUnknown* object,
                            CardBlock& model) override {
        return carvix::com::LoadBlock(object, static_cast<const CardBlock&>(model));
    }
    HRESULT StoreBlockObject(IUnknown*, CardBlock&) override { return E_NOTIMPL; }
    void WriteToCard(std::uintptr_t, std::uint16_t, const CardBlock&,
                     const Orvel::Security::Cryptography::X509::X509Certificate&) override {}

    std::shared_ptr<const BlockSigner> signer;
    bool refuse = false;
};

std::shared_ptr<const BlockSigner> Signer(carvix::card::TrustStatus status,
                                          carvix::card::DistrustReason reason) {
    auto signer = std::make_shared<BlockSigner>();
    signer->subject = u"CN=TEST Signer";
    signer->certificate = {0x30, 0x03, 0x02, 0x01, 0x05};
    signer->trust.status = status;
    signer->trust.reason = reason;
    return signer;
}

// A property of `object` read by name, as a script reads it, into `out`.
void Get(IDispatch* object, const char16_t* name, ca::ScopedVariant& out) {
    DISPID id = 0;
    auto* text = const_cast<char16_t*>(name);
    ASSERT_EQ(object->GetIDsOfNames(IID_NULL, &text, 1, 0, &id), S_OK) << "no member";
    DISPPARAMS none{};
    EXPECT_EQ(
        object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, out.Get(), nullptr, nullptr),
        S_OK);
}

std::u16string Text(IDispatch* object, const char16_t* name) {
    ca::ScopedVariant v;
    Get(object, name, v);
    return v->vt == VT_BSTR && v->bstrVal != nullptr ? std::u16string(v->bstrVal)
                                                     : std::u16string();
}

std::int32_t Number(IDispatch* object, const char16_t* name) {
    ca::ScopedVariant v;
    Get(object, name, v);
    EXPECT_EQ(v->vt, VT_I4);
    return v->lVal;
}

class SignerTrust : public ::testing::Test {
  protected:
    void SetUp() override {
        docAdmin = new carvix::com::DocAdminService(backend);
        ASSERT_EQ(carvix::com::SignerTrustService::CreateInstance(
                      nullptr, carvix::com::kIidISignerTrustService, trust.PutVoid()),
                  S_OK);
        reader = SysAllocString(u"Virtual PCD 00 00");
    }
    void TearDown() override {
        SysFreeString(reader);
        docAdmin->Release();
    }
    // The read's block object, or its failure.
    HRESULT Read(IDispatch** block) {
        return docAdmin->ReadVLDocumentData(
            reader, 1, reinterpret_cast<carvix::com::IVLDocumentBlockArg**>(block));
    }

    SigningBackend backend;
    carvix::com::DocAdminService* docAdmin = nullptr;
    ca::ComPtr<carvix::com::ISignerTrustService> trust;
    BSTR reader = nullptr;
};

TEST_F(SignerTrust, TheSignerOfAReadReachesScriptsByName) {
    backend.signer =
        Signer(carvix::card::TrustStatus::Untrusted, carvix::card::DistrustReason::Expired);
    ca::ComPtr<IDispatch> block;
    ASSERT_EQ(Read(block.Put()), S_OK);
    ca::ComPtr<carvix::com::ISignerInfo> info;
    ASSERT_EQ(trust->SignerOf(block.Get(), info.Put()), S_OK);
    EXPECT_EQ(Text(info.Get(), u"Subject"), u"CN=TEST Signer");
    EXPECT_EQ(Text(info.Get(), u"Trust"), u"untrusted");
    EXPECT_EQ(Text(info.Get(), u"Reason"), u"expired");
    EXPECT_EQ(Text(info.Get(), u"Certificate"), u"MAMCAQU=");
    EXPECT_EQ(static_cast<std::uint32_t>(Number(info.Get(), u"TrustResult")), 0x800B0101u);

    // A block read without a signer, or made by a script, has none to give.
    backend.signer = nullptr;
    ca::ComPtr<IDispatch> unsigned_;
    ASSERT_EQ(Read(unsigned_.Put()), S_OK);
    ca::ComPtr<carvix::com::ISignerInfo> none;
    EXPECT_EQ(trust->SignerOf(unsigned_.Get(), none.Put()), kNoSignature);
    EXPECT_EQ(none.Get(), nullptr);
    ca::ComPtr<IDispatch> made;
    ASSERT_EQ(carvix::com::CreateObject(carvix::com::kClsidVLDocumentBlock, IID_IDispatch,
                                        made.PutVoid()),
              S_OK);
    EXPECT_EQ(trust->SignerOf(made.Get(), none.Put()), kNoSignature);
    // Something that is no block object of this module, and nothing at all.
    EXPECT_EQ(trust->SignerOf(trust.Get(), none.Put()), E_INVALIDARG);
    EXPECT_EQ(trust->SignerOf(nullptr, none.Put()), E_INVALIDARG);
}

TEST_F(SignerTrust, NotCheckedIsNotAFailureCode) {
    backend.signer =
        Signer(carvix::card::TrustStatus::NotChecked, carvix::card::DistrustReason::None);
    ca::ComPtr<IDispatch> block;
    ASSERT_EQ(Read(block.Put()), S_OK);
    ca::ComPtr<carvix::com::ISignerInfo> info;
    ASSERT_EQ(trust->SignerOf(block.Get(), info.Put()), S_OK);
    EXPECT_EQ(Text(info.Get(), u"Trust"), u"not checked");
    EXPECT_EQ(Text(info.Get(), u"Reason"), u"");
    EXPECT_EQ(Number(info.Get(), u"TrustResult"), 1);
}

TEST_F(SignerTrust, APolicyRefusalIsTheReadsResultWithoutANotice) {
    static int notices = 0;
    const auto previous = carvix::com::GetNotifier();
    carvix::com::SetNotifier([](const char16_t*, const char16_t*, std::uint32_t) { ++notices; });
    backend.refuse = true;
    IDispatch* block = nullptr;
    EXPECT_EQ(Read(&block), kUntrustedRoot);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(notices, 0);
    carvix::com::SetNotifier(previous);
}

}  // namespace
