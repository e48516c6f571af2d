#pragma once

#include <cstdint>
#include <span>

#include "imaging/IndexedImage.h"
#include "imaging/Palette.h"
#include "util/ByteWriter.h"
#include "util/ErrorReporter.h"

namespace varek {

// A complete 8-bit BMP file in memory: file header, info header, 256-entry
// colour table, rows bottom first, each padded to a multiple of 4 bytes.
using BmpImage = ByteArray;

constexpr std::int32_t kBmpPixelOffset = 1078;  // 14 + 40 + 1024
constexpr std::int32_t kBmpInfoHeaderOffset = 14;

// Width rounded up to a multiple of 4. Width must be 0..2^31-4.
constexpr std::int64_t BmpStride(std::int64_t width) noexcept
{
    return (width + 3) / 4 * 4;
}

// Builds the BMP file image of width x height pixels (top row first, width bytes a
// row) with palette as its colour table. Throws Error: overflow when the file size
// would pass 2^31 - 1 or a dimension is negative, index out of range when pixels
// holds fewer than width * height bytes.
BmpImage BuildBmpImage(std::int32_t width, std::int32_t height,
                       std::span<const std::uint8_t> pixels, const Palette& palette);

inline BmpImage BuildBmpImage(const IndexedImage& image, const Palette& palette)
{
    return BuildBmpImage(image.width, image.height, image.pixels, palette);
}

// Replaces pixels with its BMP file image and returns true. On any failure it
// reports "AddBMPHeader", leaves pixels exactly as passed and returns false.
bool AddBMPHeader(std::int32_t width, std::int32_t height, ByteArray& pixels,
                  const Palette& palette, ErrorReporter& reporter);

}  // namespace varek
