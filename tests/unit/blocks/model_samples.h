// Sample content for the block models, shared by the unit tests, the benchmark and the
// fuzz target: every model with its largest encoded size, a filler that puts every element
// at its maximum, a random filler of accepted values, and a field-by-field comparison.
#pragma once

#include "carvix/blocks/card_block.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace carvix::test {

struct ModelKind {
    std::string name;
    std::uint16_t blockId;
    std::size_t largestSize;  ///< bytes of the block with every element at its maximum
    std::function<std::unique_ptr<CardBlock>()> make;
};

/// The ten VL and ZK models and the card document block.
const std::vector<ModelKind>& AllModels();

/// Every element present, each value at the element's maximum length.
void FillLargest(CardBlock& model);
/// Random values the model accepts; each optional element present or absent at random.
void FillRandom(CardBlock& model, std::mt19937& random);
/// Empty when both models hold the same presence and values element by element; otherwise
/// a description of the first difference.
std::string Differences(const CardBlock& expected, const CardBlock& actual);

}  // namespace carvix::test
