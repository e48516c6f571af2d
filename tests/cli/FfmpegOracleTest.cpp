// FFmpeg's FLI decoder as an independent oracle for ours, on the sample animations.
// It runs when ffmpeg is installed and is skipped, visibly, otherwise.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "art/GameFolder.h"
#include "authoring/SampleGame.h"
#include "cli/RunProgram.h"
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
            const FramePixels& ours = store[i + 1].Pixels;
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

}  // namespace
}  // namespace varek::test
