#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "fli/FliDecoder.h"
#include "support/ErrorKindOf.h"
#include "support/FliFixtures.h"
#include "support/RecordingReporter.h"
#include "support/TempFolder.h"

using namespace varek;
using namespace varek::test;

namespace {

struct Decoded {
    FrameStore store;
    RecordingReporter reporter;
    std::optional<ErrorKind> error;
};

Decoded Decode(const ByteArray& file)
{
    Decoded result;
    result.error = ErrorKindOf([&] { DecodeFLIFile(file, result.store, result.reporter); });
    return result;
}

FrameRecord Filled(std::uint8_t value, const Palette& colors)
{
    FrameRecord record;
    record.Pixels.fill(value);
    record.Colors = colors;
    return record;
}

FrameRecord WithRow(FrameRecord record, int row, std::uint8_t value)
{
    std::fill_n(record.Pixels.begin() + row * 320, 320, value);
    return record;
}

Palette AllOf(ColorValue color)
{
    Palette palette;
    palette.Colors.fill(color);
    return palette;
}

const Palette kRed = AllOf(VgaColor(63, 0, 0));
const Palette kBlue = AllOf(VgaColor(0, 0, 63));
const FliFrameData kFirst{{Chunk(FLI_COLOR, AllColors(63, 0, 0)), Chunk(FLI_BRUN, BrunFill(1))}};

// Record 0 untouched, then exactly frames; unless told otherwise a load without faults.
void ExpectRecords(const Decoded& d, std::initializer_list<FrameRecord> frames,
                   std::optional<ErrorKind> error = std::nullopt, std::size_t reports = 0)
{
    EXPECT_EQ(d.error, error);
    EXPECT_EQ(d.reporter.messages.size(), reports);
    ASSERT_EQ(d.store.size(), frames.size() + 1);
    EXPECT_EQ(d.store[0], FrameRecord{});
    std::size_t index = 1;
    for (const FrameRecord& frame : frames) {
        EXPECT_EQ(d.store[index], frame) << "record " << index;
        ++index;
    }
}

}  // namespace

TEST(FrameWalk, UsualLayoutGivesOneRecordPerFrame)
{
    const FrameRecord one = Filled(1, kRed);
    ExpectRecords(
        Decode(Fli({kFirst, {{Chunk(FLI_LC, LcRow(5, 2))}}, {{Chunk(FLI_LC, LcRow(6, 3))}}})),
        {one, WithRow(one, 5, 2), WithRow(WithRow(one, 5, 2), 6, 3)});
}

TEST(FrameWalk, ColourAndBlackChunksNeverChangeAnEarlierFrame)
{
    const FrameRecord one = Filled(1, kRed);
    const FliChunkData blue = Chunk(FLI_COLOR, AllColors(0, 0, 63));
    const FliChunkData row0 = Chunk(FLI_LC, LcRow(0, 2));
    const FrameRecord blueRow0 = WithRow(Filled(1, kBlue), 0, 2);
    ExpectRecords(Decode(Fli({kFirst, {{blue, row0}}})), {one, blueRow0});
    ExpectRecords(Decode(Fli({kFirst, {{row0, blue}}})), {one, blueRow0});
    ExpectRecords(Decode(Fli({kFirst, {{blue}}})), {one, Filled(1, kBlue)});
    ExpectRecords(Decode(Fli({kFirst, {{Chunk(FLI_BLACK)}}, {{row0}}})),
                  {one, Filled(0, kRed), WithRow(Filled(0, kRed), 0, 2)});
    ExpectRecords(Decode(Fli({kFirst, {{Chunk(FLI_COPY, ByteArray(64000, 9))}}})),
                  {one, Filled(9, kRed)});
}

TEST(FrameWalk, FramesWithoutDecodedChunksAddNoRecord)
{
    const FrameRecord one = Filled(1, kRed);
    ExpectRecords(Decode(Fli({{},
                              {{Chunk(14, ByteArray(10, 1)), Chunk(7), Chunk(99)}},
                              kFirst,
                              {{Chunk(14), Chunk(FLI_LC, LcRow(3, 4)), Chunk(99)}},
                              {}})),
                  {one, WithRow(one, 3, 4)});
}

TEST(FrameWalk, NextFrameIsReadAtPositionPlusSize)
{
    const FliFrameData last{{Chunk(FLI_LC, LcRow(7, 7))}};
    const FrameRecord one = Filled(1, kRed);
    // A trailing chunk the count leaves out, and a count of 5 for a frame of 2 chunks.
    ByteArray file = Fli({kFirst,
                          {{Chunk(FLI_LC, LcRow(0, 2)), Chunk(FLI_LC, LcRow(1, 3))}},
                          {{Chunk(FLI_LC, LcRow(2, 4)), Chunk(FLI_LC, LcRow(3, 5))}},
                          last});
    StoreU16(file.data() + FrameOffset(file, 1) + 6, 1);
    StoreU16(file.data() + FrameOffset(file, 2) + 6, 5);
    FrameRecord two = WithRow(one, 0, 2);
    FrameRecord three = WithRow(WithRow(two, 2, 4), 3, 5);
    ExpectRecords(Decode(file), {one, two, three, WithRow(three, 7, 7)});
    // A negative chunk count reads no chunk.
    StoreU16(file.data() + FrameOffset(file, 1) + 6, 0xFFFF);
    const FrameRecord skipped = WithRow(WithRow(one, 2, 4), 3, 5);
    ExpectRecords(Decode(file), {one, skipped, WithRow(skipped, 7, 7)});
}

TEST(FrameWalk, ChunkPassingItsFrameIsCutThereAndEndsTheFrame)
{
    ByteArray file = Fli({{{Chunk(FLI_COPY, ByteArray(64000, 4)), Chunk(FLI_LC, LcRow(0, 8))}},
                          {{Chunk(FLI_LC, LcRow(1, 6))}}});
    StoreU32(file.data() + 128 + 16, 0x7FFFFFFF);
    ExpectRecords(Decode(file), {Filled(4, Palette{}), WithRow(Filled(4, Palette{}), 1, 6)});
}

TEST(FrameWalk, ReadsExactlyFrameCountFramesAndNeverTheRing)
{
    const FliFrameData ring{{Chunk(FLI_LC, LcRow(0, 9))}};
    ByteArray file =
        Fli({kFirst, {{Chunk(FLI_LC, LcRow(1, 2))}}, {{Chunk(FLI_LC, LcRow(2, 3))}}}, &ring);
    const FrameRecord one = Filled(1, kRed);
    ExpectRecords(Decode(file), {one, WithRow(one, 1, 2), WithRow(WithRow(one, 1, 2), 2, 3)});
    StoreU16(file.data() + 6, 1);
    ExpectRecords(Decode(file), {one});
    for (const std::uint16_t count : {0, 0xFFFF, 0x8000}) {
        StoreU16(file.data() + 6, count);
        ExpectRecords(Decode(file), {});
    }
}

TEST(FrameWalk, ColourByteRunAndCopyFaultsEndTheLoadKeepingTheRecords)
{
    const FrameRecord one = Filled(1, kRed);
    const FliFrameData after{{Chunk(FLI_LC, LcRow(0, 5))}};
    FrameRecord colourFault = one;
    colourFault.Colors[255] = VgaColor(3, 3, 3);
    FrameRecord brunFault = one;
    std::fill_n(brunFault.Pixels.begin(), 200, 3);
    const struct {
        FliChunkData bad;
        FrameRecord partial;
    } cases[] = {
        {Chunk(FLI_COLOR, Payload().U16(1).U8({255, 2}).Fill(6, 3)), colourFault},
        {Chunk(FLI_BRUN, Payload().U8({2, 127, 3, 73, 3})), brunFault},  // ends after row 0
        {Chunk(FLI_COPY, ByteArray(200, 3)), brunFault},
    };
    for (const auto& c : cases) {
        ExpectRecords(Decode(Fli({kFirst, {{c.bad, Chunk(FLI_LC, LcRow(9, 9))}}, after})),
                      {one, c.partial}, ErrorKind::IndexOutOfRange);
    }
}

TEST(FrameWalk, FaultyLineCompressionKeepsItsRecordAndTheLoadGoesOn)
{
    const FrameRecord one = Filled(1, kRed);
    FrameRecord two = Filled(1, kBlue);
    std::fill_n(two.Pixels.begin(), 2, 6);
    // A copy run past its payload, then a row past the frame: each is reported, and the
    // chunks after them work on the record the faulty chunk left.
    ExpectRecords(Decode(Fli({kFirst,
                              {{Chunk(FLI_LC, Payload().U16(0).U16(1).U8({1, 0, 5, 6, 6})),
                                Chunk(FLI_COLOR, AllColors(0, 0, 63))}},
                              {{Chunk(FLI_LC, Payload().U16(200).U16(1).U8({1, 0, 1, 1}))}},
                              {{Chunk(FLI_LC, LcRow(4, 4))}}})),
                  {one, two, two, WithRow(two, 4, 4)}, std::nullopt, 2);
}

TEST(FrameWalk, BadSizesAndCutFilesEndTheLoadWithAnIndexError)
{
    const ByteArray good = Fli({kFirst, {{Chunk(FLI_LC, LcRow(1, 2))}}});
    const std::size_t frame2 = FrameOffset(good, 1);
    auto patched = [&](std::size_t at, std::int32_t value) {
        ByteArray file = good;
        StoreU32(file.data() + at, static_cast<std::uint32_t>(value));
        return file;
    };
    auto cut = [&](std::size_t length) { return ByteArray(good.begin(), good.begin() + length); };
    const struct {
        ByteArray file;
        std::size_t records;
    } cases[] = {
        {ByteArray(1, 0), 1},
        {cut(127), 1},
        {cut(128 + 15), 1},
        {cut(128 + 20), 1},        // frame and chunk headers
        {cut(128 + 16 + 200), 1},  // inside the colour payload
        {cut(frame2 + 10), 2},
        {cut(good.size() - 1), 2},  // second frame cut short
        {patched(frame2, 0), 2},
        {patched(frame2, -1), 2},
        {patched(frame2, 15), 2},
        {patched(frame2 + 16, 0), 2},
        {patched(frame2 + 16, 5), 2},
        {patched(frame2 + 16, INT32_MIN), 2},
        {patched(128, 0x7FFFFFFF), 2},  // the next frame lies past the end
        {[&] {
             ByteArray f = good;
             StoreU16(f.data() + 6, 3);
             return f;
         }(),
         3},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto d = Decode(cases[i].file);
        EXPECT_EQ(d.error, ErrorKind::IndexOutOfRange) << "case " << i;
        EXPECT_EQ(d.store.size(), cases[i].records) << "case " << i;
        EXPECT_EQ(d.store[0], FrameRecord{});
    }
}

TEST(LoadFLIFile, ReadsTheFileAndDiscardsTheLastLoad)
{
    TempFolder folder;
    const auto three = folder.Write("THREE.FLI", Fli({kFirst, {{Chunk(FLI_BLACK)}}, {}}));
    const auto one = folder.Write("ONE.FLI", Fli({{{Chunk(FLI_BRUN, BrunFill(5))}}}));
    FrameStore store;
    RecordingReporter reporter;
    LoadFLIFile(three, store, reporter);
    ASSERT_EQ(store.size(), 3u);
    EXPECT_EQ(store[2], Filled(0, kRed));
    // The second load reuses the first one's memory; nothing of it may show through.
    LoadFLIFile(one, store, reporter);
    ASSERT_EQ(store.size(), 2u);
    EXPECT_EQ(store[0], FrameRecord{});
    EXPECT_EQ(store[1], Filled(5, Palette{}));
    EXPECT_EQ(ErrorKindOf([&] { LoadFLIFile(folder / "MISSING.FLI", store, reporter); }),
              ErrorKind::IndexOutOfRange);
    EXPECT_EQ(store.size(), 1u);
    EXPECT_EQ(ErrorKindOf([&] { store.at(1); }), ErrorKind::IndexOutOfRange);
    EXPECT_TRUE(reporter.messages.empty());
}

TEST(FrameWalk, EveryDamagedByteAndEveryCutEndsInAValueOrOneError)
{
    const ByteArray good = Fli({
        {{Chunk(FLI_COLOR, Payload().U16(2).U8({0, 2, 1, 2, 3, 4, 5, 6, 250, 1, 7, 8, 9})),
          Chunk(FLI_BRUN, Payload().U8({2, 3, 1, 0xFE, 4, 5}).Fill(197, 0).U8({1, 0x7F, 6, 0}))}},
        {{Chunk(FLI_LC, Payload().U16(198).U16(2).U8({2, 3, 0xFE, 7, 1, 2, 8, 9, 1, 0, 0x81, 5})),
          Chunk(FLI_COLOR, Payload().U16(1).U8({4, 1, 10, 11, 12}))}},
        {{Chunk(FLI_BLACK), Chunk(FLI_LC, Payload().U16(0).U16(1).U8({1, 10, 2, 1, 1}))}},
    });
    // Whatever the damage: at most one record a frame, record 0 untouched, and only
    // line-compression faults reported. Any exception but Error fails the test.
    auto check = [](const ByteArray& file, const std::string& what) {
        const Decoded d = Decode(file);
        const std::int64_t frameCount = file.size() >= 8 ? ByteReader(file).I16(6) : 0;
        ASSERT_LE(static_cast<std::int64_t>(d.store.size()),
                  std::max<std::int64_t>(frameCount, 0) + 1)
            << what;
        ASSERT_TRUE(d.store[0] == FrameRecord{}) << what;
        for (const std::string& message : d.reporter.messages) {
            ASSERT_EQ(message.rfind("Error: ", 0), 0u) << what;
        }
    };
    const Decoded clean = Decode(good);
    ASSERT_EQ(clean.error, std::nullopt);
    ASSERT_EQ(clean.store.size(), 4u);
    for (std::size_t length = 0; length < good.size(); ++length) {
        check(ByteArray(good.begin(), good.begin() + length), "cut at " + std::to_string(length));
    }
    for (std::size_t at = 0; at < good.size(); ++at) {
        for (const std::uint8_t value : {0x00, 0xFF}) {
            ByteArray file = good;
            file[at] = value;
            check(file, "byte " + std::to_string(at) + " = " + std::to_string(value));
        }
    }
}
