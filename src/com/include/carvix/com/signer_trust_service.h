// CARVIX.SignerTrust: who signed a block that was read, and whether that signer is trusted.
//
// A block object handed out by a read of CARVIX.DocAdmin remembers the signer of the SOD that
// covered it and the trust result of that signer (ISignerRecord, in process only). Scripts
// ask for it by name through this service, so that the block interfaces stay as they are:
//
//     signer = CreateObject("CARVIX.SignerTrust").SignerOf(block)
//     signer.Subject, signer.Trust ("trusted", "untrusted", "not checked"), signer.Reason
#pragma once

#include "carvix/automation/typeinfo.h"
#include "carvix/card/signer_trust.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace carvix::com {

// {4C8A2F61-7D3E-4B9A-A1C5-2E6F08D93B71} SignerTrustService
inline constexpr GUID kClsidSignerTrustService = {
    0x4C8A2F61, 0x7D3E, 0x4B9A, {0xA1, 0xC5, 0x2E, 0x6F, 0x08, 0xD9, 0x3B, 0x71}};
// {4C8A2F62-7D3E-4B9A-A1C5-2E6F08D93B71} ISignerTrustService
inline constexpr GUID kIidISignerTrustService = {
    0x4C8A2F62, 0x7D3E, 0x4B9A, {0xA1, 0xC5, 0x2E, 0x6F, 0x08, 0xD9, 0x3B, 0x71}};
// {4C8A2F63-7D3E-4B9A-A1C5-2E6F08D93B71} ISignerInfo
inline constexpr GUID kIidISignerInfo = {
    0x4C8A2F63, 0x7D3E, 0x4B9A, {0xA1, 0xC5, 0x2E, 0x6F, 0x08, 0xD9, 0x3B, 0x71}};
// {4C8A2F64-7D3E-4B9A-A1C5-2E6F08D93B71} ISignerRecord (in process, never through IDispatch)
inline constexpr GUID kIidISignerRecord = {
    0x4C8A2F64, 0x7D3E, 0x4B9A, {0xA1, 0xC5, 0x2E, 0x6F, 0x08, 0xD9, 0x3B, 0x71}};

/// The signer of a SOD as a read found it.
struct BlockSigner {
    std::vector<std::uint8_t> certificate;  // DER
    std::u16string subject;                 // RFC 2253
    std::u16string issuer;
    std::u16string serialNumber;  // hexadecimal
    card::SignerTrust trust;
};

/// What a read knows of a block's signer, from the signer certificate and its trust result.
std::shared_ptr<const BlockSigner> MakeBlockSigner(X509* certificate,
                                                   const card::SignerTrust& trust);

/// The private interface of the block objects that holds their signer.
struct ISignerRecord : IUnknown {
    static constexpr const IID& kIid = kIidISignerRecord;
    static constexpr const char16_t* kName = u"ISignerRecord";
    virtual void SetSigner(std::shared_ptr<const BlockSigner> signer) noexcept = 0;
    virtual std::shared_ptr<const BlockSigner> Signer() const noexcept = 0;

  protected:
    ~ISignerRecord() = default;
};

/// The storage behind ISignerRecord, a further interface of every block class.
class SignerRecord : public ISignerRecord {
  public:
    void SetSigner(std::shared_ptr<const BlockSigner> signer) noexcept override {
        signer_ = std::move(signer);
    }
    std::shared_ptr<const BlockSigner> Signer() const noexcept override { return signer_; }

  private:
    std::shared_ptr<const BlockSigner> signer_;
};

/// Hands `signer` to the block object `object` (nothing happens for an object without the
/// record).
void AttachSigner(IUnknown* object, std::shared_ptr<const BlockSigner> signer) noexcept;

struct ISignerInfo : IDispatch {
    static constexpr const IID& kIid = kIidISignerInfo;
    static constexpr const char16_t* kName = u"ISignerInfo";
    virtual HRESULT get_Subject(BSTR* pVal) = 0;
    virtual HRESULT get_Issuer(BSTR* pVal) = 0;
    virtual HRESULT get_SerialNumber(BSTR* pVal) = 0;
    /// The signer's certificate, DER in Base64.
    virtual HRESULT get_Certificate(BSTR* pVal) = 0;
    /// "trusted", "untrusted" or "not checked".
    virtual HRESULT get_Trust(BSTR* pVal) = 0;
    /// "unknown issuer", "expired", "revoked", "wrong usage", "invalid chain"; empty unless
    /// untrusted.
    virtual HRESULT get_Reason(BSTR* pVal) = 0;
    /// 0 trusted, 1 not checked, else the code a read fails with when trust is required.
    virtual HRESULT get_TrustResult(std::int32_t* pVal) = 0;

  protected:
    ~ISignerInfo() = default;
};

struct ISignerTrustService : IDispatch {
    static constexpr const IID& kIid = kIidISignerTrustService;
    static constexpr const char16_t* kName = u"ISignerTrustService";
    /// The signer of a block object that a read handed out. TRUST_E_NOSIGNATURE (0x800B0100)
    /// for a block that was not read from a card or has no SOD; E_INVALIDARG for a null
    /// argument or an object that is no block object of this module.
    virtual HRESULT SignerOf(IDispatch* pBlock, ISignerInfo** ppSigner) = 0;
    /// Whether any trust anchor is installed (else every result is "not checked").
    virtual HRESULT get_AnchorsInstalled(std::int16_t* pVal) = 0;
    /// Whether the administrator requires trusted signers for reads.
    virtual HRESULT get_TrustedSignerRequired(std::int16_t* pVal) = 0;

  protected:
    ~ISignerTrustService() = default;
};

extern const automation::InterfaceDesc kSignerTrustServiceDesc;
extern const automation::InterfaceDesc kSignerInfoDesc;

}  // namespace carvix::com
