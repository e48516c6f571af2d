#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "art/Playback.h"
#include "imaging/GifImage.h"
#include "support/ErrorKindOf.h"

using namespace varek;
using varek::test::ErrorKindOf;

namespace {

IndexedImage Noise(std::int32_t width, std::int32_t height, unsigned seed)
{
    std::mt19937 random(seed);
    IndexedImage image{width, height, {}};
    image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (auto& p : image.pixels) {
        p = static_cast<std::uint8_t>(random() % 200);  // leaves indices free for transparency
    }
    return image;
}

Palette Ramp(ColorValue step)
{
    Palette palette;
    for (std::size_t i = 0; i < 256; ++i) {
        palette[i] = static_cast<ColorValue>(i * step) & 0xFFFFFFu;
    }
    return palette;
}

void Paint(IndexedImage& image, int left, int top, int width, int height, std::uint8_t index)
{
    for (int y = top; y < top + height; ++y) {
        for (int x = left; x < left + width; ++x) {
            image.pixels[static_cast<std::size_t>(y * image.width + x)] = index;
        }
    }
}

struct Input {
    IndexedImage image;
    Palette palette;
    std::int64_t delay;
};

// What a GIF decoder shows: giflib reads the file, the frames are laid on the
// canvas here, each within its rectangle and skipping its transparent index.
struct Frame {
    std::vector<ColorValue> canvas;
    GifImageDesc rectangle;
    GraphicsControlBlock control;
    bool hasControl;
};

struct GifCloser {
    void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};

struct Source {
    const ByteArray* bytes;
    std::size_t at = 0;
};

int ReadBytes(GifFileType* gif, GifByteType* into, int length)
{
    auto* source = static_cast<Source*>(gif->UserData);
    const std::size_t n =
        std::min(static_cast<std::size_t>(length), source->bytes->size() - source->at);
    std::memcpy(into, source->bytes->data() + source->at, n);
    source->at += n;
    return static_cast<int>(n);
}

// The application extension that makes a GIF loop for ever: a loop count of 0.
bool LoopsForever(const ByteArray& bytes)
{
    const std::string text("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    const ByteArray loop(text.begin(), text.end());
    return std::search(bytes.begin(), bytes.end(), loop.begin(), loop.end()) != bytes.end();
}

// Decodes bytes and checks on the way that every frame's indices and colours are
// the ones of the input picture it shows.
std::vector<Frame> DecodeAndCheck(const ByteArray& bytes, const std::vector<Input>& shows)
{
    Source source{&bytes};
    int code = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, ReadBytes, &code));
    EXPECT_NE(gif, nullptr) << code;
    if (gif == nullptr || DGifSlurp(gif.get()) != GIF_OK) {
        ADD_FAILURE() << "giflib cannot read the file";
        return {};
    }
    EXPECT_EQ(gif->ImageCount, static_cast<int>(shows.size()));
    std::vector<ColorValue> canvas(static_cast<std::size_t>(gif->SWidth * gif->SHeight),
                                   0xFFFFFFFF);
    std::vector<Frame> frames;
    for (int f = 0; f < gif->ImageCount && f < static_cast<int>(shows.size()); ++f) {
        const SavedImage& saved = gif->SavedImages[f];
        const GifImageDesc& d = saved.ImageDesc;
        const ColorMapObject* map = d.ColorMap != nullptr ? d.ColorMap : gif->SColorMap;
        const Input& show = shows[static_cast<std::size_t>(f)];
        Frame frame{{}, d, {}, false};
        frame.control.TransparentColor = NO_TRANSPARENT_COLOR;
        frame.hasControl = DGifSavedExtensionToGCB(gif.get(), f, &frame.control) == GIF_OK;
        EXPECT_EQ(map->ColorCount, 256) << "frame " << f;
        for (int i = 0; i < map->ColorCount; ++i) {
            const GifColorType c = map->Colors[i];
            EXPECT_EQ(MakeColor(c.Red, c.Green, c.Blue), show.palette[static_cast<std::size_t>(i)])
                << "frame " << f << " colour " << i;
        }
        for (int y = 0; y < d.Height; ++y) {
            for (int x = 0; x < d.Width; ++x) {
                const int index = saved.RasterBits[y * d.Width + x];
                const auto at = static_cast<std::size_t>((d.Top + y) * gif->SWidth + d.Left + x);
                if (index != frame.control.TransparentColor) {
                    EXPECT_EQ(index, show.image.pixels[at]) << "frame " << f;
                    canvas[at] = show.palette[static_cast<std::size_t>(index)];
                }
            }
        }
        frame.canvas = canvas;
        frames.push_back(frame);
    }
    return frames;
}

std::vector<ColorValue> ColorsOf(const Input& input)
{
    std::vector<ColorValue> colors;
    for (std::uint8_t index : input.image.pixels) {
        colors.push_back(input.palette[index]);
    }
    return colors;
}

}  // namespace

TEST(GifImage, AnimationShowsEveryPictureExactlyInFewFrames)
{
    const Palette first = Ramp(0x010203);
    Palette second = first;  // indices 50 and up keep their colours
    for (std::size_t i = 0; i < 50; ++i) {
        second[i] = 0xFFFFFFu - static_cast<ColorValue>(i);
    }
    const IndexedImage a = Noise(40, 30, 1);
    IndexedImage b = a;
    Paint(b, 5, 7, 10, 4, 250);
    IndexedImage c = b;
    Paint(c, 30, 20, 3, 9, 251);
    // The same pixels in other colours, shown twice: one frame of the two delays.
    const Input pictures[] = {{a, first, 7},   {b, first, 7},      {c, second, 10},
                              {c, second, 20}, {b, first, 70'000}, {a, first, 4}};
    GifWriter writer(40, 30);
    for (const Input& p : pictures) {
        writer.AddPicture(p.image, p.palette, p.delay);
    }
    const ByteArray bytes = writer.Finish();

    // 70000 hundredths pass what a frame holds: one more frame repaints one pixel.
    const std::vector<Input> shows = {pictures[0], pictures[1], pictures[2],
                                      pictures[4], pictures[4], pictures[5]};
    const std::vector<Frame> frames = DecodeAndCheck(bytes, shows);
    ASSERT_EQ(frames.size(), shows.size());
    const std::int64_t delays[] = {7, 7, 30, 65535, 70'000 - 65535, 4};
    for (std::size_t f = 0; f < frames.size(); ++f) {
        EXPECT_EQ(frames[f].canvas, ColorsOf(shows[f])) << "frame " << f;
        EXPECT_TRUE(frames[f].hasControl) << "frame " << f;
        EXPECT_EQ(frames[f].control.DelayTime, delays[f]) << "frame " << f;
        EXPECT_EQ(frames[f].control.DisposalMode, DISPOSE_DO_NOT) << "frame " << f;
    }
    EXPECT_TRUE(LoopsForever(bytes));
    // Only what changed is stored, the rest of its rectangle transparent.
    const GifImageDesc& changed = frames[1].rectangle;
    EXPECT_EQ((std::vector{changed.Left, changed.Top, changed.Width, changed.Height}),
              (std::vector{5, 7, 10, 4}));
    EXPECT_EQ(frames[1].rectangle.ColorMap, nullptr);
    EXPECT_NE(frames[2].rectangle.ColorMap, nullptr);
    EXPECT_NE(frames[2].control.TransparentColor, NO_TRANSPARENT_COLOR);
}

TEST(GifImage, StillPictureAndRefusals)
{
    const Input still{Noise(7, 5, 3), Ramp(0x050301), 0};
    const ByteArray bytes = EncodeGifImage(still.image, still.palette);
    const std::vector<Frame> frames = DecodeAndCheck(bytes, {still});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].canvas, ColorsOf(still));
    EXPECT_FALSE(frames[0].hasControl);
    EXPECT_FALSE(LoopsForever(bytes));

    const Palette palette = Ramp(1);
    EXPECT_EQ(ErrorKindOf([] { GifWriter(0, 5); }), ErrorKind::Unsupported);
    EXPECT_EQ(ErrorKindOf([] { GifWriter(65536, 1); }), ErrorKind::TooLarge);
    EXPECT_EQ(ErrorKindOf([] { GifWriter(3, 2).Finish(); }), ErrorKind::NotFound);
    GifWriter writer(3, 2);
    EXPECT_EQ(ErrorKindOf([&] { writer.AddPicture(Noise(2, 3, 1), palette, 1); }),
              ErrorKind::Unsupported);
    EXPECT_EQ(ErrorKindOf([&] {
                  writer.AddPicture(IndexedImage{3, 2, {1, 2}}, palette, 1);
              }),
              ErrorKind::Truncated);
    writer.AddPicture(Noise(3, 2, 1), palette, 1);
    writer.Finish();
    EXPECT_EQ(ErrorKindOf([&] { writer.AddPicture(Noise(3, 2, 1), palette, 1); }),
              ErrorKind::CannotWrite);
}

// Given an output, the writer hands the file on in pieces as it is made: the same
// bytes, never the whole file at once, and an output's fault ends the writing.
TEST(GifImage, OutputTakesTheFileInPiecesAndItsFaultsComeOut)
{
    const Palette palette = Ramp(0x030201);
    std::vector<IndexedImage> pictures;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        pictures.push_back(Noise(200, 200, seed));
    }
    GifWriter whole(200, 200);
    std::vector<ByteArray> pieces;
    GifWriter streamed(200, 200, [&](std::span<const std::uint8_t> bytes) {
        pieces.emplace_back(bytes.begin(), bytes.end());
    });
    for (const IndexedImage& picture : pictures) {
        whole.AddPicture(picture, palette, 5);
        streamed.AddPicture(picture, palette, 5);
    }
    const ByteArray expected = whole.Finish();
    EXPECT_TRUE(streamed.Finish().empty());
    ByteArray joined;
    for (const ByteArray& piece : pieces) {
        EXPECT_LT(piece.size(), expected.size() / 2);
        joined.insert(joined.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(joined, expected);

    GifWriter failing(200, 200, [](std::span<const std::uint8_t>) {
        throw Error(ErrorKind::CannotWrite, "the disk is full");
    });
    EXPECT_EQ(ErrorKindOf([&] {
                  for (const IndexedImage& picture : pictures) {
                      failing.AddPicture(picture, palette, 5);
                  }
                  failing.Finish();
              }),
              ErrorKind::CannotWrite);
}

// Browsers show a GIF frame under 2 hundredths for 10: a picture that short gives
// way to the next, which shows for both, so that no frame is short, the file's
// total time stays exact and each frame ends when the picture it shows ends.
TEST(GifImage, NoFrameIsShorterThanTwoHundredths)
{
    struct Case {
        const char* what;
        FrameDuration each;
        std::size_t pictures;
        std::size_t merged;
    };
    const Case cases[] = {
        // 1.43 hundredths a picture: delays 1, 2, 1, 2, 1, 2, 1, 1, 2 ... 11 frames
        // of 2 and 3 for the first 20 pictures; the last, 1 hundredth, takes the
        // frame of the one before.
        {"speed 1", kFliTick, 21, 10},
        {"speed 2", 2 * kFliTick, 21, 0},
        {"speed 5", 5 * kFliTick, 21, 0},
        {"15 ms", 15 * kFlcMillisecond, 9, 4},
        {"two pictures, one frame", kFliTick, 2, 1},
    };
    const Palette palette = Ramp(0x010101);
    for (const Case& c : cases) {
        std::vector<PictureFrames> timing;
        for (std::size_t i = 0; i < c.pictures; ++i) {
            timing.push_back({static_cast<std::int32_t>(i + 1), 1, c.each});
        }
        const std::vector<std::int64_t> delays = ComputeGifDelays(timing);
        GifWriter writer(4, 3);
        std::vector<std::int64_t> ends;  // of each picture, in whole hundredths
        for (std::size_t i = 0; i < c.pictures; ++i) {
            writer.AddPicture(IndexedImage{4, 3, std::vector<std::uint8_t>(12, std::uint8_t(i))},
                              palette, delays[i]);
            ends.push_back((ends.empty() ? 0 : ends.back()) + delays[i]);
        }
        const ByteArray bytes = writer.Finish();
        EXPECT_EQ(writer.MergedPictures(), c.merged) << c.what;

        Source source{&bytes};
        int code = 0;
        std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, ReadBytes, &code));
        ASSERT_TRUE(gif != nullptr && DGifSlurp(gif.get()) == GIF_OK) << c.what;
        ASSERT_EQ(static_cast<std::size_t>(gif->ImageCount), c.pictures - c.merged) << c.what;
        std::int64_t end = 0;
        for (int f = 0; f < gif->ImageCount; ++f) {
            GraphicsControlBlock control{};
            const std::size_t shows = gif->SavedImages[f].RasterBits[0];
            if (gif->ImageCount == 1) {
                EXPECT_EQ(shows, c.pictures - 1) << c.what;
                break;
            }
            ASSERT_EQ(DGifSavedExtensionToGCB(gif.get(), f, &control), GIF_OK);
            EXPECT_GE(control.DelayTime, 2) << c.what << " frame " << f;
            end += control.DelayTime;
            EXPECT_EQ(end, ends[shows]) << c.what << " frame " << f;
        }
        if (gif->ImageCount > 1) {
            EXPECT_EQ(end, ends.back()) << c.what;
        }
    }
}
