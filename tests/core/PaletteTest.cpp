#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "imaging/Palette.h"
#include "util/ByteWriter.h"

using namespace varek;

namespace {

// 768 + extra bytes after a prefix; entry i holds (i % 64, 63 - i % 64, i / 4).
ByteArray BlockAt(std::size_t prefix, std::size_t extra)
{
    ByteArray bytes(prefix, 0xEE);
    for (int i = 0; i < 256; ++i) {
        bytes.insert(bytes.end(),
                     {static_cast<std::uint8_t>(i % 64), static_cast<std::uint8_t>(63 - i % 64),
                      static_cast<std::uint8_t>(i / 4)});
    }
    bytes.insert(bytes.end(), extra, 0x3F);
    return bytes;
}

ColorValue Expected(int i)
{
    return MakeColor(static_cast<std::uint8_t>(4 * (i % 64)),
                     static_cast<std::uint8_t>(4 * (63 - i % 64)),
                     static_cast<std::uint8_t>(4 * (i / 4)));
}

}  // namespace

TEST(Palette, ColourRuleMultipliesByFourAndCapsAt255)
{
    const int in[] = {0, 1, 63, 64, 255};
    const int out[] = {0, 4, 252, 255, 255};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(VgaComponent(static_cast<std::uint8_t>(in[i])), out[i]) << in[i];
    }
    EXPECT_EQ(VgaColor(63, 0, 0), 252u);
    EXPECT_EQ(VgaColor(1, 32, 64), 0xFF8004u);
    EXPECT_EQ(MakeColor(252, 128, 4), 0x0480FCu);
}

// The block at its offset, what follows ignored; a short source fills what it holds
// and leaves the rest black.
TEST(Palette, DecodesTheBlockAtItsOffsetAsFarAsTheSourceHoldsIt)
{
    const ByteArray full = BlockAt(32, 1000 - 768);
    // Views start at 0 or at the block and end early inside the longer buffer: nothing
    // after the view may be read.
    const struct {
        std::size_t start, viewSize, offset, entries;
    } cases[] = {{0, 1032, 32, 256}, {32, 1000, 0, 256}, {0, 32 + 768, 32, 256},
                 {0, 0, 0, 0},       {0, 1, 0, 0},       {0, 32 + 767, 32, 255},
                 {0, 32 + 5, 32, 1}, {0, 10, 32, 0},     {0, 32, 32, 0}};
    for (const auto& c : cases) {
        const DecodedPalette decoded =
            DecodePaletteBlock(std::span(full.data() + c.start, c.viewSize), c.offset);
        EXPECT_EQ(decoded.entriesRead, c.entries) << c.viewSize << " at " << c.offset;
        for (std::size_t i = 0; i < 256; ++i) {
            ASSERT_EQ(decoded.palette[i], i < c.entries ? Expected(static_cast<int>(i)) : 0u)
                << c.viewSize << " at " << c.offset << " entry " << i;
        }
    }
    PaletteBlock block;
    std::copy_n(full.begin() + 32, block.size(), block.begin());
    EXPECT_EQ(PaletteFromBlock(block), DecodePaletteBlock(block, 0).palette);
}
