#include "imaging/BmpReader.h"

#include <cstring>
#include <string>

#include "imaging/BmpImage.h"
#include "imaging/DecodedImage.h"
#include "util/ByteReader.h"
#include "util/Error.h"

namespace varek {

IndexedImage ReadBmpPixels(std::span<const std::uint8_t> bmp)
{
    const ByteReader reader(bmp, "the bitmap");
    const std::int32_t width = reader.I32(kBmpWidthOffset);
    const std::int32_t height = reader.I32(kBmpHeightOffset);
    const std::uint16_t bitsPerPixel = reader.U16(kBmpBitsPerPixelOffset);
    if (bitsPerPixel != 8) {
        throw Error(ErrorKind::Unsupported, "the bitmap has " + std::to_string(bitsPerPixel) +
                                                " bits per pixel, only 8 can be shown");
    }
    if (width < 0 || height < 0) {
        throw Error(ErrorKind::Corrupt, "the bitmap gives its size as " + std::to_string(width) +
                                            " x " + std::to_string(height));
    }
    const std::int64_t stride = BmpStride(width);
    reader.Require(kBmpPixelOffset, stride * height);

    IndexedImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const std::uint8_t* base = bmp.data() + kBmpPixelOffset;
    for (std::int64_t y = 0; y < height && width > 0; ++y) {
        std::memcpy(image.pixels.data() + y * width, base + (height - 1 - y) * stride,
                    static_cast<std::size_t>(width));
    }
    return image;
}

}  // namespace varek

namespace varek {

namespace {

constexpr std::uint32_t kBmpInfoHeader = 40;
constexpr std::uint32_t kBmpV4Header = 108;
constexpr std::uint32_t kBmpV5Header = 124;
constexpr std::int32_t kBmpCompressionOffset = 30;
constexpr std::int32_t kBmpColorsUsedOffset = 46;

std::string BmpPlace(std::int64_t x, std::int64_t y)
{
    return "column " + std::to_string(x) + ", row " + std::to_string(y);
}

}  // namespace

DecodedImage ReadBmpImage(std::span<const std::uint8_t> bytes)
{
    const ByteReader reader(bytes, "the bitmap");
    if (reader.U8(0) != 'B' || reader.U8(1) != 'M') {
        throw Error(ErrorKind::Corrupt, "the file is no BMP image");
    }
    const std::uint32_t pixelOffset = reader.U32(kBmpPixelOffsetField);
    const std::uint32_t headerSize = reader.U32(kBmpInfoHeaderSizeOffset);
    if (headerSize != kBmpInfoHeader && headerSize != kBmpV4Header && headerSize != kBmpV5Header) {
        throw Error(ErrorKind::Unsupported, "the bitmap's info header of " +
                                                std::to_string(headerSize) +
                                                " bytes is of a kind not read (40, 108 or 124)");
    }
    const std::int64_t width = reader.I32(kBmpWidthOffset);
    const std::int64_t rawHeight = reader.I32(kBmpHeightOffset);
    const bool topDown = rawHeight < 0;
    const std::int64_t height = topDown ? -rawHeight : rawHeight;
    const std::uint16_t bitsPerPixel = reader.U16(kBmpBitsPerPixelOffset);
    const std::uint32_t compression = reader.U32(kBmpCompressionOffset);
    if (width <= 0 || height <= 0) {
        throw Error(ErrorKind::Corrupt, "the bitmap gives its size as " + std::to_string(width) +
                                            " x " + std::to_string(rawHeight));
    }
    if (width > kMaxDecodedSide || height > kMaxDecodedSide) {
        throw Error(ErrorKind::TooLarge, "the bitmap has more than 4096 pixels a side");
    }
    if (compression != 0) {
        throw Error(ErrorKind::Unsupported,
                    "the bitmap is compressed, only uncompressed ones are read");
    }
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24) {
        throw Error(ErrorKind::Unsupported, "the bitmap has " + std::to_string(bitsPerPixel) +
                                                " bits per pixel, only 1, 4, 8 and 24 are read");
    }
    DecodedImage image;
    image.width = static_cast<std::int32_t>(width);
    image.height = static_cast<std::int32_t>(height);
    if (bitsPerPixel <= 8) {
        const std::uint32_t used = reader.U32(kBmpColorsUsedOffset);
        const std::uint32_t most = 1U << bitsPerPixel;
        if (used > most) {
            throw Error(ErrorKind::Corrupt, "the bitmap's colour table claims " +
                                                std::to_string(used) + " colours for " +
                                                std::to_string(bitsPerPixel) + "-bit pixels");
        }
        const std::uint32_t count = used == 0 ? most : used;
        const std::int64_t tableAt = 14 + static_cast<std::int64_t>(headerSize);
        reader.Require(tableAt, 4 * static_cast<std::int64_t>(count));
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::int64_t at = tableAt + 4 * static_cast<std::int64_t>(i);
            image.colors.push_back(MakeColor(reader.U8(at + 2), reader.U8(at + 1), reader.U8(at)));
        }
    }
    const std::int64_t stride = (width * bitsPerPixel + 31) / 32 * 4;
    reader.Require(pixelOffset, stride * height);
    const std::uint8_t* base = bytes.data() + pixelOffset;
    if (bitsPerPixel == 24) {
        image.rgb.resize(image.PixelCount());
    } else {
        image.indices.resize(image.PixelCount());
    }
    for (std::int64_t y = 0; y < height; ++y) {
        const std::uint8_t* row = base + (topDown ? y : height - 1 - y) * stride;
        for (std::int64_t x = 0; x < width; ++x) {
            const std::size_t pixel = static_cast<std::size_t>(y * width + x);
            if (bitsPerPixel == 24) {
                image.rgb[pixel] = MakeColor(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
                continue;
            }
            const std::int64_t bit = x * bitsPerPixel;
            const int shift = 8 - bitsPerPixel - static_cast<int>(bit % 8);
            const auto index =
                static_cast<std::uint8_t>((row[bit / 8] >> shift) & ((1 << bitsPerPixel) - 1));
            if (index >= image.colors.size()) {
                throw Error(ErrorKind::Corrupt, "the bitmap's pixel at " + BmpPlace(x, y) +
                                                    " uses colour " + std::to_string(index) +
                                                    " of a table of " +
                                                    std::to_string(image.colors.size()));
            }
            image.indices[pixel] = index;
        }
    }
    return image;
}

}  // namespace varek
