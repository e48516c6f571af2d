#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <tuple>
#include <vector>

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

using Runs = std::vector<std::tuple<std::size_t, std::size_t, int>>;

// What a chunk leaves of the patterned record: runs of (first, count, value) written
// over its pixels, and over its colours as the grey (value, value, value) of 6-bit
// components, and bytes copied into its pixels from copiedAt on.
struct Change {
    Runs pixels;
    Runs colors;
    ByteArray copied;
    std::size_t copiedAt = 0;

    FrameRecord Record() const
    {
        FrameRecord record = Patterned();
        for (const auto& [first, count, value] : pixels) {
            std::fill_n(record.Pixels.begin() + static_cast<std::ptrdiff_t>(first), count,
                        static_cast<std::uint8_t>(value));
        }
        for (const auto& [first, count, value] : colors) {
            const auto v = static_cast<std::uint8_t>(value);
            std::fill_n(record.Colors.Colors.begin() + static_cast<std::ptrdiff_t>(first), count,
                        VgaColor(v, v, v));
        }
        std::copy(copied.begin(), copied.end(),
                  record.Pixels.begin() + static_cast<std::ptrdiff_t>(copiedAt));
        return record;
    }
};

Change With(Runs pixels, Runs colors = {}, ByteArray copied = {}, std::size_t copiedAt = 0)
{
    return {std::move(pixels), std::move(colors), std::move(copied), copiedAt};
}

ByteArray Counting(std::size_t count, std::size_t modulo = 256)
{
    ByteArray bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i % modulo);
    }
    return bytes;
}

// Runs one chunk on a fresh patterned record; the kind of Error it threw, if any.
std::optional<ErrorKind> Decode(std::int16_t type, const ByteArray& payload, FrameRecord& record)
{
    record = Patterned();
    const FLIChunk chunk{static_cast<std::int32_t>(payload.size() + 6), type, payload};
    return ErrorKindOf([&] { DecodeChunk(chunk, record); });
}

}  // namespace

// Each decoder writes exactly what its packets say, and on a fault what fit before it.
TEST(ChunkDecoders, WriteWhatThePacketsSayAndOnAFaultWhatFits)
{
    constexpr std::optional<ErrorKind> kFine;
    constexpr auto kCut = ErrorKind::Truncated;
    constexpr auto kBad = ErrorKind::Corrupt;
    const ByteArray copy = Counting(64005, 127);  // row 0 first; bytes past 64000 unused
    const ByteArray copyCut(copy.begin(), copy.begin() + 63999);
    const struct {
        const char* what;
        std::int16_t type;
        ByteArray payload;
        std::optional<ErrorKind> kind;
        Change change;
    } cases[] = {
        // Colour packets: a skip, then a count of entries, 0 meaning 256.
        {"skips", FLI_COLOR, Payload().U16(2).U8({0, 16}).Fill(48, 1).U8({16, 16}).Fill(48, 2),
         kFine, With({}, {{0, 16, 1}, {32, 16, 2}})},
        // A packet count of 0 or below changes nothing.
        {"0 packets", FLI_COLOR, Payload().U16(0).U8({0, 0}).Fill(768, 5), kFine, With({})},
        {"-1 packets", FLI_COLOR, Payload().U16(0xFFFF).U8({0, 0}).Fill(768, 5), kFine, With({})},
        {"-32767 packets", FLI_COLOR, Payload().U16(0x8001).U8({0, 0}).Fill(768, 5), kFine,
         With({})},
        {"-32768 packets", FLI_COLOR, Payload().U16(0x8000).Fill(770, 0), kBad, With({})},
        {"past colour 255", FLI_COLOR, Payload().U16(1).U8({250, 10}).Fill(30, 1), kBad,
         With({}, {{250, 6, 1}})},
        {"past the payload", FLI_COLOR, Payload().U16(1).U8({3, 2, 4, 4, 4, 4}), kCut,
         With({}, {{3, 1, 4}})},
        {"no packet count", FLI_COLOR, Payload().U8({1}), kCut, With({})},
        {"no second packet", FLI_COLOR, Payload().U16(2).U8({0, 1, 4, 4, 4}), kCut,
         With({}, {{0, 1, 4}})},

        // Byte runs: a positive count repeats a byte, a negative one copies bytes; rows
        // without packets stay as they were.
        {"byte-run senses", FLI_BRUN,
         Payload()
             .U8({5, 0x80})
             .Bytes(Counting(128))
             .U8({0xFF, 77, 0x7F, 7, 0x00, 9, 0x40, 3})  // copy 1, 127 x 7, nothing, 64 x 3
             .U8({0, 1, 5, 1})                           // row 1 as it was; row 2: 5 x 1
             .Fill(197, 0),
         kFine, With({{128, 1, 77}, {129, 127, 7}, {256, 64, 3}, {640, 5, 1}}, {}, Counting(128))},
        // Packet counts are taken as read: row 0 runs 61 pixels into row 1, so the next
        // row's packets start at row 2.
        {"byte run past its row", FLI_BRUN,
         Payload().U8({3, 127, 5, 127, 5, 127, 5, 1, 2, 6}).Fill(198, 0), kFine,
         With({{0, 381, 5}, {640, 2, 6}})},
        {"byte run past the frame", FLI_BRUN,
         Payload().Fill(199, 0).U8({3, 127, 8, 127, 8, 127, 8}), kBad, With({{63680, 320, 8}})},
        {"byte copy past the frame", FLI_BRUN,
         Payload().Fill(199, 0).U8({3, 127, 8, 127, 8, 0x80}).Bytes(Counting(128)), kBad,
         With({{63680, 254, 8}}, {}, Counting(66), 63934)},
        {"byte copy past the payload", FLI_BRUN, Payload().U8({1, 0x80}).Fill(10, 4), kCut,
         With({{0, 10, 4}})},
        {"199 rows", FLI_BRUN, Payload().Fill(199, 0), kCut, With({})},

        // Line compression: a first row, a row count, then per row its packets of a skip
        // and a count (positive copies, negative repeats).
        {"0 rows", FLI_LC, Payload().U16(0).U16(0).U8({1, 0, 1, 9}), kFine, With({})},
        {"0 rows from 65535", FLI_LC, Payload().U16(65535).U16(0), kFine, With({})},
        {"one copy", FLI_LC, Payload().U16(10).U16(1).U8({1, 5, 3, 1, 2, 3}), kFine,
         With({{3205, 1, 1}, {3206, 1, 2}, {3207, 1, 3}})},
        // 0xFF: one 1; 0x80: 128 x 2; 0x00: nothing; 2: copy 3, 4; skip 4, then 0xFE: 2 x 5.
        {"counts", FLI_LC,
         Payload().U16(0).U16(1).U8({5, 0, 0xFF, 1, 0, 0x80, 2, 0, 0x00, 0, 2, 3, 4, 4, 0xFE, 5}),
         kFine, With({{0, 1, 1}, {1, 128, 2}, {129, 1, 3}, {130, 1, 4}, {135, 2, 5}})},
        // Exactly 320 pixels: the next row follows at once, at 320 not 640; a row without
        // packets moves on one row; skips run on into the next row, and the cursor then
        // rises to the start of the row after it.
        {"rows", FLI_LC,
         Payload().U16(0).U16(6).U8({3, 0, 0x80, 5, 0, 0x80, 5, 0,   0xC0, 5, 1, 0, 1, 9, 0,
                                     1, 0, 1,    8, 2, 255,  0, 255, 1,    7, 1, 0, 1, 6}),
         kFine, With({{0, 320, 5}, {320, 1, 9}, {960, 1, 8}, {1790, 1, 7}, {1920, 1, 6}})},
        // Rows past the last whose packets write nothing raise nothing.
        {"empty rows past the frame", FLI_LC,
         Payload().U16(199).U16(5).U8({0, 0, 1, 200, 0, 0, 1, 0, 0x00}), kFine, With({})},
        {"row 200", FLI_LC, Payload().U16(200).U16(1).U8({1, 0, 1, 5}), kBad, With({})},
        {"repeat past the frame", FLI_LC,
         Payload().U16(199).U16(1).U8({3, 0, 0x80, 4, 0, 0x80, 4, 0, 0x80, 4}), kBad,
         With({{63680, 320, 4}})},
        {"copy past the frame", FLI_LC,
         Payload().U16(199).U16(1).U8({3, 0, 0x80, 4, 0, 0x80, 4, 0, 0x7F}).Fill(127, 3), kBad,
         With({{63680, 256, 4}, {63936, 64, 3}})},
        {"copy past the payload", FLI_LC, Payload().U16(0).U16(1).U8({1, 2, 5, 6, 6, 6}), kCut,
         With({{2, 3, 6}})},
        {"no packet count", FLI_LC, Payload().U16(0).U16(2).U8({0}), kCut, With({})},
        {"no row count", FLI_LC, ByteArray{0}, kCut, With({})},

        // Black clears the pixels, copy sets them, each leaving the colours.
        {"black", FLI_BLACK, ByteArray{1, 2, 3}, kFine, With({{0, kFramePixels, 0}})},
        {"copy", FLI_COPY, copy, kFine,
         With({}, {}, ByteArray(copy.begin(), copy.begin() + 64000))},
        {"copy cut short", FLI_COPY, copyCut, kCut, With({}, {}, copyCut)},
    };
    FrameRecord record;
    for (const auto& c : cases) {
        EXPECT_EQ(Decode(c.type, c.payload, record), c.kind) << c.what;
        EXPECT_EQ(record, c.change.Record()) << c.what;
    }
    for (const std::int16_t type : {0, -1, 7, 14, 17, 99}) {
        EXPECT_EQ(Decode(type, BrunFill(1), record), std::nullopt);
        EXPECT_EQ(record, Patterned()) << "type " << type;
    }

    // All 256 colours in one packet of count 0; blue of 64 and more is capped at 255.
    Payload all;
    all.U16(1).U8({0, 0});
    for (int i = 0; i < 256; ++i) {
        all.U8({i % 64, 63, i});
    }
    ASSERT_EQ(Decode(FLI_COLOR, all, record), std::nullopt);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(record.Colors[i], VgaColor(i % 64, 63, static_cast<std::uint8_t>(i))) << i;
    }
    EXPECT_EQ(record.Pixels, Patterned().Pixels);

    try {
        DecodeLCChunk(FLIChunk{10, FLI_LC, Payload().U16(200).U16(1).U8({1, 0, 1, 5}).bytes()},
                      record);
        ADD_FAILURE() << "no Error was thrown";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "Corrupt: pixel 64000 lies outside the 320 x 200 frame");
    }
}

// The FLC chunks on frames of any size: each case decodes one chunk into a record
// of width x height pixels all 0xEE and gives the pixels it must leave.
TEST(ChunkDecoders, FlcChunksAtAnyFrameSize)
{
    constexpr std::optional<ErrorKind> kFine;
    constexpr auto kCut = ErrorKind::Truncated;
    constexpr auto kBad = ErrorKind::Corrupt;
    constexpr int U = 0xEE;  // untouched
    // One row of 4096: two runs of 127, 30 literal packets of 128 and a run of 2.
    Payload wideRow;
    wideRow.U8({0, 127, 3, 127, 4});
    std::vector<int> wideExpected(127, 3);
    wideExpected.insert(wideExpected.end(), 127, 4);
    for (int i = 0; i < 30; ++i) {
        wideRow.U8({0x80}).Fill(128, static_cast<std::uint8_t>(i));
        wideExpected.insert(wideExpected.end(), 128, i);
    }
    wideRow.U8({2, 9});
    wideExpected.insert(wideExpected.end(), 2, 9);
    const struct {
        const char* what;
        std::int32_t width, height;
        std::int16_t type;
        ByteArray payload;
        std::optional<ErrorKind> kind;
        std::vector<int> pixels;
    } cases[] = {
        // Word deltas: a line count, then per line its skip, last-pixel and packet words.
        {"line skip",
         3,
         3,
         FLC_DELTA,
         Payload().U16(1).U16(0xFFFE).U16(1).U8({1, 1, 7, 8}),
         kFine,
         {U, U, U, U, U, U, U, 7, 8}},
        {"two lines, skip between",
         2,
         3,
         FLC_DELTA,
         Payload().U16(2).U16(1).U8({0, 1, 1, 2}).U16(0xFFFF).U16(1).U8({0, 0xFF, 5, 6}),
         kFine,
         {1, 2, U, U, 5, 6}},
        // The last pixel of an odd width, then the line's packets; the line goes on.
        {"last pixel",
         3,
         2,
         FLC_DELTA,
         Payload().U16(1).U16(0x8009).U16(1).U8({0, 0xFF, 5, 6}),
         kFine,
         {5, 6, 9, U, U, U}},
        {"last pixel, no packet",
         3,
         2,
         FLC_DELTA,
         Payload().U16(2).U16(0x8009).U16(0).U16(0x8004).U16(0),
         kFine,
         {U, U, 9, U, U, 4}},
        {"repeated pair",
         5,
         1,
         FLC_DELTA,
         Payload().U16(1).U16(1).U8({1, 0xFE, 1, 2}),
         kFine,
         {U, 1, 2, 1, 2}},
        {"two packets",
         6,
         1,
         FLC_DELTA,
         Payload().U16(1).U16(2).U8({0, 1, 1, 2, 2, 0xFF, 3, 4}),
         kFine,
         {1, 2, U, U, 3, 4}},
        {"0 lines", 2, 2, FLC_DELTA, Payload().U16(0).U16(1).U8({0, 1, 1, 1}), kFine, {U, U, U, U}},
        {"past the frame",
         3,
         1,
         FLC_DELTA,
         Payload().U16(1).U16(1).U8({0, 2, 1, 2, 3, 4}),
         kBad,
         {1, 2, 3}},
        {"skip past the frame",
         2,
         1,
         FLC_DELTA,
         Payload().U16(1).U16(0xFFFF).U16(1).U8({0, 1, 1, 2}),
         kBad,
         {U, U}},
        {"word 01", 2, 1, FLC_DELTA, Payload().U16(1).U16(0x4001), kBad, {U, U}},
        {"cut in a pair",
         4,
         1,
         FLC_DELTA,
         Payload().U16(1).U16(1).U8({0, 2, 1, 2, 3}),
         kCut,
         {1, 2, 3, U}},
        {"no line count", 2, 1, FLC_DELTA, Payload().U8({1}), kCut, {U, U}},
        // Byte runs end each line at the width, whatever its packet count byte says.
        {"rows by width",
         3,
         2,
         FLI_BRUN,
         Payload().U8({99, 3, 1, 0, 0xFE, 4, 5, 1, 6}),
         kFine,
         {1, 1, 1, 4, 5, 6}},
        // A run past the row's end does not move the next row.
        {"a run past the row",
         3,
         2,
         FLI_BRUN,
         Payload().U8({1, 4, 1, 0, 2, 2, 1, 5}),
         kFine,
         {1, 1, 1, 2, 2, 5}},
        {"past the frame", 2, 1, FLI_BRUN, Payload().U8({1, 3, 7}), kBad, {7, 7}},
        {"1 x 1", 1, 1, FLI_BRUN, Payload().U8({0, 0xFF, 9}), kFine, {9}},
        {"4096 wide", 4096, 1, FLI_BRUN, wideRow, kFine, wideExpected},
        {"copy, odd width",
         5,
         1,
         FLI_COPY,
         Payload().U8({1, 2, 3, 4, 5, 6}),
         kFine,
         {1, 2, 3, 4, 5}},
        {"copy cut", 3, 1, FLI_COPY, Payload().U8({1, 2}), kCut, {1, 2, U}},
        {"black", 3, 1, FLI_BLACK, {}, kFine, {0, 0, 0}},
    };
    for (const auto& c : cases) {
        FrameRecord record(c.width, c.height);
        std::ranges::fill(record.Pixels, std::uint8_t{U});
        const FLIChunk chunk{static_cast<std::int32_t>(c.payload.size() + 6), c.type, c.payload};
        EXPECT_EQ(ErrorKindOf([&] { DecodeChunk(chunk, record, FlicKind::Flc); }), c.kind)
            << c.what;
        EXPECT_TRUE(std::ranges::equal(record.Pixels, c.pixels)) << c.what;
    }

    // 8-bit colours: a count of 0 is all 256; a 6-bit chunk stays 6-bit in an FLC.
    FrameRecord record(1, 1);
    Payload all;
    all.U16(1).U8({0, 0});
    for (int i = 0; i < 256; ++i) {
        all.U8({i, 255 - i, 7});
    }
    DecodeChunk(FLIChunk{0, FLC_COLOR_256, all.bytes()}, record, FlicKind::Flc);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(record.Colors[i], MakeColor(i, 255 - i, 7)) << i;
    }
    DecodeChunk(FLIChunk{0, FLI_COLOR, Payload().U16(1).U8({3, 1, 63, 0, 1}).bytes()}, record,
                FlicKind::Flc);
    EXPECT_EQ(record.Colors[3], VgaColor(63, 0, 1));
    // In an FLI file the FLC types are not read.
    DecodeChunk(FLIChunk{0, FLC_COLOR_256, all.bytes()}, record, FlicKind::Fli);
    EXPECT_EQ(record.Colors[3], VgaColor(63, 0, 1));
}
