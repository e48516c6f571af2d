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

// A pixel's column x and row y.
struct PixelPlace {
    std::int32_t x = 0;
    std::int32_t y = 0;

    bool operator==(const PixelPlace&) const = default;
};

// Where the pixel shown at place of a wall built by BuildWallImage lies in the
// file: undoes the turn when rotated.
constexpr PixelPlace WallFilePixel(PixelPlace shown, bool rotated) noexcept
{
    return rotated ? PixelPlace{shown.y, kWallSize - 1 - shown.x} : shown;
}

// The fields of a still picture's header that are read.
struct CelHeader {
    std::uint16_t width = 0;       // offset 2
    std::uint16_t height = 0;      // offset 4
    std::uint32_t pixelCount = 0;  // offset 12
};

constexpr std::size_t kCelHeaderSize = 32;
constexpr std::size_t kCelPixelOffset = 800;  // header, then the 768-byte colour block

// The most pixels a still picture may have: 4096 x 4096, 16 MiB. The game's
// pictures fill at most its 320 x 200 screen, 64,000 pixels, so the limit is 262
// times any real one; what it bounds is what a hostile header could make the
// programs take, since a header may ask for 65535 x 65535 (4 GiB), which the file
// read, the image, its BMP and the window's copy would each hold again.
constexpr std::int64_t kMaxStillPixels = std::int64_t{4096} * 4096;

// Throws a Truncated Error when the 16 header bytes are not there, an Unsupported
// one naming the format when bytes (its first 134 or more) are an FLI or FLC file.
CelHeader ReadCelHeader(std::span<const std::uint8_t> bytes);

// Whether bytes (the first 134 or more of a file where a still picture belongs)
// are an FLC file: the later authoring program's still pictures are FLCs whose
// first frame is the picture.
bool IsFlcStill(std::span<const std::uint8_t> bytes);

// How many bytes of the file the still picture with this header uses: the 800
// before its pixels and width x height pixels. Throws Error: Corrupt for a width
// or height of 0 (a picture without pixels, which no image file holds) and when
// the pixel count is 0 or below width x height, TooLarge past
// kMaxStillPixels.
std::int64_t CelFileBytesUsed(const CelHeader& header);

// A still picture: width x height pixels at offset 800, top row first. Its own
// colour block at offset 32 is read by DecodePaletteBlock, not here. Throws Error:
// as CelFileBytesUsed, and Truncated when the file holds fewer than width x height
// pixel bytes. Pixel bytes beyond width x height, which the count may claim, are
// not needed and not read.
IndexedImage BuildCelImage(std::span<const std::uint8_t> bytes);

// A 320 x 200 animation frame as an image; its colours are record.Colors.
IndexedImage FrameImage(const FrameRecord& record);

}  // namespace varek
