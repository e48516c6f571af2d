#include <gtest/gtest.h>

#include <cstdint>

#include "render/ArtImages.h"
#include "render/Naming.h"
#include "support/ErrorKindOf.h"

using namespace varek;
using varek::test::ErrorKindOf;

namespace {

ByteArray WallBytes(std::size_t size)
{
    ByteArray bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 31 + i / 64);
    }
    return bytes;
}

}  // namespace

TEST(WallImage, UnrotatedKeepsTheFileOrderAndUsesOnlyTheFirst4096Bytes)
{
    for (const std::size_t size : {std::size_t{4096}, std::size_t{5000}}) {
        const ByteArray bytes = WallBytes(size);
        const IndexedImage image = BuildWallImage(bytes, false);
        EXPECT_EQ(image.width, 64);
        EXPECT_EQ(image.height, 64);
        EXPECT_EQ(image.pixels, ByteArray(bytes.begin(), bytes.begin() + 4096));
    }
}

TEST(WallImage, RotationTurnsAQuarterClockwise)
{
    // Row r, column c of the file is shown at row c, column 63 - r: byte 0 top-right,
    // byte 63 bottom-right, byte 4032 top-left. Bytes past 4096 are never shown.
    const ByteArray bytes = WallBytes(4200);
    const IndexedImage image = BuildWallImage(bytes, true);
    ASSERT_EQ(image.pixels.size(), 4096u);
    for (int r = 0; r < 64; ++r) {
        for (int c = 0; c < 64; ++c) {
            ASSERT_EQ(image.pixels[c * 64 + (63 - r)], bytes[r * 64 + c]) << r << "," << c;
        }
    }
}

TEST(WallImage, ShortFileIsAnIndexError)
{
    for (const std::size_t size : {0, 1, 64, 4095}) {
        EXPECT_EQ(ErrorKindOf([&] { BuildWallImage(WallBytes(size), false); }),
                  ErrorKind::IndexOutOfRange);
        EXPECT_EQ(ErrorKindOf([&] { BuildWallImage(WallBytes(size), true); }),
                  ErrorKind::IndexOutOfRange);
    }
}

TEST(CelImage, HeaderFieldsPaletteAndPixelsAt800)
{
    IndexedImage image{5, 3, ByteArray(15)};
    for (std::size_t i = 0; i < 15; ++i) {
        image.pixels[i] = static_cast<std::uint8_t>(100 + i);
    }
    PaletteBlock colors{};
    colors[0] = 63;
    colors[767] = 1;
    const ByteArray file = EncodeCelImage(image, colors);
    ASSERT_EQ(file.size(), 815u);
    const CelHeader header = ReadCelHeader(file);
    EXPECT_EQ(header.width, 5);
    EXPECT_EQ(header.height, 3);
    EXPECT_EQ(header.pixelCount, 15);
    EXPECT_EQ(file[800], 100);
    EXPECT_EQ(file[32], 63);
    EXPECT_EQ(BuildCelImage(file), image);
    const Palette palette = DecodePaletteBlock(file, kStillArtBlockOffset).palette;
    EXPECT_EQ(palette[0], 252u);
    EXPECT_EQ(palette[255], MakeColor(0, 0, 4));
}

TEST(CelImage, BadCountsAndShortFilesAreIndexErrors)
{
    const IndexedImage image{5, 3, ByteArray(15, 9)};
    const ByteArray good = EncodeCelImage(image, PaletteBlock{});
    auto withCount = [&](std::int32_t count, std::size_t length) {
        ByteArray file = good;
        StoreU32(file.data() + 12, static_cast<std::uint32_t>(count));
        file.resize(length);
        return file;
    };
    const ByteArray bad[] = {
        withCount(0, 815),
        withCount(-1, 815),
        withCount(14, 815),
        withCount(15, 814),
        withCount(100, 814),
        withCount(15, 800),
        withCount(15, 15),
        ByteArray(1, 0),  // a missing file
        [&] {             // 65535 x 65535 claiming 2^31 - 1 pixels
            ByteArray file = withCount(INT32_MAX, 815);
            StoreU16(file.data() + 2, 65535);
            StoreU16(file.data() + 4, 65535);
            return file;
        }(),
    };
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        EXPECT_EQ(ErrorKindOf([&] { BuildCelImage(bad[i]); }), ErrorKind::IndexOutOfRange)
            << "case " << i;
    }
    // A count above width x height is allowed; the bytes it claims beyond are not needed.
    EXPECT_EQ(BuildCelImage(withCount(100, 815)), image);
}

TEST(SuggestedName, DropsTheLastExtensionAndNumbersFrames)
{
    EXPECT_EQ(SuggestedName("A.B.CEL"), "A.B.bmp");
    EXPECT_EQ(SuggestedName("WALL01.CEL"), "WALL01.bmp");
    EXPECT_EQ(SuggestedName("NODOT"), "NODOT.bmp");
    EXPECT_EQ(SuggestedName("INTRO.FLI", 1), "INTRO-01.bmp");
    EXPECT_EQ(SuggestedName("INTRO.FLI", 9), "INTRO-09.bmp");
    EXPECT_EQ(SuggestedName("INTRO.FLI", 100), "INTRO-100.bmp");
    EXPECT_EQ(SuggestedName("INTRO.FLI", 12, ".png"), "INTRO-12.png");
}
