// The generic block codec: header checks, element search, presence, limits and malformed
// bodies.
#include "block_bytes.h"
#include "carvix/blocks/bytes_element.h"
#include "carvix/blocks/card_block.h"
#include "carvix/blocks/card_document_model.h"
#include "carvix/blocks/u16_list_element.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using carvix::test::Ascii;
using carvix::test::BlockOf;
using carvix::test::CardError;
using carvix::test::Tlv;
using Orvel::ByteArray;

class SampleBlock : public CardBlock {
  public:
    SampleBlock() : CardBlock(0x0D77) {}
    BytesElement Required{*this, 0x101, 4, kMandatory};
    BytesElement Extra{*this, 0x102, 3, kOptional};
    U16ListElement Numbers{*this, 0x103, 6, kOptional};
};

class OptionalOnly : public CardBlock {
  public:
    OptionalOnly() : CardBlock(0x0D78) {}
    BytesElement Extra{*this, 0x102, 3, kOptional};
};

/// Exactly sized heap copy, so that a read past the end is caught by the sanitizer.
std::unique_ptr<std::uint8_t[]> Exact(const ByteArray& bytes) {
    auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return copy;
}

TEST(BlockHeader, SizeTagAndDeclaredLengthAreCheckedInOrder) {
    SampleBlock block;
    EXPECT_EQ(CardError([&] {
                  block.Decode(ByteArray{0x77, 0x0D, 0x00});
              }),
              u"Block size is smaller than minimum allowed");
    EXPECT_EQ(CardError([&] {
                  block.Decode(ByteArray{0x01, 0x0D, 0x00});
              }),
              u"Block size is smaller than minimum allowed");
    EXPECT_EQ(CardError([&] {
                  block.Decode(ByteArray{0x01, 0x0D, 0x05, 0x00});
              }),
              u"Declared block tag 0xD01 is different from required value 0xD77");
    ByteArray bytes = BlockOf(0x0D77, {Tlv(0x101, Ascii("ab"))});
    bytes[2] = 7;  // body is 6 bytes
    EXPECT_EQ(CardError([&] { block.Decode(bytes); }),
              u"Element with tag 0xD77 has length 6, different from declared length 7");
    bytes[2] = 5;
    EXPECT_EQ(CardError([&] { block.Decode(bytes); }),
              u"Element with tag 0xD77 has length 6, different from declared length 5");
}

TEST(BlockHeader, AnEmptyBodyDecodesUnlessAnElementIsMandatory) {
    OptionalOnly optional;
    optional.Decode(ByteArray{0x78, 0x0D, 0x00, 0x00});
    EXPECT_TRUE(optional.Extra.IsNull());

    SampleBlock block;
    EXPECT_EQ(CardError([&] {
                  block.Decode(ByteArray{0x77, 0x0D, 0x00, 0x00});
              }),
              u"Mandatory element with tag 0x0101 not found in block");
}

TEST(ElementSearch, OrderUnknownTagsDuplicatesAndEmptyValues) {
    SampleBlock block;
    block.Decode(BlockOf(0x0D77, {Tlv(0x999, Ascii("??")), Tlv(0x102, Ascii("xy")),
                                  Tlv(0x101, Ascii("")), Tlv(0x102, Ascii("zz"))}));
    EXPECT_EQ(block.Required.GetValue(), ByteArray{});  // an empty value is present
    EXPECT_EQ(block.Extra.GetValue(), Ascii("xy"));     // the first occurrence wins
    EXPECT_TRUE(block.Numbers.IsNull());
    // Re-encoding follows the declaration order and drops the unknown tag and duplicate.
    EXPECT_EQ(block.Encode(), BlockOf(0x0D77, {Tlv(0x101, {}), Tlv(0x102, Ascii("xy"))}));
}

TEST(ElementSearch, TheCardDocumentVectorHoldsOneElement) {
    const ByteArray bytes{0x00, 0x0D, 0x06, 0x00, 0x01, 0x06, 0x02, 0x00, 0x30, 0x31};
    CardDocumentModel model;
    EXPECT_EQ(*model.DocumentID.FindIn(bytes).value().data(), 0x30);
    EXPECT_EQ(CardError([&] { model.Decode(bytes); }),
              u"Mandatory element with tag 0x0602 not found in block");
    // Elements decoded before the failure keep their new values.
    EXPECT_EQ(model.DocumentID.GetValue(), 1);

    model.FixedCode.SetValue(1);
    model.PresentBlocks.SetValue({0x0D01, 0x0E02});
    EXPECT_EQ(model.Encode(),
              (ByteArray{0x00, 0x0D, 0x14, 0x00, 0x01, 0x06, 0x02, 0x00, 0x30, 0x31, 0x02, 0x06,
                         0x02, 0x00, 0x30, 0x31, 0x03, 0x06, 0x04, 0x00, 0x01, 0x0D, 0x02, 0x0E}));
    EXPECT_TRUE(model.PresentBlocks.Contains(0x0E02));
    EXPECT_FALSE(model.PresentBlocks.Contains(0x0D04));
}

// A body whose last element runs past the end of the bytes is refused, whichever element
// is being looked for, and nothing past the end is read.
TEST(MalformedBody, ElementsRunningPastTheEndAreRefused) {
    const ByteArray good = BlockOf(0x0D77, {Tlv(0x101, Ascii("ab"))});

    ByteArray strayHeader = good;
    strayHeader.insert(strayHeader.end(), {0x02, 0x01});  // half an element header
    strayHeader[2] += 2;
    SampleBlock block;
    EXPECT_EQ(CardError([&] { block.Decode(strayHeader); }),
              u"TLV element header at offset 10 of block with tag 0xD77 runs past the end of "
              u"the block (size 12)");

    ByteArray longValue = good;
    longValue.insert(longValue.end(), {0x02, 0x01, 0x10, 0x00, 0x41});  // 16 bytes claimed
    longValue[2] += 5;
    EXPECT_EQ(CardError([&] { block.Decode(longValue); }),
              u"TLV element with tag 0x102 at offset 10 of block with tag 0xD77 has length 16, "
              u"which runs past the end of the block (size 15)");

    // FindIn on its own gives the same protection.
    auto exact = Exact(longValue);
    ByteView view(exact.get(), longValue.size());
    EXPECT_EQ(block.Required.FindIn(view)->size(), 2u);  // found before the bad part
    EXPECT_FALSE(CardError([&] { block.Extra.FindIn(view); }).empty());
    EXPECT_FALSE(CardError([&] { block.Numbers.FindIn(view); }).empty());

    // A wrong declared length could hide a truncated tail; it is caught first.
    ByteArray truncated = good;
    truncated.pop_back();
    EXPECT_EQ(CardError([&] { block.Decode(truncated); }),
              u"Element with tag 0xD77 has length 5, different from declared length 6");
}

TEST(Presence, OptionalElementsComeAndGo) {
    SampleBlock block;
    EXPECT_EQ(block.Required.State(), Presence::Mandatory);
    EXPECT_EQ(block.Extra.State(), Presence::Absent);
    EXPECT_EQ(block.Extra.GetBytes(), std::nullopt);
    EXPECT_EQ(block.Extra.EncodeToTlv(), std::nullopt);
    EXPECT_EQ(CardError([&] { block.Extra.GetValue(); }),
              u"Referenced non-existent optional value with tag 258");
    EXPECT_EQ(CardError([&] { block.Required.IsNull(); }),
              u"Calling IsNull on mandatory value with tag 257");

    // Absent optional elements are left out, and stay absent after a round trip.
    const ByteArray encoded = block.Encode();
    EXPECT_EQ(encoded, BlockOf(0x0D77, {Tlv(0x101, {})}));
    SampleBlock again;
    again.Decode(encoded);
    EXPECT_TRUE(again.Extra.IsNull());

    block.Extra.SetValue(Ascii("abc"));
    EXPECT_EQ(block.Extra.State(), Presence::Present);
    EXPECT_EQ(block.Extra.EncodeToTlv(), Tlv(0x102, Ascii("abc")));
    block.Extra.SetBytes(std::nullopt);
    EXPECT_TRUE(block.Extra.IsNull());

    block.Required.SetValue(Ascii("x"));
    EXPECT_EQ(block.Required.State(), Presence::Mandatory);
    EXPECT_EQ(CardError([&] { block.Required.SetBytes(std::nullopt); }),
              u"Mandatory element with tag 0x0101 not found in block");
}

TEST(Limits, OneByteOverTheMaximumIsRefusedBothWays) {
    SampleBlock block;
    EXPECT_EQ(CardError([&] { block.Decode(BlockOf(0x0D77, {Tlv(0x101, Ascii("abcde"))})); }),
              u"Length 5 of TLV element with tag 0x101 in given block is larger than maximum "
              u"allowed 4");
    block.Decode(BlockOf(0x0D77, {Tlv(0x101, Ascii("abcd"))}));

    block.Extra.SetValue(Ascii("abcd"));
    EXPECT_EQ(CardError([&] { block.Encode(); }),
              u"Element with tag 0x102 has length 4, but maximum allowed is 3");
}

TEST(Limits, SixteenBitLengthsAreNeverExceeded) {
    BytesElement huge(0x200, 70000, Requirement::Mandatory);
    huge.SetValue(ByteArray(65536));
    EXPECT_EQ(CardError([&] { huge.EncodeToTlv(); }),
              u"TLV element size is larger than maximum allowed");

    class Wide : public CardBlock {
      public:
        Wide() : CardBlock(0x0D79) {}
        BytesElement A{*this, 0x1, 40000, kMandatory};
        BytesElement B{*this, 0x2, 40000, kMandatory};
    } wide;
    wide.A.SetValue(ByteArray(40000));
    wide.B.SetValue(ByteArray(25527));  // body 65535: the largest allowed
    EXPECT_EQ(wide.Encode().size(), 65539u);
    wide.B.SetValue(ByteArray(25528));
    EXPECT_EQ(CardError([&] { wide.Encode(); }), u"Block size is larger than maximum allowed");
}

TEST(Values, AFailedDecodeKeepsTheOldValueAndState) {
    SampleBlock block;
    block.Decode(BlockOf(0x0D77, {Tlv(0x101, {}), Tlv(0x103, ByteArray{0x01, 0x0D})}));
    EXPECT_EQ(block.Numbers.GetValue(), std::vector<std::uint16_t>{0x0D01});
    EXPECT_EQ(CardError([&] {
                  block.Numbers.SetBytes(ByteView(ByteArray{1, 2, 3}));
              }),
              u"Element with tag 0x103 has incorrect size of 3");
    EXPECT_EQ(block.Numbers.GetValue(), std::vector<std::uint16_t>{0x0D01});

    U16ListElement fresh(0x103, 6, Requirement::Optional);
    EXPECT_FALSE(CardError([&] { fresh.SetBytes(ByteView(ByteArray{1})); }).empty());
    EXPECT_TRUE(fresh.IsNull());
}

TEST(Values, CopyFromTakesTagLimitValueAndPresence) {
    BytesElement source(0x640, 10, Requirement::Optional);
    source.SetValue(Ascii("photo"));
    BytesElement target(0x641, 3, Requirement::Optional);
    target.CopyFrom(source);
    EXPECT_EQ(target.Tag(), 0x640);
    EXPECT_EQ(target.MaxLength(), 10u);
    EXPECT_EQ(target.State(), Presence::Present);
    EXPECT_EQ(target.GetValue(), Ascii("photo"));
}

}  // namespace
