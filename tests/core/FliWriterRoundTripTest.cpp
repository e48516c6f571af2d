#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <tuple>

#include "fli/FliWriter.h"
#include "fli/FliDecoder.h"
#include "support/FliFixtures.h"
#include "util/ByteReader.h"

using namespace varek;
using namespace varek::test;

namespace {

PaletteBlock Colors(int step)
{
    PaletteBlock block{};
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>((i * static_cast<std::size_t>(step)) % 64);
    }
    return block;
}

AnimationFrame Drawn(const std::function<int(int x, int y)>& pixelAt, const PaletteBlock& colors)
{
    AnimationFrame frame;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 320; ++x) {
            frame.pixels[static_cast<std::size_t>(y * 320 + x)] =
                static_cast<std::uint8_t>(pixelAt(x, y));
        }
    }
    frame.colors = colors;
    return frame;
}

AnimationFrame Changed(AnimationFrame frame, std::initializer_list<std::pair<int, int>> changes)
{
    for (const auto& [at, value] : changes) {
        frame.pixels[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
    }
    return frame;
}

struct Animation {
    std::string name;
    std::vector<AnimationFrame> frames;
};

std::vector<Animation> Animations()
{
    std::mt19937 random(7);
    auto noise = [&](int, int) { return static_cast<int>(random() & 0xFF); };
    const PaletteBlock a = Colors(5);
    const PaletteBlock b = Colors(11);
    const AnimationFrame gradient = Drawn([](int x, int y) { return x + y; }, a);
    const AnimationFrame zero = Drawn([](int, int) { return 0; }, a);

    AnimationFrame sparse = gradient;
    std::vector<AnimationFrame> sparseFrames{sparse};
    for (int k = 0; k < 4; ++k) {
        for (int n = 0; n < 60; ++n) {
            sparse.pixels[random() % kFramePixels] = static_cast<std::uint8_t>(random());
        }
        sparseFrames.push_back(sparse);
    }
    PaletteBlock partial = a;
    for (int i = 30; i < 63; ++i) {
        partial[static_cast<std::size_t>(i)] = 63;
    }
    PaletteBlock last = partial;
    last[767] = 1;
    PaletteBlock first = b;
    first[0] = 60;

    const AnimationFrame flat = Drawn([](int, int) { return 3; }, a);
    return {
        {"noise", {Drawn(noise, a), Drawn(noise, a), Drawn(noise, b)}},
        {"gradients",
         {gradient, Drawn([](int x, int y) { return x * 2 + y; }, a),
          Drawn([](int x, int) { return x / 2; }, a), Drawn([](int, int y) { return y; }, a)}},
        {"sparse", sparseFrames},
        {"identical", {gradient, gradient, gradient}},
        {"zero", {gradient, zero, zero, gradient}},
        {"zero first", {zero, zero, gradient}},
        {"palettes",
         {gradient, Drawn([](int x, int y) { return x + y; }, partial),
          Drawn([](int x, int y) { return x + y; }, last),
          Drawn([](int x, int y) { return x + y; }, b),
          Drawn([](int x, int y) { return x + y; }, first)}},
        {"alternating",
         {Drawn([](int x, int y) { return (x + y) % 2 ? 17 : 201; }, a),
          Drawn([](int x, int y) { return (x + y) % 2 ? 201 : 17; }, a),
          Drawn([](int x, int y) { return (x + y) % 2 ? 17 : 201; }, a)}},
        {"long gaps",
         {flat, Changed(flat, {{7 * 320, 9}, {7 * 320 + 300, 9}, {8 * 320 + 319, 9}, {63999, 9}}),
          Changed(flat, {{319, 4}}), Changed(flat, {{199 * 320, 4}, {0, 5}}),
          Changed(flat, {{300, 1}, {301, 1}, {302, 1}, {303, 2}, {304, 1}, {600, 8}})}},
    };
}

}  // namespace

TEST(FliWriterRoundTrip, EveryFrameDecodesToTheFrameWritten)
{
    std::set<int> chunkTypes;
    for (const Animation& animation : Animations()) {
        SCOPED_TRACE(animation.name);
        for (const FliFrameData& frame : EncodeAnimation(animation.frames)) {
            ASSERT_FALSE(frame.chunks.empty());
            for (const FliChunkData& chunk : frame.chunks) {
                chunkTypes.insert(chunk.type);
            }
        }
        ByteArray file = WriteAnimation(animation.frames);
        const std::size_t count = animation.frames.size();
        ASSERT_EQ(ByteReader(file).U32(0), file.size());
        ASSERT_EQ(ByteReader(file).U16(6), count);

        FrameStore store;
        const FliLoad load = DecodeFLIFile(file, store);
        EXPECT_TRUE(load.complete());
        EXPECT_TRUE(load.lineFaults.empty());
        ASSERT_EQ(store.size(), count + 1);
        EXPECT_EQ(store[0], FrameRecord{});
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_TRUE(std::ranges::equal(store[i + 1].Pixels, animation.frames[i].pixels))
                << "frame " << i + 1;
            EXPECT_EQ(store[i + 1].Colors, PaletteFromBlock(animation.frames[i].colors))
                << "frame " << i + 1;
        }

        // The ring frame after the last turns it back into the first.
        StoreU16(file.data() + 6, static_cast<std::uint16_t>(count + 1));
        DecodeFLIFile(file, store);
        ASSERT_EQ(store.size(), count + 2);
        EXPECT_TRUE(std::ranges::equal(store[count + 1].Pixels, animation.frames[0].pixels));
        EXPECT_EQ(store[count + 1].Colors, PaletteFromBlock(animation.frames[0].colors));
    }
    EXPECT_EQ(chunkTypes, (std::set<int>{FLI_COLOR, FLI_LC, FLI_BLACK, FLI_BRUN, FLI_COPY}));
}

TEST(FliWriterRoundTrip, FileLayoutOfHandChosenChunks)
{
    const ByteArray color = Payload().U16(1).U8({2, 1, 63, 0, 31});
    const FliFrameData ringFrame{{Chunk(FLI_BLACK)}};
    const std::vector<FliFrameData> frames{
        {{Chunk(FLI_COLOR, color), Chunk(FLI_BRUN, BrunFill(6))}}, {}, {{Chunk(99, {1, 2, 3})}}};
    const ByteArray file = WriteFLIFile(frames, 7, &ringFrame);
    const std::uint32_t frame1 = 16 + 6 + 7 + 6 + 1400;
    ASSERT_EQ(file.size(), 128 + frame1 + 16 + 25 + 22);
    const ByteReader r(file);
    // (record, offset in it, width, value): the file header, the first frame with its two
    // chunk headers, the empty frame, the frame holding one other chunk, and the ring.
    const auto size = static_cast<std::uint32_t>(file.size());
    const std::uint32_t f2 = 128 + frame1;
    const std::uint32_t ring = size - 22;
    const std::uint32_t fields[][4] = {
        {0, 0, 4, size},         {0, 4, 2, 0xAF11},   {0, 6, 2, 3},
        {0, 8, 2, 320},          {0, 10, 2, 200},     {0, 12, 2, 8},
        {0, 16, 2, 7},           {128, 0, 4, frame1}, {128, 4, 2, 0xF1FA},
        {128, 6, 2, 2},          {128, 16, 4, 13},    {128, 20, 2, FLI_COLOR},
        {128, 22, 2, 1},         {128, 29, 4, 1406},  {128, 33, 2, FLI_BRUN},
        {f2, 0, 4, 16},          {f2, 6, 2, 0},       {f2, 16, 4, 25},
        {f2, 22, 2, 1},          {f2, 32, 4, 9},      {f2, 36, 2, 99},
        {ring, 0, 4, 22},        {ring, 6, 2, 1},     {ring, 16, 4, 6},
        {ring, 20, 2, FLI_BLACK}};
    for (const auto& [record, offset, width, value] : fields) {
        const std::uint32_t at = record + offset;
        EXPECT_EQ(width == 2 ? r.U16(at) : r.U32(at), value) << "offset " << at;
    }

    FrameStore store;
    EXPECT_TRUE(DecodeFLIFile(file, store).complete());
    ASSERT_EQ(store.size(), 2u);
    FrameRecord expected;
    std::ranges::fill(expected.Pixels, 6);
    expected.Colors[2] = MakeColor(252, 0, 124);
    EXPECT_EQ(store[1], expected);

    EXPECT_EQ(WriteAnimation({}).size(), 128u);
    EXPECT_TRUE(EncodeColorChunk(Colors(3), Colors(3)).empty());
    EXPECT_EQ(EncodeLCChunk(FramePixels{}, FramePixels{}), (ByteArray{0, 0, 0, 0}));
}

// FLC: the header's 32-bit speed and frame offsets past a prefix chunk, a frame's
// own delay; the delta chunk's words, which FFmpeg cannot check at odd widths.
TEST(FliWriterRoundTrip, FlcFileLayoutAndDeltaWords)
{
    FlcHeader header;
    header.width = 3;
    header.height = 2;
    header.speed = 100000;
    header.prefix = ByteArray{1, 2, 3, 4};
    FliFrameData delayed{{Chunk(FlcWriterChunk::kBlack)}};
    delayed.delay = 250;
    const std::vector<FliFrameData> frames{{{Chunk(FlcWriterChunk::kCopy, ByteArray(6, 1))}},
                                           delayed};
    const ByteArray file = WriteFLCFile(header, frames, &frames[0]);
    const std::uint32_t f1 = 128 + 10;
    const std::uint32_t f2 = f1 + 28;
    const ByteReader r(file);
    const std::uint32_t fields[][3] = {
        {0, 4, static_cast<std::uint32_t>(file.size())},
        {4, 2, 0xAF12},
        {6, 2, 2},
        {8, 2, 3},
        {10, 2, 2},
        {12, 2, 8},
        {16, 4, 100000},
        {80, 4, f1},
        {84, 4, f2},
        {128, 4, 10},
        {132, 2, 0xF100},
        {f1 + 4, 2, 0xF1FA},
        {f1 + 20, 2, FlcWriterChunk::kCopy},
        {f2 + 4, 2, 0xF1FA},
        {f2 + 8, 2, 250},
        {f2 + 22, 4, 28},  // the ring frame, as the first
    };
    for (const auto& [at, width, value] : fields) {
        EXPECT_EQ(width == 2 ? r.U16(at) : r.U32(at), value) << "offset " << at;
    }

    // (width, height, previous, picture, payload): a last pixel alone, after a
    // line skip, with a run of pairs; an unchanged picture; a line the width of one pixel.
    const struct {
        std::int32_t width, height;
        ByteArray previous, picture, payload;
    } deltas[] = {
        {3, 1, {0, 0, 0}, {0, 0, 7}, {1, 0, 7, 0x80, 0, 0}},
        {3, 3, ByteArray(9), {0, 0, 0, 0, 0, 0, 5, 6, 0}, {1, 0, 0xFE, 0xFF, 1, 0, 0, 1, 5, 6}},
        {5, 1, ByteArray(5), {4, 4, 4, 4, 9}, {1, 0, 9, 0x80, 1, 0, 0, 0xFE, 4, 4}},
        {4, 2, ByteArray(8, 3), ByteArray(8, 3), {0, 0}},
        {1, 2, {1, 2}, {1, 5}, {1, 0, 0xFF, 0xFF, 5, 0x80, 0, 0}},
    };
    for (const auto& d : deltas) {
        EXPECT_EQ(
            EncodeFlcDeltaChunk({d.width, d.height, d.previous}, {d.width, d.height, d.picture}),
            d.payload)
            << d.width << " x " << d.height;
    }
}

// The FLC writer and the decoder agree at sizes FFmpeg cannot check: odd widths,
// where each changed line may end in the last-pixel word, one pixel, and the
// widest frame. Every picture and its 8-bit colours come back as written.
TEST(FliWriterRoundTrip, FlcFramesOfAnySizeDecodeToTheFramesWritten)
{
    for (const auto& [width, height] : {std::pair{1, 1}, {33, 7}, {641, 3}, {4096, 2}, {3, 130}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        std::mt19937 random(static_cast<unsigned>(width * 31 + height));
        const std::size_t pixels =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        PaletteBlock colors{};
        for (std::size_t i = 0; i < colors.size(); ++i) {
            colors[i] = static_cast<std::uint8_t>(random());
        }
        FlcAnimationFrame frame{IndexedImage{width, height, std::vector<std::uint8_t>(pixels)},
                                colors};
        std::vector<FlcAnimationFrame> frames;
        for (int k = 0; k < 6; ++k) {
            if (k == 1) {
                for (auto& pixel : frame.picture.pixels) {
                    pixel = static_cast<std::uint8_t>(random());
                }
            } else if (k == 3) {
                frame.picture.pixels.back() ^= 0x5A;  // the last pixel of the last line alone
            } else if (k == 4) {
                frame.colors[767] ^= 0xFF;
                for (int n = 0; n < 5; ++n) {
                    frame.picture.pixels[random() % pixels] = static_cast<std::uint8_t>(random());
                }
            } else if (k == 5) {
                std::fill(frame.picture.pixels.begin(), frame.picture.pixels.end(), 0);
            }
            frame.delay = static_cast<std::uint16_t>(k * 10);
            frames.push_back(frame);  // k == 2: unchanged
        }

        FrameStore store;
        const FliLoad load = DecodeFLIFile(WriteFlcAnimation(frames), store);
        EXPECT_TRUE(load.complete()) << (load.stop ? load.stop->what() : "");
        EXPECT_TRUE(load.lineFaults.empty());
        ASSERT_GE(store.size(), frames.size() + 1);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const FrameRecord& record = store[i + 1];
            ASSERT_EQ(record.Width, width);
            ASSERT_EQ(record.Height, height);
            EXPECT_TRUE(std::ranges::equal(record.Pixels, frames[i].picture.pixels))
                << "frame " << i + 1;
            for (std::size_t c = 0; c < 256; ++c) {
                const auto* rgb = &frames[i].colors[c * 3];
                ASSERT_EQ(record.Colors[c], MakeColor(rgb[0], rgb[1], rgb[2]))
                    << "frame " << i + 1 << " colour " << c;
            }
        }
    }
}
