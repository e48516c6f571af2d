#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

#include "imaging/BmpImage.h"
#include "imaging/Picture.h"
#include "support/ErrorKindOf.h"
#include "support/RecordingReporter.h"
#include "util/ByteReader.h"

using namespace varek;
using varek::test::ErrorKindOf;
using varek::test::RecordingReporter;

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
                                     {7, 2, 1094},      {3, 0, 1078},   {0, 5, 1078}};
    for (const auto& [w, h, fileSize] : sizes) {
        const BmpImage bmp = BuildBmpImage(Noise(w, h, 2), Palette{});
        EXPECT_EQ(bmp.size(), static_cast<std::size_t>(fileSize)) << w << "x" << h;
        EXPECT_EQ(ByteReader(bmp).I32(22), h);
    }
}

TEST(BmpImage, OverflowAndShortPixelsAreRefusedBeforeAnythingIsAllocated)
{
    // 4 x 536870642 needs 2147483646 bytes and fits; one row more passes 2^31 - 1.
    const ByteArray none;
    EXPECT_EQ(ErrorKindOf([&] { BuildBmpImage(4, 536870642, none, Palette{}); }),
              ErrorKind::IndexOutOfRange);
    EXPECT_EQ(ErrorKindOf([&] { BuildBmpImage(4, 536870643, none, Palette{}); }),
              ErrorKind::Overflow);
    EXPECT_EQ(ErrorKindOf([&] { BuildBmpImage(INT32_MAX, 1, none, Palette{}); }),
              ErrorKind::Overflow);
}

TEST(AddBMPHeader, ReportsItsNameAndLeavesTheCallersArrayOnFailure)
{
    const std::int32_t cases[][3] = {{5, 3, 14},       {65535, 65535, 16}, {-1, 3, 16},
                                     {3, -1, 16},      {INT32_MIN, 1, 16}, {1, INT32_MIN, 16},
                                     {320, 200, 63999}};
    for (const auto& [w, h, length] : cases) {
        ByteArray pixels(static_cast<std::size_t>(length));
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = static_cast<std::uint8_t>(i);
        }
        const ByteArray before = pixels;
        RecordingReporter reporter;
        EXPECT_FALSE(AddBMPHeader(w, h, pixels, Ramp(1), reporter)) << w << "x" << h;
        EXPECT_EQ(reporter.messages, std::vector<std::string>{"AddBMPHeader"});
        EXPECT_EQ(pixels, before);
    }
}

TEST(AddBMPHeader, ReplacesThePixelsWithTheImageAndDependsOnlyOnThePalette)
{
    const IndexedImage image = Noise(13, 7, 3);
    ByteArray first = image.pixels;
    ByteArray second = image.pixels;
    RecordingReporter reporter;
    ASSERT_TRUE(AddBMPHeader(13, 7, first, Ramp(0x010101), reporter));
    ASSERT_TRUE(AddBMPHeader(13, 7, second, Ramp(0x030201), reporter));
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(first, BuildBmpImage(image, Ramp(0x010101)));
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
    const BmpImage bad[] = {
        BmpImage(good.begin(), good.end() - 1),
        BmpImage(good.begin(), good.begin() + 29),
        BmpImage(good.begin(), good.begin() + 1077),
        BmpImage{},
        patched(28, 24),          // 24 bits per pixel
        patched(18, 0xFFFFFFFF),  // width -1
        patched(22, 4),           // one row more than stored
        patched(18, 0x7FFFFFFF),  // a width no file can hold
    };
    for (std::size_t i = 0; i < std::size(bad); ++i) {
        EXPECT_NE(ErrorKindOf([&] { ReadBmpPixels(bad[i]); }), std::nullopt) << "case " << i;
    }
}
