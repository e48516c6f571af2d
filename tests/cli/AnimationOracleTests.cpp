// The animated file writers checked by decoders that are not ours: FFmpeg and
// apngdis for APNG (each skipped, visibly, when it is not installed), libwebp's
// own demuxer for WebP. Every frame's pixels, colours and time are compared
// with the pictures written.
#include <gtest/gtest.h>
#if VAREK_TEST_WEBP
#include <webp/demux.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/RunProgram.h"
#include "imaging/ApngImage.h"
#include "imaging/IndexedImage.h"
#include "imaging/WebpImage.h"
#include "support/TempFolder.h"

namespace fs = std::filesystem;

namespace varek::test {
namespace {

// The program on the search path, or empty.
std::string FindProgram(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path candidate = fs::path(folder) / name;
        std::error_code ec;
        if (!folder.empty() && fs::is_regular_file(candidate, ec)) {
            return candidate.string();
        }
    }
    return {};
}

constexpr std::int32_t kWidth = 24;
constexpr std::int32_t kHeight = 10;

struct Input {
    IndexedImage image;
    Palette palette;
    PictureTime time;
};

// A frame as a decoder shows it: the input picture it shows and for how long,
// as the reduced fraction the file holds.
struct Shown {
    std::size_t input;
    std::string delay;
};

struct AnimationCase {
    const char* name;
    std::vector<Input> inputs;
    bool onePalette;  // written as indexed
    std::vector<Shown> apng;
};

IndexedImage Noise(unsigned seed, int indices)
{
    std::mt19937 random(seed);
    IndexedImage image{kWidth, kHeight, std::vector<std::uint8_t>(kWidth * kHeight)};
    for (auto& p : image.pixels) {
        p = static_cast<std::uint8_t>(random() % static_cast<unsigned>(indices));
    }
    return image;
}

IndexedImage Painted(IndexedImage image, int left, int top, int width, int height,
                     std::uint8_t index)
{
    for (int y = top; y < top + height; ++y) {
        for (int x = left; x < left + width; ++x) {
            image.pixels[static_cast<std::size_t>(y * kWidth + x)] = index;
        }
    }
    return image;
}

Palette Colours(unsigned seed)
{
    std::mt19937 random(seed);
    Palette palette;
    for (auto& c : palette.Colors) {
        c = random() & 0xFFFFFFu;
    }
    return palette;
}

std::vector<AnimationCase> Cases()
{
    const Palette a = Colours(1);
    const Palette b = Colours(2);
    const IndexedImage base = Noise(3, 200);
    const IndexedImage moved = Painted(base, 3, 2, 5, 4, 250);
    const IndexedImage full = Noise(4, 256);
    const PictureTime tick{100};  // 1/70 s
    const PictureTime ms{7};
    return {
        // Index 255 is free; a picture that looks the same lengthens the frame.
        {"one palette",
         {{base, a, tick},
          {moved, a, ms},
          {moved, a, tick},
          {Painted(moved, 20, 7, 2, 2, 251), a, 15 * ms}},
         true,
         {{0, "1/70"}, {1, "107/7000"}, {3, "3/200"}}},
        {"one palette, every index shown",
         {{full, a, 3 * tick}, {Painted(full, 0, 0, 24, 1, 7), a, 40 * ms}},
         true,
         {{0, "3/70"}, {1, "1/25"}}},
        {"colours change",
         {{base, a, tick}, {base, b, tick}, {moved, b, 2 * tick}},
         false,
         {{0, "1/70"}, {1, "1/70"}, {2, "1/35"}}},
        // 10 s pass the 65535/7000 s a frame holds: 9 s, then 1 s redrawing a pixel.
        {"ten seconds",
         {{base, b, PictureTime{70000}}, {moved, b, tick}},
         true,
         {{0, "9/1"}, {0, "1/1"}, {1, "1/70"}}},
    };
}

ByteArray Rgba(const Input& input)
{
    ByteArray rgba;
    for (const std::uint8_t index : input.image.pixels) {
        const ColorValue c = input.palette[index];
        rgba.insert(rgba.end(), {RedOf(c), GreenOf(c), BlueOf(c), 255});
    }
    return rgba;
}

ByteArray WriteApng(const AnimationCase& test)
{
    ApngWriter writer(
        kWidth, kHeight,
        test.onePalette ? std::optional<Palette>(test.inputs[0].palette) : std::nullopt,
        test.name == std::string("one palette") ? std::optional<std::uint8_t>(255) : std::nullopt);
    for (const Input& input : test.inputs) {
        writer.AddPicture(input.image.pixels, input.palette, input.time);
    }
    return writer.Finish();
}

// FFmpeg composes every frame; its clock counts 1/100000 s, each frame's delay
// rounded to it, so starts are compared within a unit a frame.
TEST(AnimationOracle, FfmpegShowsEveryApngFrameAtItsTime)
{
    const std::string ffmpeg = FindProgram("ffmpeg");
    const std::string ffprobe = FindProgram("ffprobe");
    if (ffmpeg.empty() || ffprobe.empty()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const TempFolder work;
    for (const AnimationCase& test : Cases()) {
        const fs::path file = work.Write(std::string(test.name) + ".png", WriteApng(test));
        const fs::path raw = work / "frames.raw";
        ProgramResult result =
            RunProgram(ffmpeg, {"-v", "error", "-y", "-i", file.string(), "-fps_mode",
                                "passthrough", "-f", "rawvideo", "-pix_fmt", "rgba", raw.string()});
        ASSERT_EQ(result.exitCode, 0) << test.name << ": " << result.err;
        const ByteArray frames = ReadAll(raw);
        const std::size_t frameBytes = kWidth * kHeight * 4;
        ASSERT_EQ(frames.size(), frameBytes * test.apng.size()) << test.name;
        result = RunProgram(ffprobe, {"-v", "error", "-select_streams", "v", "-show_entries",
                                      "packet=pts", "-of", "csv=p=0", file.string()});
        ASSERT_EQ(result.exitCode, 0) << test.name << ": " << result.err;
        std::istringstream starts(result.out);
        double exactStart = 0;  // in FFmpeg's 1/100000 s
        for (std::size_t f = 0; f < test.apng.size(); ++f) {
            const Shown& shown = test.apng[f];
            const ByteArray expected = Rgba(test.inputs[shown.input]);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                                   frames.begin() + static_cast<std::ptrdiff_t>(f * frameBytes)))
                << test.name << ": frame " << f;
            double pts = -1;
            starts >> pts;
            EXPECT_NEAR(pts, exactStart, static_cast<double>(f) + 0.5)
                << test.name << ": frame " << f;
            const std::size_t slash = shown.delay.find('/');
            exactStart += 100000.0 * std::stod(shown.delay.substr(0, slash)) /
                          std::stod(shown.delay.substr(slash + 1));
        }
    }
}

// apngdis splits a file into its frames and writes each one's delay as the file
// holds it: the fractions are exact.
TEST(AnimationOracle, ApngdisReadsTheExactDelays)
{
    const std::string apngdis = FindProgram("apngdis");
    if (apngdis.empty()) {
        GTEST_SKIP() << "apngdis is not installed";
    }
    for (const AnimationCase& test : Cases()) {
        const TempFolder work;
        const fs::path file = work.Write("anim.png", WriteApng(test));
        const ProgramResult result = RunProgram(apngdis, {file.string()});
        ASSERT_EQ(result.exitCode, 0) << test.name << ": " << result.out << result.err;
        for (std::size_t f = 0; f < test.apng.size(); ++f) {
            char name[48];
            std::snprintf(name, sizeof name, "apngframe%0*zu.txt", test.apng.size() < 10 ? 1 : 2,
                          f + 1);
            std::ifstream text(work / name);
            std::string line;
            std::getline(text, line);
            EXPECT_EQ(line, "delay=" + test.apng[f].delay) << test.name << ": frame " << f;
        }
        char next[48];
        std::snprintf(next, sizeof next, "apngframe%0*zu.txt", test.apng.size() < 10 ? 1 : 2,
                      test.apng.size() + 1);
        EXPECT_FALSE(fs::exists(work / next)) << test.name;
    }
}

#if VAREK_TEST_WEBP
// libwebp's demuxer composes every frame and gives the time it ends, in whole
// milliseconds: each frame shows the picture due at its start, every picture
// due before its end shows the same (the encoder joins frames that do not
// change), it ends where a picture's exact end rounds to, and the last at the
// total, so the file never strays half a millisecond.
TEST(AnimationOracle, WebpDemuxerShowsEveryPictureAtItsTime)
{
    // webpinfo, where installed, checks every chunk of the file as well.
    const std::string webpinfo = FindProgram("webpinfo");
    const TempFolder work;
    for (const AnimationCase& test : Cases()) {
        WebpWriter writer(kWidth, kHeight);
        std::vector<std::int64_t> starts;  // exact, in 1/7000 s
        std::int64_t total = 0;
        for (const Input& input : test.inputs) {
            writer.AddPicture(input.image.pixels, input.palette, input.time);
            starts.push_back(total);
            total += input.time.count();
        }
        const auto rounded = [](std::int64_t units) { return (units + 3) / 7; };
        const ByteArray bytes = writer.Finish();
        const WebPData data{bytes.data(), bytes.size()};
        WebPAnimDecoderOptions options;
        ASSERT_TRUE(WebPAnimDecoderOptionsInit(&options));
        options.color_mode = MODE_RGBA;
        WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
        ASSERT_NE(decoder, nullptr) << test.name;
        WebPAnimInfo info;
        ASSERT_TRUE(WebPAnimDecoderGetInfo(decoder, &info));
        EXPECT_EQ(info.loop_count, 0u) << test.name;
        int start = 0;
        std::size_t frame = 0;
        while (WebPAnimDecoderHasMoreFrames(decoder)) {
            std::uint8_t* canvas = nullptr;
            int end = 0;
            ASSERT_TRUE(WebPAnimDecoderGetNext(decoder, &canvas, &end)) << test.name;
            ASSERT_GT(end, start) << test.name << ": frame " << frame;
            bool endsWithAPicture = end == rounded(total);
            for (std::size_t i = 0; i < test.inputs.size(); ++i) {
                const std::int64_t due = rounded(starts[i]);
                const std::int64_t next =
                    i + 1 < starts.size() ? rounded(starts[i + 1]) : rounded(total);
                endsWithAPicture = endsWithAPicture || next == end;
                if (next > start && due < end) {
                    const ByteArray expected = Rgba(test.inputs[i]);
                    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), canvas))
                        << test.name << ": frame " << frame << ", picture " << i;
                }
            }
            EXPECT_TRUE(endsWithAPicture) << test.name << ": frame " << frame << " ends at " << end;
            start = end;
            ++frame;
        }
        EXPECT_EQ(start, rounded(total)) << test.name;
        WebPAnimDecoderDelete(decoder);
        if (!webpinfo.empty()) {
            const ProgramResult checked =
                RunProgram(webpinfo, {work.Write("anim.webp", bytes).string()});
            EXPECT_EQ(checked.exitCode, 0) << test.name << ": " << checked.out;
            EXPECT_NE(checked.out.find("No error detected."), std::string::npos) << checked.out;
        }
    }
}
#endif

}  // namespace
}  // namespace varek::test
