#include "whole_card_reader.h"

namespace carvix::cli {
namespace {

constexpr const char* kCall = "ReadApplication";

// The elements of the call's array: block objects, or VT_ERROR with a block's failure.
void TakeBlocks(const ScopedVariant& result, std::vector<WholeCardBlock>& blocks) {
    const auto anotherNumber = [] {
        return ClientError(DISP_E_BADINDEX, std::string(kCall) + ": another number of blocks");
    };
    const std::size_t count =
        ForEachElement(*result, kCall, [&](std::size_t i, const VARIANT& element) {
            if (i >= blocks.size()) {
                throw anotherNumber();
            }
            try {
                if (element.vt == VT_ERROR) {
                    throw ClientError(element.scode, kCall);
                }
                if (element.vt != VT_DISPATCH || element.pdispVal == nullptr) {
                    throw ClientError(DISP_E_TYPEMISMATCH, kCall);
                }
                Object object = Object::Share(element.pdispVal);
                blocks[i].values = PropertiesJson(object);
                blocks[i].object = std::move(object);
            } catch (const ClientError& e) {
                blocks[i].error = e;
            }
        });
    if (count != blocks.size()) {
        throw anotherNumber();
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
