// FFmpeg's FLI decoder as an independent oracle for ours, on the sample animations.
// It runs when ffmpeg is installed and is skipped, visibly, otherwise.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "art/GameFolder.h"
#include "authoring/FliWriter.h"
#include "authoring/SampleGame.h"
#include "cli/RunProgram.h"
#include "support/FliFixtures.h"
#include "support/TempFolder.h"

namespace fs = std::filesystem;

namespace varek::test {
namespace {

// The ffmpeg program on the search path, or empty.
std::string FindFfmpeg()
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path candidate = fs::path(folder) / "ffmpeg";
        std::error_code ec;
        if (!folder.empty() && fs::is_regular_file(candidate, ec)) {
            return candidate.string();
        }
    }
    return {};
}

// FFmpeg writes every frame of the file, the ring frame and frames without a
// decoded chunk included, each as 64000 palette indices followed by its 1024-byte
// palette. Indices are compared, not colours: FFmpeg scales the 6-bit component
// 63 to 255, the game to 252.
TEST(FfmpegOracle, EveryPictureHasTheIndicesFfmpegDecodesForItsFrames)
{
    const std::string ffmpeg = FindFfmpeg();
    if (ffmpeg.empty()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const TempFolder work;
    WriteSampleGameFolder(work / "game");
    const GameFolder game = GameFolder::Open(work / "game");
    constexpr std::size_t kFrameBytes = kFramePixels + 1024;

    const auto names = game.ReadFileList(ArtCategory::Animated);
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        const fs::path raw = work / (name + ".raw");
        const ProgramResult result =
            RunProgram(ffmpeg, {"-v", "error", "-i",
                                game.FilePath(ArtCategory::Animated, name).string(), "-fps_mode",
                                "passthrough", "-f", "rawvideo", "-pix_fmt", "pal8", raw.string()});
        ASSERT_EQ(result.exitCode, 0) << name << ": " << result.err;
        const ByteArray frames = ReadAll(raw);
        ASSERT_EQ(frames.size() % kFrameBytes, 0u) << name;

        FrameStore store;
        const Animation animation = game.LoadAnimation(name, store);
        ASSERT_TRUE(animation.complete()) << name;
        ASSERT_EQ(animation.pictures.size(), store.FrameCount()) << name;
        for (std::size_t i = 0; i < animation.pictures.size(); ++i) {
            const PictureFrames& picture = animation.pictures[i];
            const PixelBuffer& ours = store[i + 1].Pixels;
            for (std::int32_t frame = picture.firstFrame;
                 frame < picture.firstFrame + picture.frameCount; ++frame) {
                const std::size_t at = static_cast<std::size_t>(frame - 1) * kFrameBytes;
                ASSERT_LE(at + kFrameBytes, frames.size()) << name << " frame " << frame;
                EXPECT_TRUE(std::equal(ours.begin(), ours.end(), frames.begin() + at))
                    << name << ": picture " << i + 1 << ", file frame " << frame;
            }
        }
    }
}

// A frame count past 32,767 is read as FFmpeg reads it: to the last frame, whose
// change makes the second picture.
TEST(FfmpegOracle, CountsPast32767FramesAreReadToTheLastFrame)
{
    const std::string ffmpeg = FindFfmpeg();
    if (ffmpeg.empty()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const TempFolder work;
    std::vector<FliFrameData> frames(33000);
    frames.front().chunks = {Chunk(FLI_COLOR, AllColors(63, 0, 0)), Chunk(FLI_BRUN, BrunFill(7))};
    frames.back().chunks = {Chunk(FLI_LC, LcRow(5, 9))};
    const ByteArray file = WriteFLIFile(frames);
    work.Write("LONG.FLI", file);
    const fs::path raw = work / "last.raw";
    const ProgramResult result = RunProgram(
        ffmpeg, {"-v", "error", "-i", (work / "LONG.FLI").string(), "-vf", "select=eq(n\\,32999)",
                 "-fps_mode", "passthrough", "-f", "rawvideo", "-pix_fmt", "pal8", raw.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const ByteArray last = ReadAll(raw);
    ASSERT_EQ(last.size(), kFramePixels + 1024);

    FrameStore store;
    const FliLoad load = DecodeFLIFile(file, store);
    EXPECT_TRUE(load.complete());
    EXPECT_EQ(load.pictures, (std::vector<PictureFrames>{{1, 32999, 32999 * 5 * kFliTick},
                                                         {33000, 1, 5 * kFliTick}}));
    ASSERT_EQ(store.FrameCount(), 2u);
    EXPECT_TRUE(std::equal(store[2].Pixels.begin(), store[2].Pixels.end(), last.begin()));
    EXPECT_EQ(store[2].Pixels[5 * 320], 9);
}

}  // namespace
}  // namespace varek::test
