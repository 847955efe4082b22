// CARVIX.SignerTrust and the signer objects it hands out (see signer_trust_service.h).
#pragma once

#include "carvix/com/object.h"
#include "carvix/com/signer_trust_service.h"

namespace carvix::com {

class SignerTrustService final : public CoClass<SignerTrustService, ISignerTrustService,
                                                kSignerTrustServiceDesc, ObjectSafety> {
  public:
    HRESULT SignerOf(IDispatch* pBlock, ISignerInfo** ppSigner) override;
    HRESULT get_AnchorsInstalled(std::int16_t* pVal) override;
    HRESULT get_TrustedSignerRequired(std::int16_t* pVal) override;
};

class SignerInfo final : public CoClass<SignerInfo, ISignerInfo, kSignerInfoDesc, ObjectSafety> {
  public:
    void Set(std::shared_ptr<const BlockSigner> signer) noexcept { signer_ = std::move(signer); }

    HRESULT get_Subject(BSTR* pVal) override;
    HRESULT get_Issuer(BSTR* pVal) override;
    HRESULT get_SerialNumber(BSTR* pVal) override;
    HRESULT get_Certificate(BSTR* pVal) override;
    HRESULT get_Trust(BSTR* pVal) override;
    HRESULT get_Reason(BSTR* pVal) override;
    HRESULT get_TrustResult(std::int32_t* pVal) override;

  private:
    std::shared_ptr<const BlockSigner> signer_;
};

}  // namespace carvix::com
