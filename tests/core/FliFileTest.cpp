#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "art/FileFacts.h"
#include "art/GameFolder.h"
#include "fli/FliDecoder.h"
#include "support/ErrorKindOf.h"
#include "support/FliFixtures.h"

using namespace varek;
using namespace varek::test;

namespace varek {

inline void PrintTo(const PictureFrames& picture, std::ostream* os)
{
    *os << "frames " << picture.firstFrame << " + " << picture.frameCount << " for "
        << picture.duration.count() << "/7000 s";
}

}  // namespace varek

namespace {

std::optional<ErrorKind> KindOf(const std::optional<Error>& error)
{
    return error ? std::optional(error->kind()) : std::nullopt;
}

struct Decoded {
    FrameStore store;
    FliLoad load;
};

Decoded Decode(const ByteArray& file)
{
    Decoded result;
    result.load = DecodeFLIFile(file, result.store);
    return result;
}

FrameRecord Filled(std::uint8_t value, const Palette& colors)
{
    FrameRecord record;
    std::fill(record.Pixels.begin(), record.Pixels.end(), value);
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

// Record 0 untouched, then exactly frames, one picture each; unless told otherwise a
// load without faults.
void ExpectRecords(const Decoded& d, std::initializer_list<FrameRecord> frames,
                   std::optional<ErrorKind> stop = std::nullopt, std::size_t lineFaults = 0)
{
    EXPECT_EQ(KindOf(d.load.stop), stop);
    EXPECT_EQ(d.load.lineFaults.size(), lineFaults);
    EXPECT_EQ(d.load.pictures.size(), frames.size());
    ASSERT_EQ(d.store.size(), frames.size() + 1);
    EXPECT_EQ(d.store[0], FrameRecord{});
    std::size_t index = 1;
    for (const FrameRecord& frame : frames) {
        EXPECT_EQ(d.store[index], frame) << "record " << index;
        ++index;
    }
}

}  // namespace

// Each frame holding a decoded chunk adds one record; frames without one, or with
// only other chunk types, add none.
TEST(FrameWalk, OneRecordForEachFrameWithADecodedChunk)
{
    const FrameRecord one = Filled(1, kRed);
    ExpectRecords(
        Decode(Fli({kFirst, {{Chunk(FLI_LC, LcRow(5, 2))}}, {{Chunk(FLI_LC, LcRow(6, 3))}}})),
        {one, WithRow(one, 5, 2), WithRow(WithRow(one, 5, 2), 6, 3)});
    ExpectRecords(Decode(Fli({{},
                              {{Chunk(14, ByteArray(10, 1)), Chunk(7), Chunk(99)}},
                              kFirst,
                              {{Chunk(14), Chunk(FLI_LC, LcRow(3, 4)), Chunk(99)}},
                              {}})),
                  {one, WithRow(one, 3, 4)});
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
    // A black chunk clears whatever any earlier chunk or frame set, however often
    // it follows another.
    const FliChunkData black = Chunk(FLI_BLACK);
    const FliChunkData row9 = Chunk(FLI_LC, LcRow(9, 3));
    ExpectRecords(Decode(Fli({kFirst,
                              {{row0}},
                              {{black, black}},
                              {{row9, black, row0, black}},
                              {{row9}},
                              {{black, row9}}})),
                  {one, WithRow(one, 0, 2), Filled(0, kRed), Filled(0, kRed),
                   WithRow(Filled(0, kRed), 9, 3), WithRow(Filled(0, kRed), 9, 3)});
}

TEST(FrameWalk, FramesAndChunksAreReadWithinTheirDeclaredSizes)
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

    // A chunk passing its frame is cut there and ends the frame.
    file = Fli({{{Chunk(FLI_COPY, ByteArray(64000, 4)), Chunk(FLI_LC, LcRow(0, 8))}},
                {{Chunk(FLI_LC, LcRow(1, 6))}}});
    StoreU32(file.data() + 128 + 16, 0x7FFFFFFF);
    ExpectRecords(Decode(file), {Filled(4, Palette{}), WithRow(Filled(4, Palette{}), 1, 6)});
}

// The count is unsigned: up to 65535 frames, the ring after them read only when
// the count takes it in.
TEST(FrameWalk, ReadsExactlyFrameCountFramesAndNeverTheRing)
{
    const FliFrameData ring{{Chunk(FLI_LC, LcRow(0, 9))}};
    ByteArray file =
        Fli({kFirst, {{Chunk(FLI_LC, LcRow(1, 2))}}, {{Chunk(FLI_LC, LcRow(2, 3))}}}, &ring);
    const FrameRecord one = Filled(1, kRed);
    const FrameRecord three = WithRow(WithRow(one, 1, 2), 2, 3);
    ExpectRecords(Decode(file), {one, WithRow(one, 1, 2), three});
    StoreU16(file.data() + 6, 1);
    ExpectRecords(Decode(file), {one});
    for (const std::uint16_t count : {0xFFFF, 0x8000}) {
        StoreU16(file.data() + 6, count);
        ExpectRecords(Decode(file), {one, WithRow(one, 1, 2), three, WithRow(three, 0, 9)},
                      ErrorKind::Truncated);
        EXPECT_EQ(Decode(file).load.fileFrames, count);
    }
}

// A file that gives no picture is a fault that says why, naming the chunk types
// skipped; a load cancelled before its first picture is not.
TEST(FrameWalk, AFileWithoutAPictureSaysWhy)
{
    ByteArray countZero = Fli({kFirst, {{Chunk(FLI_LC, LcRow(1, 2))}}});
    StoreU16(countZero.data() + 6, 0);
    std::vector<FliFrameData> manyTypes(1);
    for (std::int16_t type = 20; type < 32; ++type) {
        manyTypes[0].chunks.push_back(Chunk(type));
    }
    manyTypes[0].chunks.push_back(Chunk(-1));
    const struct {
        ByteArray file;
        ErrorKind kind;
        std::string said;
    } cases[] = {
        {countZero, ErrorKind::Corrupt, "the header counts 0 frames, though 2,236 bytes follow it"},
        {Fli({}), ErrorKind::Corrupt, "the header counts 0 frames"},
        {Fli({{}, {}}), ErrorKind::Corrupt, "none of its 2 frames holds a chunk"},
        {Fli({{{Chunk(14, ByteArray(10, 1)), Chunk(99), Chunk(14)}}, {{Chunk(7)}}}),
         ErrorKind::Unsupported,
         "none of its 2 frames holds a chunk of a type this program decodes; it skipped 2 "
         "chunks of type 14, 1 of type 99, 1 of type 7"},
        {WriteFLIFile(manyTypes), ErrorKind::Unsupported,
         "its one frame holds no chunk of a type this program decodes; it skipped 1 chunk of "
         "type 20, 1 of type 21, 1 of type 22, 1 of type 23, 1 of type 24, 1 of type 25, 1 of "
         "type 26, 1 of type 27, 1 of type 28, 1 of type 29 and 3 of other types"},
    };
    for (const auto& c : cases) {
        const Decoded d = Decode(c.file);
        ASSERT_TRUE(d.load.stop.has_value()) << c.said;
        EXPECT_EQ(d.load.stop->kind(), c.kind) << c.said;
        EXPECT_EQ(d.load.stop->detail(), c.said);
        EXPECT_TRUE(d.load.pictures.empty()) << c.said;
        EXPECT_EQ(KindOf(OutlineFLIFile(c.file).stop), c.kind) << c.said;
    }
    FrameStore store;
    const FliLoad cancelled =
        DecodeFLIFile(Fli({{}, kFirst}), store, [](auto, auto) { return false; });
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_TRUE(cancelled.complete());
}

// A line-compression fault is recorded and the load goes on; any other chunk's fault
// ends the load, the records kept.
TEST(FrameWalk, ChunkFaultsEndTheLoadButForLineCompression)
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
        ErrorKind kind;
    } cases[] = {
        {Chunk(FLI_COLOR, Payload().U16(1).U8({255, 2}).Fill(6, 3)), colourFault,
         ErrorKind::Corrupt},
        {Chunk(FLI_BRUN, Payload().U8({2, 127, 3, 73, 3})), brunFault,  // ends after row 0
         ErrorKind::Truncated},
        {Chunk(FLI_COPY, ByteArray(200, 3)), brunFault, ErrorKind::Truncated},
    };
    for (const auto& c : cases) {
        ExpectRecords(Decode(Fli({kFirst, {{c.bad, Chunk(FLI_LC, LcRow(9, 9))}}, after})),
                      {one, c.partial}, c.kind);
    }

    FrameRecord two = Filled(1, kBlue);
    std::fill_n(two.Pixels.begin(), 2, 6);
    // A copy run past its payload, then a row past the frame: each is recorded, and the
    // chunks after them work on the record the faulty chunk left.
    const Decoded d = Decode(Fli({kFirst,
                                  {{Chunk(FLI_LC, Payload().U16(0).U16(1).U8({1, 0, 5, 6, 6})),
                                    Chunk(FLI_COLOR, AllColors(0, 0, 63))}},
                                  {{Chunk(FLI_LC, Payload().U16(200).U16(1).U8({1, 0, 1, 1}))}},
                                  {{Chunk(FLI_LC, LcRow(4, 4))}}}));
    ExpectRecords(d, {one, two, two, WithRow(two, 4, 4)}, std::nullopt, 2);
    ASSERT_EQ(d.load.lineFaults.size(), 2u);
    EXPECT_EQ(d.load.lineFaults[0].kind(), ErrorKind::Truncated);
    EXPECT_TRUE(d.load.lineFaults[0].detail().starts_with("in frame 2, the line-compression"))
        << d.load.lineFaults[0].what();
    EXPECT_EQ(d.load.lineFaults[1].kind(), ErrorKind::Corrupt);
    EXPECT_TRUE(d.load.lineFaults[1].detail().starts_with("in frame 3, pixel 64000 lies outside"))
        << d.load.lineFaults[1].what();
    EXPECT_TRUE(d.load.complete());

    // However many faults: the first few are kept, in order, and the rest counted,
    // those too short for a row header as those that fail further on.
    for (const ByteArray& payload : {ByteArray{}, ByteArray{200, 0, 1, 0, 1, 0, 1, 5}}) {
        std::vector<FliFrameData> frames(3, FliFrameData{});
        frames[0] = kFirst;
        frames[1].chunks.assign(7, Chunk(FLI_LC, payload));
        frames[2].chunks.assign(30000, Chunk(FLI_LC, payload));
        const FliLoad load = Decode(WriteFLIFile(frames)).load;
        ASSERT_EQ(load.lineFaults.size(), kKeptFaults);
        EXPECT_EQ(load.moreLineFaults, 30007 - kKeptFaults);
        EXPECT_EQ(load.lineFaultCount(), 30007u);
        EXPECT_TRUE(load.lineFaults[6].detail().starts_with("in frame 2, "));
        EXPECT_TRUE(load.lineFaults[7].detail().starts_with("in frame 3, "));
    }
}

TEST(FrameWalk, BadSizesEndTheLoadAsCorruptAndCutFilesAsTruncated)
{
    const ByteArray good = Fli({kFirst, {{Chunk(FLI_LC, LcRow(1, 2))}}});
    const std::size_t frame2 = FrameOffset(good, 1);
    auto patched = [&](std::size_t at, std::int32_t value, int width = 4) {
        ByteArray file = good;
        if (width == 2) {
            StoreU16(file.data() + at, static_cast<std::uint16_t>(value));
        } else {
            StoreU32(file.data() + at, static_cast<std::uint32_t>(value));
        }
        return file;
    };
    auto cut = [&](std::size_t length) { return ByteArray(good.begin(), good.begin() + length); };
    constexpr auto kCut = ErrorKind::Truncated;
    constexpr auto kBad = ErrorKind::Corrupt;
    const struct {
        ByteArray file;
        std::size_t records;
        ErrorKind kind;
    } cases[] = {
        {ByteArray{}, 1, kCut},
        {ByteArray(1, 0), 1, kCut},
        {cut(127), 1, kCut},
        {cut(128 + 15), 1, kCut},
        {cut(128 + 20), 1, kCut},        // frame and chunk headers
        {cut(128 + 16 + 200), 1, kCut},  // inside the colour payload
        {cut(frame2 + 10), 2, kCut},
        {cut(good.size() - 1), 2, kCut},      // second frame cut short
        {patched(128, 0x7FFFFFFF), 2, kCut},  // the next frame lies past the end
        {patched(6, 3, 2), 3, kCut},          // a third frame that is not there
        {patched(frame2, 0), 2, kBad},
        {patched(frame2, -1), 2, kBad},
        {patched(frame2, 15), 2, kBad},
        {patched(frame2 + 16, 0), 2, kBad},
        {patched(frame2 + 16, 5), 2, kBad},
        {patched(frame2 + 16, INT32_MIN), 2, kBad},
        {patched(frame2 + 4, 0xF100, 2), 2, kBad},  // a second frame that is not one
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto d = Decode(cases[i].file);
        EXPECT_EQ(KindOf(d.load.stop), cases[i].kind) << "case " << i;
        EXPECT_EQ(d.store.size(), cases[i].records) << "case " << i;
        EXPECT_EQ(d.load.pictures.size(), cases[i].records - 1) << "case " << i;
        EXPECT_EQ(d.store[0], FrameRecord{});
    }
}

// The magic number at offset 4 tells FLI from FLC; an FLC header gives the size,
// depth and speed in milliseconds, 0 meaning the FLI's size, 8 bits and 1/70 s.
TEST(FrameWalk, TheHeaderIsReadOnceIntoADescription)
{
    struct Case {
        std::uint16_t magic;
        std::uint16_t width, height, depth;
        std::uint32_t speed;
        std::uint32_t firstFrame;
        std::optional<FlicHeader> header;  // or the refusal's kind and words
        ErrorKind kind;
        const char* said;
    };
    const auto flc = [](std::int32_t width, std::int32_t height, FrameDuration duration,
                        std::int64_t firstFrame = 128) {
        return FlicHeader{FlicKind::Flc, kFlcFileMagic, 1, width, height, 8, duration, firstFrame};
    };
    const Case cases[] = {
        // FLI: always 320 x 200; the speed is 16 bits of 1/70 s.
        {0xAF11,
         640,
         480,
         8,
         0x10003,
         0,
         FlicHeader{FlicKind::Fli, 0xAF11, 1, 320, 200, 8, 3 * kFliTick, 128},
         {},
         ""},
        {0xAF11,
         0,
         0,
         0,
         0,
         0,
         FlicHeader{FlicKind::Fli, 0xAF11, 1, 320, 200, 8, 5 * kFliTick, 128},
         {},
         ""},
        {0xAF12, 640, 480, 8, 40, 0, flc(640, 480, 40 * kFlcMillisecond), {}, ""},
        {0xAF12, 0, 0, 0, 0, 0, flc(320, 200, kFliTick), {}, ""},
        {0xAF12, 1, 1, 8, 1, 140, flc(1, 1, kFlcMillisecond, 140), {}, ""},
        // The first frame's offset is followed only inside the file, past the header.
        {0xAF12, 4096, 1, 8, 1, 100, flc(4096, 1, kFlcMillisecond), {}, ""},
        {0xAF12, 4096, 1, 8, 1, 100000, flc(4096, 1, kFlcMillisecond), {}, ""},
        {0xAF12, 4097, 1, 8, 1, 0, {}, ErrorKind::TooLarge, "4097 x 1 pixels"},
        {0xAF12, 8, 4097, 8, 1, 0, {}, ErrorKind::TooLarge, "more than the 4096 x 4096"},
        {0xAF12, 8, 8, 16, 1, 0, {}, ErrorKind::Unsupported, "FLC animation of 16 bits"},
        {0xAF12, 8, 8, 24, 1, 0, {}, ErrorKind::Unsupported, "of 24 bits a pixel"},
        {0xAF44, 8, 8, 16, 1, 0, {}, ErrorKind::Unsupported, "more than 8 bits a pixel"},
        {0x0000, 8, 8, 8, 1, 0, {}, ErrorKind::Corrupt, "its magic number is 0x0000"},
        {0x11AF, 8, 8, 8, 1, 0, {}, ErrorKind::Corrupt, "0x11AF, not 0xAF11 or 0xAF12"},
    };
    for (const Case& c : cases) {
        ByteArray file(200, 0);
        StoreU16(file.data() + 4, c.magic);
        StoreU16(file.data() + 6, 1);
        StoreU16(file.data() + 8, c.width);
        StoreU16(file.data() + 10, c.height);
        StoreU16(file.data() + 12, c.depth);
        StoreU16(file.data() + 16, static_cast<std::uint16_t>(c.speed));
        StoreU16(file.data() + 18, static_cast<std::uint16_t>(c.speed >> 16));
        StoreU16(file.data() + 80, static_cast<std::uint16_t>(c.firstFrame));
        StoreU16(file.data() + 82, static_cast<std::uint16_t>(c.firstFrame >> 16));
        const std::string what = std::to_string(c.magic) + " " + std::to_string(c.width);
        if (c.header) {
            EXPECT_EQ(ReadFlicHeader(file), *c.header) << what;
            continue;
        }
        // Refused before a record is made.
        const Decoded d = Decode(file);
        ASSERT_TRUE(d.load.stop.has_value()) << what;
        EXPECT_EQ(d.load.stop->kind(), c.kind) << what;
        EXPECT_NE(std::string(d.load.stop->what()).find(c.said), std::string::npos)
            << d.load.stop->what();
        EXPECT_EQ(d.store.FrameCount(), 0u);
    }
}

TEST(FrameWalk, PicturesStandForTheFramesUpToTheNextPictureAndSpeedComesFromTheHeader)
{
    const FliFrameData lc{{Chunk(FLI_LC, LcRow(2, 2))}};
    const FliFrameData none{};
    const FliFrameData other{{Chunk(14, ByteArray(4, 1)), Chunk(99)}};
    const FliFrameData badLc{{Chunk(FLI_LC, Payload().U16(200).U16(1).U8({1, 0, 1, 5}))}};
    const FliFrameData badBrun{{Chunk(FLI_BRUN, Payload().U8({1}))}};
    const struct {
        std::vector<FliFrameData> frames;
        std::uint16_t speed;
        std::vector<PictureFrames> pictures;
    } cases[] = {
        {{kFirst, lc, lc}, 5, {{1, 1}, {2, 1}, {3, 1}}},
        // Frames before the first picture belong to none.
        {{none, other, kFirst, none, other, lc, none}, 0, {{3, 3}, {6, 2}}},
        {{none, other}, 0xFFFF, {}},
        // A line-compression fault still makes its picture; any other fault ends the pictures.
        {{kFirst, badLc, none}, 70, {{1, 1}, {2, 2}}},
        {{kFirst, none, badBrun, none, lc}, 0x8000, {{1, 2}, {3, 1}}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        ByteArray file = WriteFLIFile(cases[i].frames);
        StoreU16(file.data() + 16, cases[i].speed);
        FrameStore store;
        const FliLoad load = DecodeFLIFile(file, store);
        // Each frame lasts the speed in 1/70 s, 5 of them for a speed of 0.
        const FrameDuration frame = (cases[i].speed == 0 ? 5 : cases[i].speed) * kFliTick;
        EXPECT_EQ(load.header.frameDuration, frame) << "case " << i;
        std::vector<PictureFrames> expected = cases[i].pictures;
        for (PictureFrames& picture : expected) {
            picture.duration = picture.frameCount * frame;
        }
        EXPECT_EQ(load.pictures, expected) << "case " << i;
        EXPECT_EQ(store.FrameCount(), cases[i].pictures.size()) << "case " << i;
    }
}

TEST(FrameWalk, ProgressIsToldEveryFrameAndCanEndTheLoad)
{
    const FliFrameData frame{{Chunk(FLI_BRUN, BrunFill(3))}};
    const ByteArray file = Fli({frame, FliFrameData{}, frame, frame});
    for (const int stopAfter : {1, 2, 4}) {
        std::vector<std::pair<std::int32_t, std::int32_t>> told;
        FrameStore store;
        const FliLoad load = DecodeFLIFile(file, store, [&](std::int32_t read, std::int32_t count) {
            told.emplace_back(read, count);
            return read < stopAfter;
        });
        ASSERT_EQ(told.size(), static_cast<std::size_t>(stopAfter));
        EXPECT_EQ(told.back(), std::make_pair(stopAfter, 4));
        EXPECT_EQ(load.cancelled, stopAfter < 4) << stopAfter;
        EXPECT_TRUE(load.complete());
        EXPECT_EQ(store.FrameCount(), load.pictures.size());
        EXPECT_EQ(load.pictures.size(), stopAfter == 1 ? 1u : stopAfter == 2 ? 1u : 3u);
    }
}

TEST(GameFolderAnimation, LoadReadsTheFileAndDiscardsTheLastLoad)
{
    const auto source = std::make_shared<MemorySource>(std::map<std::string, ByteArray>{
        {"FLI/THREE.FLI", Fli({kFirst, {{Chunk(FLI_BLACK)}}, {}})},
        {"FLI/ONE.FLI", Fli({{{Chunk(FLI_BRUN, BrunFill(5))}}})},
        {"FLI/EMPTY.FLI", {}},
        {"FLI/FOLDER.FLI/A", {1}},
    });
    const GameFolder game = GameFolder::Open(source, {false, false, true});
    FrameStore store;
    EXPECT_TRUE(game.LoadAnimation("THREE.FLI", store).complete());
    ASSERT_EQ(store.size(), 3u);
    EXPECT_EQ(store[2], Filled(0, kRed));
    // The second load reuses the first one's memory; nothing of it may show through.
    const FliLoad second = game.LoadAnimation("ONE.FLI", store);
    EXPECT_TRUE(second.complete());
    EXPECT_TRUE(second.lineFaults.empty());
    ASSERT_EQ(store.size(), 2u);
    EXPECT_EQ(store[0], FrameRecord{});
    EXPECT_EQ(store[1], Filled(5, Palette{}));

    // A file that cannot be read is the stop of a load without pictures; no art file
    // of the game is empty, so an empty one is as missing as one that is not there.
    const std::pair<const char*, ErrorKind> unreadable[] = {{"MISSING.FLI", ErrorKind::NotFound},
                                                            {"EMPTY.FLI", ErrorKind::NotFound},
                                                            {"FOLDER.FLI", ErrorKind::CannotRead}};
    for (const auto& [name, kind] : unreadable) {
        game.LoadAnimation("THREE.FLI", store);
        const FliLoad load = game.LoadAnimation(name, store);
        EXPECT_EQ(KindOf(load.stop), kind) << name;
        EXPECT_TRUE(load.pictures.empty()) << name;
        EXPECT_EQ(store.size(), 1u) << name;
        EXPECT_EQ(store[0], FrameRecord{}) << name;
        std::size_t streamed = 0;
        const FliLoad stream =
            game.StreamAnimation(name, [&](const StreamedPicture&) { ++streamed; });
        EXPECT_EQ(KindOf(stream.stop), kind) << name;
        EXPECT_EQ(streamed, 0u) << name;
    }
    EXPECT_EQ(ErrorKindOf([&] { store.at(1); }), ErrorKind::NotFound);
    EXPECT_STREQ(game.LoadAnimation("EMPTY.FLI", store).stop->what(), "Missing: the file is empty");
}

namespace {

// A hand-built FLC of width x height: its 128-byte header, then blocks at frame
// level, each with its magic, its delay and its chunks; the header counts frames.
struct FlcBlock {
    std::uint16_t magic = kFliFrameMagic;
    std::uint16_t delay = 0;
    std::vector<FliChunkData> chunks;
};

ByteArray Flc(std::uint16_t width, std::uint16_t height, std::uint32_t speed, std::uint16_t frames,
              const std::vector<FlcBlock>& blocks)
{
    ByteArray file;
    ByteWriter out(file);
    out.U32(0);
    out.U16(kFlcFileMagic);
    out.U16(frames);
    out.U16(width);
    out.U16(height);
    out.U16(8);
    out.U16(0);
    out.U32(speed);
    out.Fill(80 - 20, 0);
    out.U32(128);  // frame 1, or the prefix before it
    out.Fill(128 - 84, 0);
    for (const FlcBlock& block : blocks) {
        const std::size_t start = file.size();
        out.U32(0);
        out.U16(block.magic);
        out.U16(static_cast<std::uint16_t>(block.chunks.size()));
        out.U16(block.delay);
        out.Fill(6, 0);
        for (const FliChunkData& chunk : block.chunks) {
            out.U32(static_cast<std::uint32_t>(chunk.payload.size() + 6));
            out.U16(static_cast<std::uint16_t>(chunk.type));
            out.Bytes(chunk.payload);
        }
        out.PatchU32(start, static_cast<std::uint32_t>(file.size() - start));
    }
    out.PatchU32(0, static_cast<std::uint32_t>(file.size()));
    return file;
}

}  // namespace

// An FLC is read by its bytes whatever its name: its header's size and speed, a
// prefix before the first frame and blocks between frames skipped, a frame's own
// delay over the speed, the postage stamp never a picture, and in the stills'
// folder its first picture is the still.
TEST(GameFolderAnimation, FlcFilesOfAnySizeAndName)
{
    const FliChunkData colors = Chunk(FLC_COLOR_256, Payload().U16(1).U8({7, 1, 200, 100, 50}));
    const FliChunkData stamp = Chunk(FLC_STAMP, ByteArray(20, 3));
    const FliChunkData image = Chunk(FLI_BRUN, Payload().U8({0, 3, 7, 0, 0xFE, 1, 2, 1, 0}));
    const FliChunkData delta = Chunk(FLC_DELTA, Payload().U16(1).U16(0xFFFF).U16(0x8009).U16(0));
    const ByteArray flc = Flc(3, 2, 40, 3,
                              {{kFlcPrefixMagic, 0, {Chunk(3, ByteArray(4, 0))}},
                               {kFliFrameMagic, 0, {colors, stamp, image}},
                               {0x1234, 0, {}},
                               {kFliFrameMagic, 100, {delta}},
                               {kFliFrameMagic, 0, {}},
                               {kFliFrameMagic, 0, {delta}}});  // the ring frame
    ByteArray still = flc;
    const auto source = std::make_shared<MemorySource>(std::map<std::string, ByteArray>{
        {"FLI/A.FLC", flc},
        {"FLI/B.FLI", flc},
        {"FLI/C.TXT", flc},
        {"STILLCEL/LATER.CEL", flc},
    });
    const GameFolder game = GameFolder::Open(source, {false, true, true});
    EXPECT_EQ(game.ReadFileList(ArtCategory::Animated),
              (std::vector<std::string>{"A.FLC", "B.FLI"}));
    for (const char* name : {"A.FLC", "B.FLI"}) {
        FrameStore store;
        const FliLoad load = game.LoadAnimation(name, store);
        EXPECT_TRUE(load.complete()) << name << ": " << (load.stop ? load.stop->what() : "");
        EXPECT_TRUE(load.skipped.empty()) << name;
        EXPECT_EQ(load.header.kind, FlicKind::Flc);
        EXPECT_EQ(load.pictures, (std::vector<PictureFrames>{{1, 1, 40 * kFlcMillisecond},
                                                             {2, 2, 140 * kFlcMillisecond}}))
            << name;
        ASSERT_EQ(store.FrameCount(), 2u) << name;
        EXPECT_EQ(store[1].Width, 3);
        EXPECT_TRUE(std::ranges::equal(store[1].Pixels, ByteArray{7, 7, 7, 1, 2, 0}));
        EXPECT_TRUE(std::ranges::equal(store[2].Pixels, ByteArray{7, 7, 7, 1, 2, 9}));
        EXPECT_EQ(store[2].Colors[7], MakeColor(200, 100, 50));
    }
    const Picture picture = game.LoadStill("LATER.CEL");
    EXPECT_EQ(picture.image.width, 3);
    EXPECT_EQ(picture.image.height, 2);
    EXPECT_EQ(picture.image.pixels, (std::vector<std::uint8_t>{7, 7, 7, 1, 2, 0}));
    EXPECT_EQ(picture.palette[7], MakeColor(200, 100, 50));
    // Its facts are an animation's, and the speed is the header's milliseconds.
    const FileFacts facts = game.DescribeFile(ArtCategory::OtherArt, "LATER.CEL");
    const auto value = [&facts](const std::string& label) {
        const auto row = std::ranges::find(facts.rows, label, &FactRow::label);
        return row == facts.rows.end() ? std::string("none") : row->value;
    };
    EXPECT_EQ(value("Frame size"), "3 x 2, FLC");
    EXPECT_EQ(value("Speed"), "40 ms a frame");
}

// Bytes past the header's size field are never read, unless the frames the header
// counts run on past it; a size field that cannot be the file's is not followed.
TEST(GameFolderAnimation, ReadsAsFarAsTheSizeFieldAndTheFramesGo)
{
    const ByteArray good = Fli({kFirst, {{Chunk(FLI_LC, LcRow(1, 2))}}, {{Chunk(FLI_BLACK)}}});
    const Decoded clean = Decode(good);
    ASSERT_TRUE(clean.load.complete());
    auto withSize = [&](std::uint32_t size, std::size_t length, std::size_t junk) {
        ByteArray file(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        file.resize(length + junk, 0xEE);
        StoreU32(file.data(), size);
        return file;
    };
    constexpr std::size_t kJunk = std::size_t{1} << 20;
    const auto all = static_cast<std::uint32_t>(good.size());
    const struct {
        ByteArray file;
        std::size_t read;  // 0: more than good holds, less than the file
        bool whole;        // the frames decode as from good alone
    } cases[] = {
        {withSize(all, good.size(), kJunk), good.size(), true},
        {withSize(all, good.size(), 0), good.size(), true},
        {withSize(200, good.size(), kJunk), 0, true},                   // less than the frames need
        {withSize(0, good.size(), kJunk), 0, true},                     // no size
        {withSize(0xFFFFFFFF, good.size(), kJunk), 0, true},            // more than the file holds
        {withSize(all, good.size() - 10, 0), good.size() - 10, false},  // cut short
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const ByteArray& file = cases[i].file;
        const MemorySource source({{"X.FLI", file}});
        const FileBytes bytes = ReadFLIBytes(*source.Open("X.FLI"));
        if (cases[i].read != 0) {
            EXPECT_EQ(bytes.size(), cases[i].read) << "case " << i;
        } else {
            EXPECT_GE(bytes.size(), good.size()) << "case " << i;
            EXPECT_LT(bytes.size(), file.size()) << "case " << i;
        }
        EXPECT_TRUE(std::equal(bytes.bytes().begin(), bytes.bytes().end(), file.begin()));
        FrameStore store;
        const FliLoad load = DecodeFLIFile(bytes.bytes(), store);
        EXPECT_EQ(load.complete(), cases[i].whole) << "case " << i;
        if (cases[i].whole) {
            EXPECT_EQ(load.pictures, clean.load.pictures) << "case " << i;
            EXPECT_TRUE(store[3] == clean.store[3]) << "case " << i;
        }
    }
}

TEST(FrameWalk, EveryDamagedByteAndEveryCutGivesAConsistentLoad)
{
    const ByteArray good = Fli({
        {{Chunk(FLI_COLOR, Payload().U16(2).U8({0, 2, 1, 2, 3, 4, 5, 6, 250, 1, 7, 8, 9})),
          Chunk(FLI_BRUN, Payload().U8({2, 3, 1, 0xFE, 4, 5}).Fill(197, 0).U8({1, 0x7F, 6, 0}))}},
        {{Chunk(FLI_LC, Payload().U16(198).U16(2).U8({2, 3, 0xFE, 7, 1, 2, 8, 9, 1, 0, 0x81, 5})),
          Chunk(FLI_COLOR, Payload().U16(1).U8({4, 1, 10, 11, 12}))}},
        {{Chunk(FLI_BLACK), Chunk(FLI_LC, Payload().U16(0).U16(1).U8({1, 10, 2, 1, 1}))}},
    });
    // Whatever the damage: no exception, at most one record a frame, record 0 untouched,
    // one picture a record, each standing for frames of its own among those read.
    auto check = [](const ByteArray& file, const std::string& what) {
        const Decoded d = Decode(file);
        const std::int64_t frameCount = file.size() >= 8 ? ByteReader(file).U16(6) : 0;
        ASSERT_LE(static_cast<std::int64_t>(d.store.size()),
                  std::max<std::int64_t>(frameCount, 0) + 1)
            << what;
        ASSERT_TRUE(d.store[0] == FrameRecord{}) << what;
        ASSERT_EQ(d.load.pictures.size(), d.store.FrameCount()) << what;
        std::int64_t nextFree = 1;
        for (const PictureFrames& picture : d.load.pictures) {
            ASSERT_GE(picture.firstFrame, nextFree) << what;
            ASSERT_GE(picture.frameCount, 1) << what;
            nextFree = std::int64_t{picture.firstFrame} + picture.frameCount;
            ASSERT_LE(nextFree - 1, frameCount) << what;
        }
        // Streamed, the same pictures arrive in order, each once its frames are known;
        // the headers alone give them too, and more only where a payload fault stopped.
        std::size_t handedOn = 0;
        const FliLoad streamed = StreamFLIFile(file, [&](const StreamedPicture& picture) {
            ++handedOn;
            ASSERT_EQ(picture.number, handedOn) << what;
            ASSERT_TRUE(picture.record == d.store[handedOn]) << what << " picture " << handedOn;
            ASSERT_EQ(picture.frames, d.load.pictures.at(handedOn - 1)) << what;
        });
        ASSERT_EQ(handedOn, d.store.FrameCount()) << what;
        ASSERT_EQ(streamed.pictures, d.load.pictures) << what;
        ASSERT_EQ(KindOf(streamed.stop), KindOf(d.load.stop)) << what;
        ASSERT_EQ(streamed.lineFaults.size(), d.load.lineFaults.size()) << what;
        const FliLoad outline = OutlineFLIFile(file);
        ASSERT_GE(outline.pictures.size(), d.load.pictures.size()) << what;
        ASSERT_TRUE(
            std::equal(d.load.pictures.begin(), d.load.pictures.end(), outline.pictures.begin()))
            << what;
        if (d.load.complete()) {
            ASSERT_EQ(outline.pictures, d.load.pictures) << what;
        }
        // A seeker with a snapshot every second picture gives the same pictures,
        // sought from the last back to the first.
        FrameSeeker seeker;
        const FliLoad seeked =
            seeker.Load(FileBytes(file), {}, 2 * (kFliWidth * kFliHeight + sizeof(FrameRecord)));
        ASSERT_EQ(seeked.pictures, d.load.pictures) << what;
        ASSERT_EQ(seeker.FrameCount(), d.store.FrameCount()) << what;
        for (std::size_t picture = seeker.FrameCount(); picture >= 1; --picture) {
            ASSERT_TRUE(seeker.at(picture) == d.store[picture]) << what << " picture " << picture;
        }
    };
    const Decoded clean = Decode(good);
    ASSERT_TRUE(clean.load.complete());
    ASSERT_TRUE(clean.load.lineFaults.empty());
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

// A seek from a snapshot, or from the picture last reached, gives what decoding
// every picture from the first gives: across snapshot boundaries, first and
// last, backwards and forwards, with black chunks, colour changes, a frame that
// lengthens a picture, a line fault, and a fault that ends the load in its last
// picture.
TEST(FrameSeeker, EverySeekGivesTheStraightDecode)
{
    // 7 x 5 pictures, each changing a few pixels; every 6th all 0 (a black chunk),
    // every 5th with new colours.
    std::vector<FlcAnimationFrame> pictures;
    for (int k = 0; k < 40; ++k) {
        FlcAnimationFrame frame{{7, 5, std::vector<std::uint8_t>(35, 1)}, {}, 0};
        if (!pictures.empty()) {
            frame = pictures.back();
        }
        frame.picture.pixels[static_cast<std::size_t>(k * 3 % 35)] = static_cast<std::uint8_t>(k);
        frame.picture.pixels[34] = static_cast<std::uint8_t>(k + 100);
        if (k % 6 == 5) {
            std::ranges::fill(frame.picture.pixels, std::uint8_t{0});
        }
        frame.colors[static_cast<std::size_t>(3 * (k / 5))] = static_cast<std::uint8_t>(k);
        pictures.push_back(frame);
    }
    std::vector<FliFrameData> frames = EncodeFlcAnimation(pictures);
    frames.insert(frames.begin() + 10, FliFrameData{});  // picture 10 lasts two frames
    FlcHeader header;
    header.width = 7;
    header.height = 5;
    const ByteArray flc = WriteFLCFile(header, frames);
    frames.insert(frames.begin() + 20,
                  {{Chunk(FLC_DELTA, Payload().U16(1).U16(1).U8({0, 2, 5, 6}))}});
    frames.push_back(
        {{Chunk(FLC_DELTA, EncodeFlcDeltaChunk(pictures[0].picture, pictures[39].picture)),
          Chunk(FLI_BRUN, Payload().U8({1}))}});
    const ByteArray faulty = WriteFLCFile(header, frames);
    std::vector<AnimationFrame> fliPictures(9);
    for (std::size_t k = 0; k < fliPictures.size(); ++k) {
        fliPictures[k].pixels.fill(static_cast<std::uint8_t>(k % 3 == 2 ? 0 : k));
        fliPictures[k].pixels[k * 999] = 7;
        fliPictures[k].colors[k] = static_cast<std::uint8_t>(k);
    }
    const ByteArray fli = WriteAnimation(fliPictures);

    struct Case {
        const char* what;
        const ByteArray& file;
        std::size_t interval;
        std::vector<std::size_t> seeks;
    };
    const Case cases[] = {
        {"FLC, every 4th kept", flc, 4, {1,  2,  3,  4,  5, 6,  9,  8,  7,  40,
                                         39, 38, 37, 36, 1, 12, 11, 10, 13, 40}},
        {"FLC, every 7th", flc, 7, {40, 1, 22, 21, 23, 29, 28, 30, 5, 6, 13, 8, 7, 15, 14}},
        {"FLC, only the first", flc, 1000, {40, 39, 2, 1, 3, 20}},
        {"FLC, every picture", flc, 1, {40, 1, 20, 21}},
        {"FLC with faults", faulty, 4, {42, 41, 38, 39, 40, 42, 21, 22, 20, 1}},
        {"FLI", fli, 2, {9, 1, 4, 3, 2, 8, 7, 6}},
    };
    for (const Case& c : cases) {
        const Decoded straight = Decode(c.file);
        const std::size_t count = straight.store.FrameCount();
        const std::size_t perSnapshot =
            static_cast<std::size_t>(straight.store.Width()) * straight.store.Height() +
            sizeof(FrameRecord);
        FrameSeeker seeker;
        const FliLoad load =
            seeker.Load(FileBytes(c.file), {}, (count + c.interval - 1) / c.interval * perSnapshot);
        EXPECT_EQ(seeker.Interval(), std::min(c.interval, count)) << c.what;
        EXPECT_EQ(load.pictures, straight.load.pictures) << c.what;
        EXPECT_EQ(load.lineFaults.size(), straight.load.lineFaults.size()) << c.what;
        EXPECT_EQ(KindOf(load.stop), KindOf(straight.load.stop)) << c.what;
        ASSERT_EQ(seeker.FrameCount(), count) << c.what;
        for (const std::size_t picture : c.seeks) {
            ASSERT_TRUE(seeker.at(picture) == straight.store[picture])
                << c.what << ", picture " << picture;
        }
        EXPECT_EQ(ErrorKindOf([&] { seeker.at(count + 1); }), ErrorKind::NotFound);
        EXPECT_EQ(ErrorKindOf([&] { seeker.at(0); }), ErrorKind::NotFound);
    }
    EXPECT_EQ(Decode(faulty).load.lineFaults.size(), 1u);
    EXPECT_EQ(KindOf(Decode(faulty).load.stop), ErrorKind::Truncated);

    // The snapshots take at most their budget, and as many of it as they can.
    for (const auto& [count, width, height] :
         {std::tuple{30000, 320, 200}, {3000, 640, 480}, {200, 320, 200}, {65535, 1, 1}}) {
        const auto all = static_cast<std::size_t>(count);
        const std::size_t per = static_cast<std::size_t>(width * height) + sizeof(FrameRecord);
        const std::size_t interval = FrameSeeker::SnapshotInterval(all, width, height);
        EXPECT_LE((all + interval - 1) / interval * per, FrameSeeker::kSnapshotBytes);
        if (interval > 1) {
            EXPECT_GT((all + interval - 2) / (interval - 1) * per, FrameSeeker::kSnapshotBytes);
        }
    }
    EXPECT_EQ(FrameSeeker::SnapshotInterval(3, 4096, 4096), 3u);  // one snapshot, whatever it takes
    FrameSeeker seeker;
    EXPECT_EQ(KindOf(seeker.Load(FileBytes(ByteArray(10, 0))).stop), ErrorKind::Truncated);
    EXPECT_EQ(seeker.FrameCount(), 0u);
}
