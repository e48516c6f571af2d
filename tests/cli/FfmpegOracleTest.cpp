// FFmpeg's FLI decoder as an independent oracle for ours, on the sample animations,
// and for the FLC files the writer makes.
// It runs when ffmpeg is installed and is skipped, visibly, otherwise.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include "art/GameFolder.h"
#include "fli/FliWriter.h"
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

FlcAnimationFrame FlcFrame(int width, int height, const std::function<int(int x, int y)>& at,
                           int colourStep, std::uint16_t delay = 0)
{
    FlcAnimationFrame frame;
    frame.picture = {width, height, ByteArray(static_cast<std::size_t>(width * height))};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            frame.picture.pixels[static_cast<std::size_t>(y * width + x)] =
                static_cast<std::uint8_t>(at(x, y));
        }
    }
    for (std::size_t i = 0; i < frame.colors.size(); ++i) {
        frame.colors[i] =
            static_cast<std::uint8_t>(i * static_cast<std::size_t>(colourStep) + i / 3);
    }
    frame.delay = delay;
    return frame;
}

struct FlcCase {
    std::string name;
    std::vector<FlcAnimationFrame> frames;
    FlcOptions options;
    std::set<std::int16_t> chunkTypes;  // each must appear, so the case covers what it names
};

std::vector<FlcCase> FlcCases()
{
    std::mt19937 random(19);
    auto noise = [&](int, int) { return static_cast<int>(random() & 0xFF); };
    auto ball = [](int cx) {
        return [cx](int x, int y) {
            return (x - cx) * (x - cx) + (y - 240) * (y - 240) < 2500 ? 200 : (x / 8 + y) % 50;
        };
    };
    std::vector<FlcCase> cases;
    // A ball that moves (changed lines between skipped ones), noise, black, bands, a
    // colour change with one pixel far right (skips past the skip byte's reach),
    // each frame with its own delay; a prefix chunk and a postage stamp.
    FlcCase large{"640x480", {}, {}, {}};
    large.frames = {FlcFrame(640, 480, ball(100), 1, 30), FlcFrame(640, 480, ball(130), 1, 45),
                    FlcFrame(640, 480, noise, 1),
                    FlcFrame(
                        640, 480, [](int, int) { return 0; }, 1),
                    FlcFrame(
                        640, 480, [](int, int y) { return y / 3; }, 1, 200)};
    large.frames.push_back(large.frames.back());
    large.frames.back().picture.pixels[300 * 640 + 611] = 77;
    for (std::size_t i = 30; i < 90; ++i) {
        large.frames.back().colors[i] = static_cast<std::uint8_t>(255 - i);
    }
    large.options = {40, true, ByteArray{0, 0, 1, 2, 3, 4, 5, 6, 7, 8}};
    large.chunkTypes = {FlcWriterChunk::kColor256, FlcWriterChunk::kDelta,
                        FlcWriterChunk::kBlack,    FlcWriterChunk::kByteRun,
                        FlcWriterChunk::kCopy,     FlcWriterChunk::kPostageStamp};
    cases.push_back(std::move(large));
    cases.push_back({"4x2",
                     {FlcFrame(
                          4, 2, [](int x, int y) { return x + 4 * y; }, 3),
                      FlcFrame(
                          4, 2, [](int x, int y) { return x == 3 && y == 1 ? 9 : x + 4 * y; }, 3)},
                     {},
                     {FlcWriterChunk::kCopy}});
    // Wide lines: runs and literals past a packet's 128 pairs, uncompressed rows.
    FlcCase wide{"4096x3",
                 {FlcFrame(
                     4096, 3, [](int x, int) { return x / 300; }, 2)},
                 {},
                 {}};
    wide.frames.push_back(FlcFrame(4096, 3, noise, 2));
    wide.frames.push_back(wide.frames.back());
    for (std::size_t x = 1000; x < 3000; ++x) {
        wide.frames.back().picture.pixels[4096 + x] = static_cast<std::uint8_t>(x < 2000 ? 5 : x);
    }
    wide.chunkTypes = {FlcWriterChunk::kCopy, FlcWriterChunk::kDelta};
    cases.push_back(std::move(wide));
    return cases;
}

// FFmpeg reads each picture, and the ring frame as the first again, in the
// colours written. Odd widths are left out: FFmpeg's last-pixel word writes past
// the line there, and it skips uncompressed chunks whose width is not a multiple
// of four.
TEST(FfmpegOracle, FlcFilesDecodeToThePicturesAndColoursWritten)
{
    const std::string ffmpeg = FindFfmpeg();
    if (ffmpeg.empty()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const TempFolder work;
    for (const FlcCase& test : FlcCases()) {
        std::set<std::int16_t> types;
        for (const FliFrameData& frame :
             EncodeFlcAnimation(test.frames, test.options.postageStamp)) {
            for (const FliChunkData& chunk : frame.chunks) {
                types.insert(chunk.type);
            }
        }
        EXPECT_TRUE(std::includes(types.begin(), types.end(), test.chunkTypes.begin(),
                                  test.chunkTypes.end()))
            << test.name;
        const fs::path file =
            work.Write(test.name + ".FLC", WriteFlcAnimation(test.frames, test.options));
        const fs::path raw = work / (test.name + ".raw");
        const ProgramResult result =
            RunProgram(ffmpeg, {"-v", "error", "-i", file.string(), "-fps_mode", "passthrough",
                                "-f", "rawvideo", "-pix_fmt", "rgb24", raw.string()});
        ASSERT_EQ(result.exitCode, 0) << test.name << ": " << result.err;
        const ByteArray decoded = ReadAll(raw);
        const IndexedImage& size = test.frames.front().picture;
        const std::size_t frameBytes = size.pixels.size() * 3;
        ASSERT_EQ(decoded.size(), frameBytes * (test.frames.size() + 1)) << test.name;
        for (std::size_t i = 0; i <= test.frames.size(); ++i) {
            const FlcAnimationFrame& frame = test.frames[i % test.frames.size()];
            ByteArray expected;
            for (const std::uint8_t index : frame.picture.pixels) {
                expected.insert(expected.end(), frame.colors.begin() + 3 * index,
                                frame.colors.begin() + 3 * index + 3);
            }
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                                   decoded.begin() + static_cast<std::ptrdiff_t>(i * frameBytes)))
                << test.name << ": frame " << i + 1;
        }
    }
}

}  // namespace
}  // namespace varek::test
