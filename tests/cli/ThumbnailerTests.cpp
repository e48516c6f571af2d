#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "authoring/CelWriter.h"
#include "fli/FliWriter.h"
#include "cli/RunProgram.h"
#include "imaging/IndexedImage.h"
#include "imaging/Palette.h"
#include "support/TempFolder.h"

namespace varek::test {
namespace {

namespace fs = std::filesystem;

// Blocks of 5 x 5 pixels, each of its own index, so that a thumbnail scaled by
// 2.5 or a whole factor has one exact answer whichever pixel of a block it samples.
IndexedImage Blocks(std::int32_t width, std::int32_t height)
{
    IndexedImage image{width, height, {}};
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            image.pixels.push_back(static_cast<std::uint8_t>(x / 5 + y / 5 * 7));
        }
    }
    return image;
}

PaletteBlock Colours()
{
    PaletteBlock block{};
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        block[3 * i] = static_cast<std::uint8_t>(i % 64);
        block[3 * i + 1] = static_cast<std::uint8_t>(i / 4);
        block[3 * i + 2] = static_cast<std::uint8_t>(63 - i % 64);
    }
    return block;
}

// Two frames: the blocks, then a frame of one colour that no thumbnail may show.
ByteArray Animation(const IndexedImage& first)
{
    std::vector<AnimationFrame> frames(2);
    std::copy(first.pixels.begin(), first.pixels.end(), frames[0].pixels.begin());
    frames[0].colors = Colours();
    frames[1].pixels.fill(200);
    frames[1].colors = Colours();
    return WriteAnimation(frames);
}

// Two FLC frames: the blocks in Colours() read as 8-bit components, then a frame
// of one colour.
ByteArray FlcAnimation(const IndexedImage& first)
{
    std::vector<FlcAnimationFrame> frames(2, {first, Colours(), 0});
    std::ranges::fill(frames[1].picture.pixels, std::uint8_t{200});
    return WriteFlcAnimation(frames);
}

struct ThumbnailCase {
    const char* what;
    std::string fileName;
    ByteArray bytes;
    std::vector<std::string> size;  // the arguments before INPUT and OUTPUT
    int exitCode;
    IndexedImage source;         // the picture shown, when one is written
    std::int32_t width, height;  // the thumbnail's size
    bool eightBit = false;       // Colours() as 8-bit components, as an FLC holds them
};

TEST(Thumbnailer, WritesTheFirstPictureWithinTheSizeOrFailsLeavingNothing)
{
    const IndexedImage frame = Blocks(kFliWidth, kFliHeight);
    const ByteArray animation = Animation(frame);
    const IndexedImage still = Blocks(50, 30);
    const ByteArray cel = EncodeCelImage(still, Colours());
    // More than the first MiB the thumbnailer tries before reading further.
    const IndexedImage wide = Blocks(2750, 400);
    const ByteArray wideCel = EncodeCelImage(wide, Colours());
    ByteArray noWidth = cel;
    noWidth[2] = noWidth[3] = 0;
    const std::vector<ThumbnailCase> cases{
        {"an FLI under any name, scaled down",
         "INTRO.bin",
         animation,
         {"-s", "128"},
         0,
         frame,
         128,
         80},
        {"an FLI scaled up by a whole factor",
         "INTRO.FLI",
         animation,
         {"-s", "1000"},
         0,
         frame,
         960,
         600},
        {"a still picture in its own colours", "GEM.CEL", cel, {"-s", "20"}, 0, still, 20, 12},
        {"a still picture past the first MiB",
         "WIDE.CEL",
         wideCel,
         {"-s", "1100"},
         0,
         wide,
         1100,
         160},
        {"a still picture at its own size", "GEM.CEL", cel, {"-s", "50"}, 0, still, 50, 30},
        {"an FLC in its 8-bit colours",
         "SHOT.FLI",
         FlcAnimation(still),
         {"-s", "20"},
         0,
         still,
         20,
         12,
         true},
        {"an FLI cut in its first frame",
         "CUT.FLI",
         ByteArray(animation.begin(), animation.begin() + 300),
         {"-s", "128"},
         1,
         {},
         0,
         0},
        {"a still picture without width", "BAD.CEL", noWidth, {"-s", "128"}, 1, {}, 0, 0},
        {"an empty file", "EMPTY.FLI", {}, {"-s", "128"}, 1, {}, 0, 0},
        {"a size of 0", "INTRO.FLI", animation, {"-s", "0"}, 2, {}, 0, 0},
    };
    const Palette colours = PaletteFromBlock(Colours());
    Palette flcColours;
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        const PaletteBlock block = Colours();
        flcColours[i] = MakeColor(block[3 * i], block[3 * i + 1], block[3 * i + 2]);
    }
    for (const ThumbnailCase& test : cases) {
        SCOPED_TRACE(test.what);
        const TempFolder folder;
        const fs::path input = folder.Write(test.fileName, test.bytes);
        const fs::path output = folder / "thumb.png";
        std::vector<std::string> args = test.size;
        args.push_back(input.string());
        args.push_back(output.string());
        const ProgramResult result = RunProgram(VAREK_THUMBNAILER_PROGRAM, args);
        ASSERT_EQ(result.exitCode, test.exitCode) << result.err;
        if (test.exitCode != 0) {
            EXPECT_TRUE(result.err.starts_with("varek-thumbnailer: ")) << result.err;
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'),
                      test.exitCode == 1 ? 1 : 2)
                << result.err;
            EXPECT_EQ(
                std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1)
                << "something was left beside the input";
            continue;
        }
        QImage image;
        ASSERT_TRUE(image.load(QString::fromStdString(output.string())));
        ASSERT_EQ(image.format(), QImage::Format_Indexed8);
        ASSERT_EQ(image.width(), test.width);
        ASSERT_EQ(image.height(), test.height);
        const Palette& expected = test.eightBit ? flcColours : colours;
        for (int i = 0; i < image.colorCount(); ++i) {
            ASSERT_EQ(image.color(i),
                      qRgb(RedOf(expected[i]), GreenOf(expected[i]), BlueOf(expected[i])))
                << "colour " << i;
        }
        for (int y = 0; y < test.height; ++y) {
            for (int x = 0; x < test.width; ++x) {
                const std::size_t from =
                    static_cast<std::size_t>(y * test.source.height / test.height) *
                        static_cast<std::size_t>(test.source.width) +
                    static_cast<std::size_t>(x * test.source.width / test.width);
                ASSERT_EQ(image.pixelIndex(x, y), test.source.pixels[from])
                    << "at " << x << ", " << y;
            }
        }
    }
}

}  // namespace
}  // namespace varek::test
