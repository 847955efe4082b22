#include "whole_card_reader.h"

namespace carvix::cli {
namespace {

constexpr const char* kCall = "ReadApplication";

// The elements of the call's array: block objects, or VT_ERROR with a block's failure.
void TakeBlocks(const ScopedVariant& result, std::vector<WholeCardBlock>& blocks) {
    if (result->vt != (VT_ARRAY | VT_VARIANT) || result->parray == nullptr) {
        throw ClientError(DISP_E_TYPEMISMATCH, kCall);
    }
    std::int32_t lower = 0;
    std::int32_t upper = -1;
    SafeArrayGetLBound(result->parray, 1, &lower);
    SafeArrayGetUBound(result->parray, 1, &upper);
    if (static_cast<std::int64_t>(upper) - lower + 1 != static_cast<std::int64_t>(blocks.size())) {
        throw ClientError(DISP_E_BADINDEX, std::string(kCall) + ": another number of blocks");
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::int32_t index = lower + static_cast<std::int32_t>(i);
        ScopedVariant element;
        const HRESULT got = SafeArrayGetElement(result->parray, &index, element.Get());
        try {
            if (FAILED(got)) {
                throw ClientError(got, kCall);
            }
            if (element->vt == VT_ERROR) {
                throw ClientError(element->scode, kCall);
            }
            if (element->vt != VT_DISPATCH || element->pdispVal == nullptr) {
                throw ClientError(DISP_E_TYPEMISMATCH, kCall);
            }
            Object object = Object::Share(element->pdispVal);
            blocks[i].values = PropertiesJson(object);
            blocks[i].object = std::move(object);
        } catch (const ClientError& e) {
            blocks[i].error = e;
        }
    }
}

}  // namespace

std::optional<std::vector<WholeCardBlock>> ReadWholeApplication(const std::u16string& reader,
                                                                std::uint16_t appId,
                                                                std::size_t count) {
    Object service;
    try {
        service = Object::Create(u"CARVIX.WholeCard");
    } catch (const ClientError&) {
        return std::nullopt;
    }
    std::vector<WholeCardBlock> blocks(count);
    try {
        ScopedVariant result;
        service.Call(u"ReadApplication", {TextValue(reader), IntValue(appId)}, result);
        TakeBlocks(result, blocks);
    } catch (const ClientError& e) {
        for (WholeCardBlock& block : blocks) {
            block = WholeCardBlock{};
            block.error = e;
        }
    }
    return blocks;
}

}  // namespace carvix::cli
