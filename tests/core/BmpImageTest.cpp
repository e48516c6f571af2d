#include <gtest/gtest.h>

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

TEST(BmpImage, ColourTableIsBlueGreenRedZero)
{
    Palette palette = Ramp(0x030507);
    palette[7] = MakeColor(252, 128, 4);
    const BmpImage bmp = BuildBmpImage(1, 1, ByteArray{0}, palette);
    EXPECT_EQ(ByteArray(bmp.begin() + 54 + 28, bmp.begin() + 54 + 32), (ByteArray{4, 128, 252, 0}));
    for (std::size_t i = 0; i < 256; ++i) {
        const std::size_t at = 54 + 4 * i;
        ASSERT_EQ(MakeColor(bmp[at + 2], bmp[at + 1], bmp[at]), palette[i]) << i;
        ASSERT_EQ(bmp[at + 3], 0) << i;
    }
}

TEST(BmpImage, FileSizeFollowsTheStride)
{
    const std::int32_t sizes[][3] = {{320, 200, 65078}, {64, 64, 5174}, {1, 1, 1082}, {4, 1, 1082},
                                     {7, 2, 1094},      {3, 0, 1078},   {0, 5, 1078},
                                     {0, INT32_MAX, 1078}};
    for (const auto& [w, h, fileSize] : sizes) {
        const BmpImage bmp = BuildBmpImage(Noise(w, h, 2), Palette{});
        EXPECT_EQ(bmp.size(), static_cast<std::size_t>(fileSize)) << w << "x" << h;
        EXPECT_EQ(ByteReader(bmp).I32(22), h);
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

TEST(BmpImage, TheImageDependsOnlyOnThePixelsAndThePalette)
{
    const IndexedImage image = Noise(13, 7, 3);
    const BmpImage first = BuildBmpImage(image, Ramp(0x010101));
    const BmpImage second = BuildBmpImage(13, 7, image.pixels, Ramp(0x030201));
    // Pixel bytes the size does not take are never read.
    ByteArray longer = image.pixels;
    longer.resize(longer.size() + 50, 0xAB);
    EXPECT_EQ(BuildBmpImage(13, 7, longer, Ramp(0x010101)), first);
    ASSERT_EQ(first.size(), second.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (i < 54 + 4 || i >= 1078) {  // entry 0 is black in both
            ASSERT_EQ(first[i], second[i]) << i;
        }
    }
    EXPECT_NE(ByteArray(first.begin() + 54, first.begin() + 1078),
              ByteArray(second.begin() + 54, second.begin() + 1078));
}

TEST(ReadBmpPixels, InvertsTheBuilder)
{
    const std::int32_t sizes[][2] = {{1, 1}, {5, 3}, {64, 64}, {7, 0}, {0, 4}, {321, 3}};
    for (const auto& [w, h] : sizes) {
        const IndexedImage image = Noise(w, h, static_cast<unsigned>(w * 1000 + h));
        EXPECT_EQ(ReadBmpPixels(BuildBmpImage(image, Ramp(5))), image) << w << "x" << h;
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
