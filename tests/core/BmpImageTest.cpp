#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>

#include "imaging/BmpImage.h"
#include "imaging/BmpReader.h"
#include "support/ErrorKindOf.h"
#include "util/ByteReader.h"

using namespace varek;
using varek::test::ErrorKindOf;

namespace {

IndexedImage Noise(std::int32_t width, std::int32_t height, unsigned seed)
{
    std::mt19937 random(seed);
    IndexedImage image{width, height, {}};
    image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (auto& p : image.pixels) {
        p = static_cast<std::uint8_t>(random());
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

}  // namespace

TEST(BmpImage, HeaderFieldsStrideAndPaddingOfAFiveByThreeImage)
{
    const IndexedImage image = Noise(5, 3, 1);
    const BmpImage bmp = BuildBmpImage(image, Ramp(0x010203));
    ASSERT_EQ(bmp.size(), 1102u);
    const ByteReader r(bmp);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    const std::pair<int, std::uint32_t> fields32[] = {{2, 1102}, {10, 1078}, {14, 40}, {18, 5},
                                                      {22, 3},   {30, 0},    {34, 0},  {38, 0},
                                                      {42, 0},   {46, 0},    {50, 0}};
    for (const auto& [offset, value] : fields32) {
        EXPECT_EQ(r.U32(offset), value) << "offset " << offset;
    }
    EXPECT_EQ(r.U32(6), 0u);
    EXPECT_EQ(r.U16(26), 1);
    EXPECT_EQ(r.U16(28), 8);
    for (int row = 0; row < 3; ++row) {  // the top row is stored last
        const std::size_t at = 1102 - static_cast<std::size_t>(row + 1) * 8;
        for (int x = 0; x < 5; ++x) {
            EXPECT_EQ(bmp[at + x], image.pixels[row * 5 + x]) << row << "," << x;
        }
        EXPECT_EQ(r.U16(at + 5), 0) << row;
        EXPECT_EQ(bmp[at + 7], 0) << row;
    }
}

TEST(BmpImage, ColourTableIsBlueGreenRedZeroAndThePaletteChangesNothingElse)
{
    const Palette palette = [] {
        Palette p = Ramp(0x030507);
        p[7] = MakeColor(252, 128, 4);
        return p;
    }();
    const IndexedImage image = Noise(13, 7, 3);
    const BmpImage bmp = BuildBmpImage(image, palette);
    EXPECT_EQ(ByteArray(bmp.begin() + 54 + 28, bmp.begin() + 54 + 32), (ByteArray{4, 128, 252, 0}));
    // Pixel bytes the size does not take are never read.
    ByteArray longer = image.pixels;
    longer.resize(longer.size() + 50, 0xAB);
    const Palette otherPalette = Ramp(0x030201);
    const BmpImage other = BuildBmpImage(13, 7, longer, otherPalette);
    ASSERT_EQ(other.size(), bmp.size());
    EXPECT_TRUE(std::equal(bmp.begin(), bmp.begin() + 54, other.begin()));
    EXPECT_TRUE(std::equal(bmp.begin() + 1078, bmp.end(), other.begin() + 1078));
    for (const auto& [file, colors] :
         {std::pair(&bmp, &palette), std::pair(&other, &otherPalette)}) {
        for (std::size_t i = 0; i < 256; ++i) {
            const std::size_t at = 54 + 4 * i;
            ASSERT_EQ(MakeColor((*file)[at + 2], (*file)[at + 1], (*file)[at]), (*colors)[i]) << i;
            ASSERT_EQ((*file)[at + 3], 0) << i;
        }
    }
}

TEST(BmpImage, FileSizeFollowsTheStrideAndTheReaderGivesThePixelsBack)
{
    const std::int32_t sizes[][3] = {{320, 200, 65078}, {64, 64, 5174}, {1, 1, 1082},
                                     {4, 1, 1082},      {7, 2, 1094},   {321, 3, 2050},
                                     {3, 0, 1078},      {0, 5, 1078},   {0, INT32_MAX, 1078}};
    for (const auto& [w, h, fileSize] : sizes) {
        const IndexedImage image = Noise(w, h, static_cast<unsigned>(w * 1000 + h));
        const BmpImage bmp = BuildBmpImage(image, Ramp(5));
        EXPECT_EQ(bmp.size(), static_cast<std::size_t>(fileSize)) << w << "x" << h;
        EXPECT_EQ(ByteReader(bmp).I32(22), h);
        EXPECT_EQ(ReadBmpPixels(bmp), image) << w << "x" << h;
    }
}

TEST(BmpImage, RefusesNegativeHugeAndUnderfedSizesByKind)
{
    // 4 x 536870642 needs 2147483646 bytes and fits; one row more passes 2^31 - 1.
    const struct {
        std::int32_t width, height;
        std::size_t pixels;
        ErrorKind kind;
    } cases[] = {
        {-1, 3, 16, ErrorKind::Corrupt},         {3, -1, 16, ErrorKind::Corrupt},
        {INT32_MIN, 1, 16, ErrorKind::Corrupt},  {1, INT32_MIN, 16, ErrorKind::Corrupt},
        {4, 536870643, 0, ErrorKind::TooLarge},  {INT32_MAX, 1, 0, ErrorKind::TooLarge},
        {65535, 65535, 16, ErrorKind::TooLarge}, {4, 536870642, 0, ErrorKind::Truncated},
        {5, 3, 14, ErrorKind::Truncated},        {320, 200, 63999, ErrorKind::Truncated},
    };
    for (const auto& c : cases) {
        const ByteArray pixels(c.pixels, 7);
        EXPECT_EQ(ErrorKindOf([&] { BuildBmpImage(c.width, c.height, pixels, Palette{}); }), c.kind)
            << c.width << "x" << c.height << " from " << c.pixels << " bytes";
    }
}

TEST(ReadBmpPixels, RefusesShortOrUnexpectedInput)
{
    const BmpImage good = BuildBmpImage(Noise(5, 3, 4), Palette{});
    auto patched = [&](std::size_t offset, std::uint32_t value) {
        BmpImage bmp = good;
        StoreU32(bmp.data() + offset, value);
        return bmp;
    };
    const struct {
        BmpImage bmp;
        ErrorKind kind;
    } bad[] = {
        {BmpImage(good.begin(), good.end() - 1), ErrorKind::Truncated},
        {BmpImage(good.begin(), good.begin() + 29), ErrorKind::Truncated},
        {BmpImage(good.begin(), good.begin() + 1077), ErrorKind::Truncated},
        {BmpImage{}, ErrorKind::Truncated},
        {patched(22, 4), ErrorKind::Truncated},           // one row more than stored
        {patched(18, 0x7FFFFFFF), ErrorKind::Truncated},  // a width no file can hold
        {patched(28, 24), ErrorKind::Unsupported},        // 24 bits per pixel
        {patched(18, 0xFFFFFFFF), ErrorKind::Corrupt},    // width -1
        {patched(22, 0x80000000), ErrorKind::Corrupt},    // height -2^31
    };
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        EXPECT_EQ(ErrorKindOf([&] { ReadBmpPixels(bad[i].bmp); }), bad[i].kind) << "case " << i;
    }
}
