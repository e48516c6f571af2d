#pragma once

#include <cstdint>
#include <span>

#include "imaging/IndexedImage.h"
#include "imaging/Palette.h"
#include "util/ByteWriter.h"

namespace varek {

// A complete 8-bit BMP file in memory: file header, info header, 256-entry
// colour table, rows bottom first, each padded to a multiple of 4 bytes.
using BmpImage = ByteArray;

// Where the builder puts each field: a 14-byte file header, a 40-byte info header,
// the 256-entry colour table, then the rows.
constexpr std::int32_t kBmpFileSizeOffset = 2;
constexpr std::int32_t kBmpPixelOffsetField = 10;
constexpr std::int32_t kBmpInfoHeaderSizeOffset = 14;
constexpr std::int32_t kBmpWidthOffset = 18;
constexpr std::int32_t kBmpHeightOffset = 22;
constexpr std::int32_t kBmpPlanesOffset = 26;
constexpr std::int32_t kBmpBitsPerPixelOffset = 28;
constexpr std::int32_t kBmpColorTableOffset = 54;
constexpr std::int32_t kBmpPixelOffset = 1078;  // 14 + 40 + 1024

// Width rounded up to a multiple of 4. Width must be 0..2^31-4.
constexpr std::int64_t BmpStride(std::int64_t width) noexcept
{
    return (width + 3) / 4 * 4;
}

// Builds the BMP file image of width x height pixels (top row first, width bytes a
// row) with palette as its colour table. Throws Error: TooLarge when the file size
// would pass 2^31 - 1, Corrupt for a negative dimension, Truncated when pixels
// holds fewer than width * height bytes.
BmpImage BuildBmpImage(std::int32_t width, std::int32_t height,
                       std::span<const std::uint8_t> pixels, const Palette& palette);

inline BmpImage BuildBmpImage(const IndexedImage& image, const Palette& palette)
{
    return BuildBmpImage(image.width, image.height, image.pixels, palette);
}

}  // namespace varek
