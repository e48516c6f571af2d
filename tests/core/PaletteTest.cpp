#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/Palette.h"
#include "imaging/PaletteFile.h"
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
    // Back to the level for the values the rule gives; 255 stands for 64 and up.
    for (int level = 0; level < 64; ++level) {
        EXPECT_EQ(VgaLevelOf(VgaComponent(static_cast<std::uint8_t>(level))), level);
    }
    EXPECT_EQ(VgaLevelOf(255), 64);
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

namespace {

// The 256 colours as an image editor reads each format: GIMP skips its header
// lines, comments and the name after the three numbers; JASC checks its three
// header lines; an Adobe table is 768 bytes of red, green and blue.
std::vector<ColorValue> ReadAsEditor(const ByteArray& bytes, PaletteFileFormat format)
{
    std::vector<ColorValue> colors;
    if (format == PaletteFileFormat::Adobe) {
        for (std::size_t i = 0; i + 2 < bytes.size(); i += 3) {
            colors.push_back(MakeColor(bytes[i], bytes[i + 1], bytes[i + 2]));
        }
        return bytes.size() == 768 ? colors : std::vector<ColorValue>{};
    }
    std::istringstream text(std::string(bytes.begin(), bytes.end()));
    std::string line;
    std::vector<std::string> header;
    const std::size_t headerLines = format == PaletteFileFormat::Gimp ? 1 : 3;
    while (std::getline(text, line)) {
        if (format == PaletteFileFormat::Jasc) {
            if (line.empty() || line.back() != '\r') {
                return {};
            }
            line.pop_back();
        }
        if (header.size() < headerLines) {
            header.push_back(line);
            continue;
        }
        if (format == PaletteFileFormat::Gimp &&
            (line.rfind("Name:", 0) == 0 || line.rfind("Columns:", 0) == 0 || line[0] == '#')) {
            continue;
        }
        std::istringstream fields(line);
        int r = -1, g = -1, b = -1;
        fields >> r >> g >> b;
        if (!fields || r < 0 || r > 255 || g < 0 || g > 255 || b < 0 || b > 255) {
            return {};
        }
        colors.push_back(MakeColor(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                   static_cast<std::uint8_t>(b)));
    }
    const std::vector<std::string> expected =
        format == PaletteFileFormat::Gimp ? std::vector<std::string>{"GIMP Palette"}
                                          : std::vector<std::string>{"JASC-PAL", "0100", "256"};
    return header == expected ? colors : std::vector<ColorValue>{};
}

}  // namespace

// Each format, chosen by the file's extension, holds all 256 colours in index order.
TEST(PaletteFile, EditorsReadEveryColourBackInItsFormat)
{
    Palette palette;
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        palette[i] = Expected(static_cast<int>(i));
    }
    palette[255] = MakeColor(255, 0, 255);
    const struct {
        const char* fileName;
        PaletteFileFormat format;
    } cases[] = {{"a.gpl", PaletteFileFormat::Gimp},        {"B.GPL", PaletteFileFormat::Gimp},
                 {"no-extension", PaletteFileFormat::Gimp}, {"c.pal", PaletteFileFormat::Jasc},
                 {"D.Pal", PaletteFileFormat::Jasc},        {"e.act", PaletteFileFormat::Adobe}};
    for (const auto& c : cases) {
        const PaletteFileFormat format = PaletteFileFormatOf(c.fileName);
        EXPECT_EQ(format, c.format) << c.fileName;
        const ByteArray bytes = EncodePaletteFile(palette, format);
        EXPECT_EQ(ReadAsEditor(bytes, format),
                  std::vector<ColorValue>(palette.Colors.begin(), palette.Colors.end()))
            << c.fileName;
    }
}
