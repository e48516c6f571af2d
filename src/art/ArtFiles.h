#pragma once

#include <cstdint>
#include <span>

#include "fli/FrameStore.h"
#include "imaging/IndexedImage.h"
#include "imaging/Palette.h"

namespace varek {

constexpr std::int32_t kWallSize = 64;
constexpr std::size_t kWallBytes = 64 * 64;

// A wall or sprite: 64 rows of 64 palette indices, row 0 first, no header. Only
// the first 4096 bytes are used. With rotate set the image is turned a quarter
// turn clockwise: the file's row r, column c is shown at row c, column 63 - r.
// Throws a Truncated Error for a file shorter than 4096 bytes.
IndexedImage BuildWallImage(std::span<const std::uint8_t> bytes, bool rotate);

// The fields of a still picture's header that are read.
struct CelHeader {
    std::uint16_t width = 0;      // offset 2
    std::uint16_t height = 0;     // offset 4
    std::int32_t pixelCount = 0;  // offset 12
};

constexpr std::size_t kCelHeaderSize = 32;
constexpr std::size_t kCelPixelOffset = 800;  // header, then the 768-byte colour block

// Throws a Truncated Error when the 16 header bytes are not there.
CelHeader ReadCelHeader(std::span<const std::uint8_t> bytes);

// A still picture: width x height pixels at offset 800, top row first. Its own
// colour block at offset 32 is read by DecodePaletteBlock, not here. Throws Error:
// Corrupt when the pixel count is not positive or is below width x height,
// Truncated when the file holds fewer than width x height pixel bytes. Pixel bytes beyond width x
// height, which the count may claim, are not needed and not read.
IndexedImage BuildCelImage(std::span<const std::uint8_t> bytes);

// A 320 x 200 animation frame as an image; its colours are record.Colors.
IndexedImage FrameImage(const FrameRecord& record);

}  // namespace varek
