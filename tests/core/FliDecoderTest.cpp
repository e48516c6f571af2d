#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <tuple>

#include "fli/FliDecoder.h"
#include "support/ErrorKindOf.h"
#include "support/FliFixtures.h"

using namespace varek;
using namespace varek::test;

namespace {

// Values no decoder below writes: pixels 128..227, colours with an odd red.
FrameRecord Patterned()
{
    FrameRecord record;
    for (std::size_t i = 0; i < kFramePixels; ++i) {
        record.Pixels[i] = static_cast<std::uint8_t>(128 + (i * 13) % 100);
    }
    for (std::size_t i = 0; i < 256; ++i) {
        record.Colors[i] = MakeColor(0xC1, 0xB1, static_cast<std::uint8_t>(i));
    }
    return record;
}

using Runs = std::initializer_list<std::tuple<std::size_t, std::size_t, int>>;

// The patterned record with runs of (first pixel, count, value) written over it.
FrameRecord With(Runs runs)
{
    FrameRecord record = Patterned();
    for (const auto& [first, count, value] : runs) {
        std::fill_n(record.Pixels.begin() + static_cast<std::ptrdiff_t>(first), count,
                    static_cast<std::uint8_t>(value));
    }
    return record;
}

ByteArray Counting(std::size_t count, std::size_t modulo = 256)
{
    ByteArray bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i % modulo);
    }
    return bytes;
}

class ChunkDecoders : public ::testing::Test {
protected:
    // Runs one chunk on a fresh patterned record; the kind of Error it threw, if any.
    std::optional<ErrorKind> Decode(std::int16_t type, const ByteArray& payload)
    {
        record = Patterned();
        const FLIChunk chunk{static_cast<std::int32_t>(payload.size() + 6), type, payload};
        return ErrorKindOf([&] { DecodeChunk(chunk, record); });
    }

    FrameRecord record;
};

}  // namespace

TEST_F(ChunkDecoders, ColourPacketsSkipCountAndCountZeroMeans256)
{
    Payload all;
    all.U16(1).U8({0, 0});
    for (int i = 0; i < 256; ++i) {
        all.U8({i % 64, 63, i});  // blue of 64 and more is capped at 255
    }
    ASSERT_EQ(Decode(FLI_COLOR, all), std::nullopt);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(record.Colors[i], VgaColor(i % 64, 63, static_cast<std::uint8_t>(i))) << i;
    }
    EXPECT_EQ(record.Pixels, Patterned().Pixels);

    ASSERT_EQ(Decode(FLI_COLOR, Payload().U16(2).U8({0, 16}).Fill(48, 1).U8({16, 16}).Fill(48, 2)),
              std::nullopt);
    FrameRecord expected = Patterned();
    for (int i = 0; i < 16; ++i) {
        expected.Colors[i] = VgaColor(1, 1, 1);
        expected.Colors[32 + i] = VgaColor(2, 2, 2);
    }
    EXPECT_EQ(record, expected);
}

TEST_F(ChunkDecoders, ColourPacketCountZeroOrNegativeChangesNothing)
{
    for (const std::uint16_t count : {0x0000, 0xFFFF, 0x8001}) {
        EXPECT_EQ(Decode(FLI_COLOR, Payload().U16(count).U8({0, 0}).Fill(768, 5)), std::nullopt);
        EXPECT_EQ(record, Patterned()) << count;
    }
    EXPECT_EQ(Decode(FLI_COLOR, Payload().U16(0x8000).Fill(770, 0)), ErrorKind::Corrupt);
    EXPECT_EQ(record, Patterned());
}

TEST_F(ChunkDecoders, ColourPacketPastColour255OrPastThePayloadWritesWhatFits)
{
    ASSERT_EQ(Decode(FLI_COLOR, Payload().U16(1).U8({250, 10}).Fill(30, 1)), ErrorKind::Corrupt);
    FrameRecord expected = Patterned();
    std::fill(expected.Colors.Colors.begin() + 250, expected.Colors.Colors.end(),
              VgaColor(1, 1, 1));
    EXPECT_EQ(record, expected);

    ASSERT_EQ(Decode(FLI_COLOR, Payload().U16(1).U8({3, 2, 4, 4, 4, 4})), ErrorKind::Truncated);
    expected = Patterned();
    expected.Colors[3] = VgaColor(4, 4, 4);
    EXPECT_EQ(record, expected);
    EXPECT_EQ(Decode(FLI_COLOR, Payload().U8({1})), ErrorKind::Truncated);
    EXPECT_EQ(Decode(FLI_COLOR, Payload().U16(2).U8({0, 1, 4, 4, 4})), ErrorKind::Truncated);
}

TEST_F(ChunkDecoders, ByteRunSizeSensesAndRowsWithoutPackets)
{
    Payload p;
    p.U8({5, 0x80}).Bytes(Counting(128));
    p.U8({0xFF, 77, 0x7F, 7, 0x00, 9, 0x40, 3});  // copy 1, 127 x 7, nothing, 64 x 3
    p.U8({0, 1, 5, 1}).Fill(197, 0);              // row 1 as it was; row 2: 5 x 1
    ASSERT_EQ(Decode(FLI_BRUN, p), std::nullopt);
    FrameRecord expected = With({{128, 1, 77}, {129, 127, 7}, {256, 64, 3}, {640, 5, 1}});
    std::copy_n(Counting(128).begin(), 128, expected.Pixels.begin());
    EXPECT_EQ(record, expected);

    // Packet counts are taken as read: row 0 runs 61 pixels into row 1, so the
    // next row's packets start at row 2.
    ASSERT_EQ(Decode(FLI_BRUN, Payload().U8({3, 127, 5, 127, 5, 127, 5, 1, 2, 6}).Fill(198, 0)),
              std::nullopt);
    EXPECT_EQ(record, With({{0, 381, 5}, {640, 2, 6}}));
}

TEST_F(ChunkDecoders, ByteRunOverrunWritesWhatFitsThenThrows)
{
    // Runs past the frame are corrupt.
    EXPECT_EQ(Decode(FLI_BRUN, Payload().Fill(199, 0).U8({3, 127, 8, 127, 8, 127, 8})),
              ErrorKind::Corrupt);
    EXPECT_EQ(record, With({{63680, 320, 8}}));

    EXPECT_EQ(
        Decode(FLI_BRUN, Payload().Fill(199, 0).U8({3, 127, 8, 127, 8, 0x80}).Bytes(Counting(128))),
        ErrorKind::Corrupt);
    FrameRecord expected = With({{63680, 254, 8}});
    std::copy_n(Counting(66).begin(), 66, expected.Pixels.begin() + 63934);
    EXPECT_EQ(record, expected);

    // The payload ends inside a copy run, or before its 200 rows.
    EXPECT_EQ(Decode(FLI_BRUN, Payload().U8({1, 0x80}).Fill(10, 4)), ErrorKind::Truncated);
    EXPECT_EQ(record, With({{0, 10, 4}}));
    EXPECT_EQ(Decode(FLI_BRUN, Payload().Fill(199, 0)), ErrorKind::Truncated);
    EXPECT_EQ(record, Patterned());
}

TEST_F(ChunkDecoders, LineCompressionWritesExactlyWhatItsPacketsSay)
{
    const struct {
        ByteArray payload;
        FrameRecord expected;
    } cases[] = {
        {Payload().U16(0).U16(0).U8({1, 0, 1, 9}), Patterned()},  // 0 rows
        {Payload().U16(65535).U16(0), Patterned()},
        {Payload().U16(10).U16(1).U8({1, 5, 3, 1, 2, 3}),
         With({{3205, 1, 1}, {3206, 1, 2}, {3207, 1, 3}})},
        // 0xFF: one 1; 0x80: 128 x 2; 0x00: nothing; 2: copy 3, 4; skip 4, then 0xFE: 2 x 5.
        {Payload().U16(0).U16(1).U8({5, 0, 0xFF, 1, 0, 0x80, 2, 0, 0x00, 0, 2, 3, 4, 4, 0xFE, 5}),
         With({{0, 1, 1}, {1, 128, 2}, {129, 1, 3}, {130, 1, 4}, {135, 2, 5}})},
        // Exactly 320 pixels: the next row follows at once, at 320 not 640; a row without
        // packets moves on one row; skips run on into the next row, and the cursor then
        // rises to the start of the row after it.
        {Payload().U16(0).U16(6).U8({3, 0, 0x80, 5, 0, 0x80, 5, 0,   0xC0, 5, 1, 0, 1, 9, 0,
                                     1, 0, 1,    8, 2, 255,  0, 255, 1,    7, 1, 0, 1, 6}),
         With({{0, 320, 5}, {320, 1, 9}, {960, 1, 8}, {1790, 1, 7}, {1920, 1, 6}})},
        // Rows past the last whose packets write nothing raise nothing.
        {Payload().U16(199).U16(5).U8({0, 0, 1, 200, 0, 0, 1, 0, 0x00}), Patterned()},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_EQ(Decode(FLI_LC, cases[i].payload), std::nullopt);
        EXPECT_EQ(record, cases[i].expected) << "case " << i;
    }
}

TEST_F(ChunkDecoders, LineCompressionFaultThrowsAfterThePixelsThatFit)
{
    const struct {
        ByteArray payload;
        ErrorKind kind;
        FrameRecord expected;
    } cases[] = {
        {Payload().U16(200).U16(1).U8({1, 0, 1, 5}), ErrorKind::Corrupt, Patterned()},
        {Payload().U16(199).U16(1).U8({3, 0, 0x80, 4, 0, 0x80, 4, 0, 0x80, 4}), ErrorKind::Corrupt,
         With({{63680, 320, 4}})},
        {Payload().U16(199).U16(1).U8({3, 0, 0x80, 4, 0, 0x80, 4, 0, 0x7F}).Fill(127, 3),
         ErrorKind::Corrupt, With({{63680, 256, 4}, {63936, 64, 3}})},
        {Payload().U16(0).U16(1).U8({1, 2, 5, 6, 6, 6}), ErrorKind::Truncated,  // past the payload
         With({{2, 3, 6}})},
        {Payload().U16(0).U16(2).U8({0}), ErrorKind::Truncated, Patterned()},
        {ByteArray{0}, ErrorKind::Truncated, Patterned()},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(Decode(FLI_LC, cases[i].payload), cases[i].kind) << "case " << i;
        EXPECT_EQ(record, cases[i].expected) << "case " << i;
    }
    try {
        DecodeLCChunk(FLIChunk{10, FLI_LC, cases[0].payload}, record);
        ADD_FAILURE() << "no Error was thrown";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "Corrupt: pixel 64000 lies outside the 320 x 200 frame");
    }
}

TEST_F(ChunkDecoders, BlackCopyAndIgnoredTypes)
{
    ASSERT_EQ(Decode(FLI_BLACK, ByteArray{1, 2, 3}), std::nullopt);
    EXPECT_EQ(record, With({{0, kFramePixels, 0}}));

    const ByteArray copy = Counting(64005, 127);  // row 0 first; bytes past 64000 unused
    ASSERT_EQ(Decode(FLI_COPY, copy), std::nullopt);
    EXPECT_TRUE(std::equal(record.Pixels.begin(), record.Pixels.end(), copy.begin()));
    EXPECT_EQ(record.Colors, Patterned().Colors);
    ASSERT_EQ(Decode(FLI_COPY, ByteArray(copy.begin(), copy.begin() + 63999)),
              ErrorKind::Truncated);
    EXPECT_TRUE(std::equal(copy.begin(), copy.begin() + 63999, record.Pixels.begin()));
    EXPECT_EQ(record.Pixels[63999], Patterned().Pixels[63999]);

    for (const std::int16_t type : {0, -1, 7, 14, 17, 99}) {
        EXPECT_EQ(Decode(type, BrunFill(1)), std::nullopt);
        EXPECT_EQ(record, Patterned()) << type;
    }
}
