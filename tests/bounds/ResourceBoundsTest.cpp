#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "AllocationCounter.h"
#include "art/ArtFiles.h"
#include "authoring/CelWriter.h"
#include "fli/FliWriter.h"
#include "fli/FliDecoder.h"
#include "imaging/BmpImage.h"
#include "support/ErrorKindOf.h"

using namespace varek;
using namespace varek::test;

namespace {

constexpr std::size_t kSlack = std::size_t{1} << 20;

struct Load {
    std::optional<ErrorKind> error;
    std::size_t records = 0;
    // The record memory, which the store maps itself, plus the peak of everything
    // else allocated during the load.
    std::size_t peak = 0;
};

Load Measure(const ByteArray& file)
{
    Load load;
    FrameStore store;
    const std::size_t before = AllocatedBytes();
    ResetPeak();
    const FliLoad result = DecodeFLIFile(file, store);
    if (result.stop) {
        load.error = result.stop->kind();
    }
    load.peak = store.HeldBytes() + (PeakBytes() - before);
    load.records = store.size();
    return load;
}

std::vector<FliFrameData> Frames(std::size_t count, std::int16_t type, ByteArray payload = {})
{
    return std::vector<FliFrameData>(count, FliFrameData{{{type, std::move(payload)}}});
}

}  // namespace

// The cheapest frames that each make a record: 22 bytes of file for 64 KB of store.
TEST(ResourceBounds, AStoreOfTinyFramesStopsAtOneGibibyte)
{
    const ByteArray file = WriteFLIFile(Frames(16600, FLI_BLACK));
    const Load load = Measure(file);
    EXPECT_EQ(load.error, ErrorKind::TooLarge);
    EXPECT_EQ(load.records, FrameStore::MaxRecords(kFliWidth, kFliHeight));
    EXPECT_LE(load.peak, FrameStore::kMaxBytes + file.size() + kSlack);
}

// Streamed, the same file, and the longest a header allows, hands on every picture
// while holding one record, whatever the length.
TEST(ResourceBounds, AStreamedLoadHoldsOneRecordWhateverItsLength)
{
    const ByteArray file = WriteFLIFile(Frames(65535, FLI_BLACK));
    const std::size_t before = AllocatedBytes();
    ResetPeak();
    std::size_t pictures = 0;
    const FliLoad load = StreamFLIFile(file, [&](const StreamedPicture&) { ++pictures; });
    EXPECT_TRUE(load.complete());
    EXPECT_EQ(pictures, 65535u);
    // The picture list of the outline and of the load, and one record.
    EXPECT_LE(PeakBytes() - before, 2 * 65535 * sizeof(PictureFrames) + kSlack);
}

// Frames that promise many chunks but hold none, and chunks whose sizes reach past
// their frame: the walk stays inside each frame and allocates nothing per chunk.
TEST(ResourceBounds, HostileSizesAndCountsAllocateOnlyTheRecordsTheyMake)
{
    ByteArray manyChunks = WriteFLIFile(Frames(2000, 14, ByteArray(10, 0)));
    for (std::size_t frame = 0; frame < 2000; ++frame) {
        const std::size_t at = 128 + frame * 32;
        manyChunks[at + 6] = 0xFF;  // 32767 chunks in a 32-byte frame
        manyChunks[at + 7] = 0x7F;
        manyChunks[at + 16] = 0xFF;  // a first chunk of 2 GiB
        manyChunks[at + 19] = 0x7F;
    }
    const Load chunks = Measure(manyChunks);
    EXPECT_EQ(chunks.records, 1u);
    EXPECT_LE(chunks.peak, FrameStore::kSlabBytes + kSlack);  // record 0's slab

    // One line-compression chunk of 65535 rows of skips, which decodes to nothing.
    ByteArray rows{0, 0, 0xFF, 0xFF};
    rows.insert(rows.end(), 65535, 0);
    const Load skipped = Measure(WriteFLIFile(Frames(1, FLI_LC, rows)));
    EXPECT_EQ(skipped.records, 2u);
    EXPECT_LE(skipped.peak, FrameStore::kSlabBytes + kSlack);

    // 300,000 faulty line-compression chunks, and as many chunks of 300 types no
    // decoder reads: a few of each are kept, the rest only counted.
    std::vector<FliFrameData> faulty(10);
    for (FliFrameData& frame : faulty) {
        frame.chunks.assign(30000, {FLI_LC, {}});
        for (std::int16_t type = 0; type < 30000; ++type) {
            frame.chunks[static_cast<std::size_t>(type)].type =
                type % 2 == 0 ? std::int16_t{FLI_LC} : static_cast<std::int16_t>(100 + type % 600);
        }
    }
    const Load faults = Measure(WriteFLIFile(faulty));
    EXPECT_EQ(faults.records, 11u);
    EXPECT_LE(faults.peak, 11 * sizeof(FrameRecord) + 2 * FrameStore::kSlabBytes + kSlack);
}

TEST(ResourceBounds, HugeClaimedPicturesFailBeforeAllocating)
{
    IndexedImage tiny{2, 2, {1, 2, 3, 4}};
    ByteArray cel = EncodeCelImage(tiny, PaletteBlock{});
    StoreU16(cel.data() + 2, 0xFFFF);
    StoreU16(cel.data() + 4, 0xFFFF);
    StoreU32(cel.data() + 12, 0x7FFFFFFF);
    ResetPeak();
    const std::size_t before = AllocatedBytes();
    EXPECT_EQ(ErrorKindOf([&] { BuildCelImage(cel); }), ErrorKind::Corrupt);

    // A bitmap past 2 GiB is refused on its size alone, before its pixels are looked at.
    const ByteArray pixels(4096, 7);
    EXPECT_EQ(ErrorKindOf([&] { BuildBmpImage(65535, 65535, pixels, Palette{}); }),
              ErrorKind::TooLarge);
    EXPECT_LE(PeakBytes() - before, kSlack);
}
