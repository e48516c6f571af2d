// What the window's tools read of a file: the frame and chunk layout of an
// animation, the facts of each kind of file and the first picture a thumbnail shows.
#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "art/FileFacts.h"
#include "art/GameFolder.h"
#include "authoring/CelWriter.h"
#include "fli/FliDecoder.h"
#include "fli/FliLayout.h"
#include "support/ErrorKindOf.h"
#include "support/FliFixtures.h"

using namespace varek;
using namespace varek::test;

namespace {

const FliFrameData kFirst{{Chunk(FLI_COLOR, AllColors(63, 0, 0)), Chunk(FLI_BRUN, BrunFill(1))}};
const FliFrameData kRow{{Chunk(FLI_LC, LcRow(5, 2))}};
const FliFrameData kBlue{{Chunk(FLI_COLOR, AllColors(0, 0, 63)), Chunk(99, ByteArray(4, 0))}};
const FliFrameData kRing{{Chunk(FLI_LC, LcRow(0, 9))}};

// The chunk types of each frame in the layout.
std::vector<std::vector<std::int16_t>> TypesOf(const std::vector<FliFramePlace>& frames)
{
    std::vector<std::vector<std::int16_t>> types;
    for (const FliFramePlace& frame : frames) {
        types.emplace_back();
        for (const FliChunkPlace& chunk : frame.chunks) {
            types.back().push_back(chunk.type);
        }
    }
    return types;
}

std::string ValueOf(const FileFacts& facts, const std::string& label)
{
    const FactRow* row = facts.Find(label);
    return row != nullptr ? row->value : "(no row " + label + ")";
}

}  // namespace

// Every counted frame with its chunks where the walk reads them, and the ring frame
// after them; a cut file lists the frames before the cut and says why it stopped.
TEST(FliLayout, ListsEachFrameAndChunkAndTheRingFrame)
{
    const ByteArray file = Fli({kFirst, {}, kBlue, kRow}, &kRing);
    const FliLayout layout = ListFLIFrames(file);
    EXPECT_FALSE(layout.stop);
    EXPECT_EQ(TypesOf(layout.frames), (std::vector<std::vector<std::int16_t>>{
                                          {FLI_COLOR, FLI_BRUN}, {}, {FLI_COLOR, 99}, {FLI_LC}}));
    for (std::size_t i = 0; i < layout.frames.size(); ++i) {
        EXPECT_EQ(layout.frames[i].offset, static_cast<std::int64_t>(FrameOffset(file, int(i))));
        std::int64_t at = layout.frames[i].offset + 16;
        for (const FliChunkPlace& chunk : layout.frames[i].chunks) {
            EXPECT_EQ(chunk.offset, at);
            at += chunk.size;
        }
        EXPECT_EQ(at, layout.frames[i].offset + layout.frames[i].size) << "frame " << i + 1;
    }
    ASSERT_TRUE(layout.ring);
    EXPECT_EQ(layout.ring->offset, static_cast<std::int64_t>(FrameOffset(file, 4)));
    EXPECT_EQ(TypesOf({*layout.ring}), (std::vector<std::vector<std::int16_t>>{{FLI_LC}}));
    EXPECT_FALSE(ListFLIFrames(Fli({kFirst, kRow})).ring);

    for (std::size_t cut = 0; cut < file.size(); cut += 7) {
        const FliLayout part = ListFLIFrames(std::span(file).first(cut));
        ASSERT_LE(part.frames.size(), layout.frames.size()) << cut;
        EXPECT_TRUE(std::equal(part.frames.begin(), part.frames.end(), layout.frames.begin()))
            << cut;
        EXPECT_EQ(part.stop.has_value(),
                  OutlineFLIFile(std::span(file).first(cut)).stop.has_value())
            << cut;
    }
}

// The facts of each kind of file, read from a folder in memory; a damaged file gives
// the size and the fault.
TEST(FileFacts, EachKindOfFileSaysWhatItHolds)
{
    IndexedImage still{5, 3, ByteArray(15, 7)};
    ByteArray cel = EncodeCelImage(still, PaletteBlock{});
    cel.insert(cel.end(), 10, 0);
    ByteArray animation = Fli({kFirst, {}, kRow, kBlue}, &kRing);
    StoreU16(animation.data() + 16, 0);
    ByteArray faulty = Fli({kFirst, {{Chunk(FLI_LC, Payload().U16(200).U16(1).U8({1, 0, 1, 5}))}}});
    const auto source = std::make_shared<MemorySource>(std::map<std::string, ByteArray>{
        {"PALETTE.PAL", ByteArray(768, 1)},
        {"CELS3/W.CEL", ByteArray(5000, 3)},
        {"CELS3/SHORT.CEL", ByteArray(100, 3)},
        {"STILLCEL/S.CEL", cel},
        {"FLI/A.FLI", animation},
        {"FLI/BAD.FLI", faulty},
    });
    const GameFolder game = GameFolder::Open(source);

    const FileFacts wall = game.DescribeFile(ArtCategory::WallsSprites, "W.CEL");
    EXPECT_EQ(ValueOf(wall, "File size"), "5000 bytes");
    EXPECT_EQ(ValueOf(wall, "Beyond the pixels"), "904 bytes, not shown");
    EXPECT_EQ(ValueOf(game.DescribeFile(ArtCategory::WallsSprites, "SHORT.CEL"), "Fault"),
              "the file holds 100 bytes, a wall needs 4096");
    EXPECT_EQ(ValueOf(game.DescribeFile(ArtCategory::WallsSprites, "GONE.CEL"), "Fault")
                  .rfind("Missing", 0),
              0u);

    const FileFacts stillFacts = game.DescribeFile(ArtCategory::OtherArt, "S.CEL");
    EXPECT_EQ(ValueOf(stillFacts, "File size"), "825 bytes");
    EXPECT_EQ(ValueOf(stillFacts, "Picture"), "5 \u00d7 3, 15 bytes at offset 800");
    EXPECT_EQ(ValueOf(stillFacts, "Beyond the pixels"), "10 bytes, not shown");

    const FileFacts fli = game.DescribeFile(ArtCategory::Animated, "A.FLI");
    EXPECT_EQ(ValueOf(fli, "Frame count"), "4, the ring frame not counted");
    EXPECT_EQ(ValueOf(fli, "Speed"), "0, played as 5/70 s (71 ms) a frame");
    EXPECT_EQ(
        ValueOf(fli, "Ring frame").rfind("offset " + std::to_string(FrameOffset(animation, 4)), 0),
        0u);
    EXPECT_EQ(ValueOf(fli, "Pictures"), "3");
    EXPECT_EQ(ValueOf(fli, "Picture 1"), "file frames 1 to 2, colours changed");
    EXPECT_EQ(ValueOf(fli, "Picture 2"), "file frame 3, same colours");
    EXPECT_EQ(ValueOf(fli, "Picture 3"), "file frame 4, colours changed");
    const FactRow* frame4 = fli.Find("Frame 4");
    ASSERT_NE(frame4, nullptr);
    ASSERT_EQ(frame4->rows.size(), 2u);
    EXPECT_EQ(frame4->rows[0].value.rfind("colours, 778 bytes at offset", 0), 0u);
    EXPECT_EQ(frame4->rows[1].value.rfind("unknown, skipped, 10 bytes", 0), 0u);
    EXPECT_EQ(ValueOf(fli, "Line-compression faults"), "0");
    EXPECT_EQ(ValueOf(fli, "Read to its end"), "yes");

    const FileFacts bad = game.DescribeFile(ArtCategory::Animated, "BAD.FLI");
    EXPECT_EQ(ValueOf(bad, "Line-compression faults"), "1");
    EXPECT_EQ(bad.Find("Line-compression faults")->rows.size(), 1u);
}

// A thumbnail's picture: the wall turned, the still in its colours, the animation's
// first picture alone; a file without one is its fault.
TEST(FileFacts, FirstPictureIsTheWindowsFirstLook)
{
    ByteArray wall(4096, 0);
    ByteArray cut = Fli({kFirst});
    cut.resize(100);
    wall[0] = 1;
    const auto source = std::make_shared<MemorySource>(std::map<std::string, ByteArray>{
        {"PALETTE.PAL", ByteArray(768, 1)},
        {"CELS3/W.CEL", wall},
        {"STILLCEL/", {}},
        {"FLI/A.FLI", Fli({{}, kFirst, kRow})},
        {"FLI/NONE.FLI", Fli({{}, {}})},
        {"FLI/CUT.FLI", cut},
    });
    const GameFolder game = GameFolder::Open(source);
    Palette palette;
    palette[1] = 77;
    const Picture first = game.LoadFirstPicture(ArtCategory::WallsSprites, "W.CEL", palette);
    EXPECT_EQ(first, game.LoadWall("W.CEL", palette, true));
    EXPECT_EQ(first.image.pixels[63], 1);

    FrameStore store;
    game.LoadAnimation("A.FLI", store);
    EXPECT_EQ(game.LoadFirstPicture(ArtCategory::Animated, "A.FLI", palette), PictureOf(store[1]));
    EXPECT_EQ(ErrorKindOf([&] { game.LoadFirstPicture(ArtCategory::Animated, "NONE.FLI", {}); }),
              ErrorKind::Corrupt);
    EXPECT_EQ(ErrorKindOf([&] { game.LoadFirstPicture(ArtCategory::Animated, "CUT.FLI", {}); }),
              ErrorKind::Truncated);
}
