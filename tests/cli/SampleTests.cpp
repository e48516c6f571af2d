#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "art/ArtFiles.h"
#include "art/GameFolder.h"
#include "authoring/SampleGame.h"
#include "cli/RunProgram.h"
#include "fli/FliDecoder.h"
#include "support/FolderSnapshot.h"
#include "support/TempFolder.h"
#include "util/FolderListing.h"

namespace varek::test {
namespace {

std::uint32_t U32At(const ByteArray& bytes, std::size_t at)
{
    return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
           static_cast<std::uint32_t>(bytes.at(at + 3)) << 24;
}

// The chunk types of each frame of an FLI file, read straight from its headers.
std::vector<std::vector<int>> ChunkTypes(const ByteArray& fli)
{
    std::vector<std::vector<int>> frames;
    std::size_t frame = 128;
    for (std::uint32_t i = 0; i < (U32At(fli, 4) >> 16); ++i) {
        std::vector<int> types;
        std::size_t chunk = frame + 16;
        for (std::uint32_t c = 0; c < (U32At(fli, frame + 4) >> 16); ++c) {
            types.push_back(static_cast<int>(U32At(fli, chunk + 4) & 0xFFFF));
            chunk += U32At(fli, chunk);
        }
        frames.push_back(types);
        frame += U32At(fli, frame);
    }
    return frames;
}

TEST(SampleGameTest, FolderHoldsEveryKindOfArtTheViewerShows)
{
    const TempFolder folder;
    WriteSampleGameFolder(folder.path());
    EXPECT_EQ(GameFolder::Check(folder.path()), "");
    const ByteArray paletteFile = ReadAll(folder / "PALETTE.PAL");
    EXPECT_GT(paletteFile.size(), 768u);
    const Palette gameColors = DecodePaletteBlock(paletteFile, 0).palette;

    const auto walls = ListMatchingFiles(folder / "CELS3", "*.CEL");
    EXPECT_GE(walls.size(), 8u);
    bool longWall = false;
    bool transparentSprite = false;
    std::set<std::string> wallImages;
    for (const std::string& name : walls) {
        const ByteArray bytes = ReadAll(folder / "CELS3" / name);
        ASSERT_GE(bytes.size(), 4096u) << name;
        longWall |= bytes.size() > 4096;
        wallImages.insert(std::string(bytes.begin(), bytes.begin() + 4096));
        EXPECT_GT(std::set<std::uint8_t>(bytes.begin(), bytes.end()).size(), 8u) << name;
        // A sprite: its corners and much of it in one magenta the game keys out.
        const ColorValue corner = gameColors[bytes[0]];
        transparentSprite |= bytes[0] == bytes[63] && bytes[0] == bytes[4095] &&
                             std::count(bytes.begin(), bytes.end(), bytes[0]) > 1000 &&
                             RedOf(corner) > 200 && GreenOf(corner) == 0 && BlueOf(corner) > 200;
    }
    EXPECT_TRUE(longWall);
    EXPECT_TRUE(transparentSprite);
    EXPECT_EQ(wallImages.size(), walls.size());

    const auto stills = ListMatchingFiles(folder / "STILLCEL", "*.CEL");
    EXPECT_GE(stills.size(), 4u);
    std::set<std::pair<int, int>> sizes;
    std::vector<Palette> palettes{gameColors};
    for (const std::string& name : stills) {
        const ByteArray bytes = ReadAll(folder / "STILLCEL" / name);
        const IndexedImage image = BuildCelImage(bytes);
        sizes.insert({image.width, image.height});
        const Palette own = DecodePaletteBlock(bytes, 32).palette;
        EXPECT_EQ(std::count(palettes.begin(), palettes.end(), own), 0) << name;
        palettes.push_back(own);
    }
    EXPECT_EQ(sizes.size(), stills.size());
    EXPECT_TRUE(sizes.contains({320, 200}));
    EXPECT_TRUE(std::any_of(sizes.begin(), sizes.end(),
                            [](auto size) { return size.first <= 64 && size.second <= 64; }));
    EXPECT_TRUE(std::any_of(sizes.begin(), sizes.end(), [](auto size) { return size.first % 2; }));

    const auto animations = ListMatchingFiles(folder / "FLI", "*.FLI");
    EXPECT_GE(animations.size(), 2u);
    std::set<int> types;
    bool chunklessFrame = false;
    bool coloursChange = false;
    for (const std::string& name : animations) {
        const ByteArray bytes = ReadAll(folder / "FLI" / name);
        const auto frames = ChunkTypes(bytes);
        FrameStore store;
        const FliLoad load = DecodeFLIFile(bytes, store);
        EXPECT_TRUE(load.complete()) << name;
        EXPECT_TRUE(load.lineFaults.empty()) << name;
        EXPECT_EQ(store.FrameCount(), static_cast<std::size_t>(std::count_if(
                                          frames.begin(), frames.end(),
                                          [](const auto& chunks) { return !chunks.empty(); })));
        for (const auto& chunks : frames) {
            chunklessFrame |= chunks.empty();
            types.insert(chunks.begin(), chunks.end());
        }
        for (std::size_t frame = 2; frame <= store.FrameCount(); ++frame) {
            coloursChange |= store[frame].Colors != store[1].Colors;
        }
    }
    EXPECT_EQ(types, (std::set<int>{FLI_COLOR, FLI_LC, FLI_BLACK, FLI_BRUN, FLI_COPY}));
    EXPECT_TRUE(chunklessFrame);
    EXPECT_TRUE(coloursChange);
}

TEST(SampleGameTest, BenchmarkAnimationChangesATenthOfEveryFrame)
{
    const ByteArray bytes = MakeSampleAnimation(25);
    const auto frames = ChunkTypes(bytes);
    ASSERT_EQ(frames.size(), 25u);
    EXPECT_EQ(frames[0], (std::vector<int>{FLI_COLOR, FLI_LC}));
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i], std::vector<int>{FLI_LC}) << i;
    }
    FrameStore store;
    DecodeFLIFile(bytes, store);
    ASSERT_EQ(store.FrameCount(), 25u);
    EXPECT_NE(store[1].Colors, Palette{});
    for (std::size_t frame = 2; frame <= 25; ++frame) {
        std::size_t changed = 0;
        const std::size_t pixels = store[frame].Pixels.size();
        for (std::size_t i = 0; i < pixels; ++i) {
            changed += store[frame].Pixels[i] != store[frame - 1].Pixels[i];
        }
        EXPECT_NEAR(static_cast<double>(changed), pixels / 10.0, pixels / 50.0) << frame;
    }
}

TEST(SampleGameTest, ProgramWritesTheSameBytesEveryTime)
{
    const TempFolder folder;
    ProgramResult result = RunProgram(VAREK_SAMPLE_PROGRAM, {(folder / "game").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    WriteSampleGameFolder(folder / "direct");
    EXPECT_EQ(TakeSnapshot(folder / "game"), TakeSnapshot(folder / "direct"));

    const std::string animation = (folder / "long.fli").string();
    result = RunProgram(VAREK_SAMPLE_PROGRAM, {"--animation", "12", animation});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadAll(animation), MakeSampleAnimation(12));
    const std::string flc = (folder / "wide.flc").string();
    result = RunProgram(VAREK_SAMPLE_PROGRAM, {"--flc", "33x7", "12", flc});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadAll(flc), MakeSampleFlc(33, 7, 12));

    const std::vector<std::string> wrong[] = {{},
                                              {"a", "b"},
                                              {"--animation", "0", animation},
                                              {"--animation", "65536", animation},
                                              {"--animation", "12x", animation},
                                              {"--animation", "12"},
                                              {"--flc", "0x7", "12", flc},
                                              {"--flc", "4097x7", "12", flc},
                                              {"--flc", "33", "12", flc},
                                              {"--flc", "33x7", "0", flc},
                                              {"--flc", "33x7", "12"},
                                              {"--colour"}};
    for (const auto& args : wrong) {
        EXPECT_EQ(RunProgram(VAREK_SAMPLE_PROGRAM, args).exitCode, 2)
            << ::testing::PrintToString(args);
    }
}

}  // namespace
}  // namespace varek::test
