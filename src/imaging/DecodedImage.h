#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imaging/Palette.h"

namespace varek {

// A picture as an image file gives it: for an indexed file its colour table and
// one index a pixel, every index inside the table; for any other file one colour
// a pixel. Rows of width pixels from the top row down.
struct DecodedImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<ColorValue> colors;  // indexed files only: 1 to 256 entries
    std::vector<std::uint8_t> indices;
    std::vector<ColorValue> rgb;  // other files only

    bool indexed() const noexcept { return !colors.empty(); }
    std::size_t PixelCount() const noexcept
    {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    }
    ColorValue ColorAt(std::size_t pixel) const
    {
        return indexed() ? colors[indices[pixel]] : rgb[pixel];
    }

    bool operator==(const DecodedImage&) const = default;
};

// One picture of an animated file, composed onto the whole canvas, and how long
// it shows in hundredths of a second.
struct DecodedFrame {
    DecodedImage image;
    std::int64_t delayCentiseconds = 0;

    bool operator==(const DecodedFrame&) const = default;
};

// The largest picture read, 4096 x 4096, and the most pixels an animated file may
// give in all its pictures together (1 GiB of indices): bounds on what a hostile
// header can make the readers allocate.
constexpr std::int64_t kMaxDecodedSide = 4096;
constexpr std::int64_t kMaxDecodedPixels = kMaxDecodedSide * kMaxDecodedSide;
constexpr std::int64_t kMaxAnimationPixels = std::int64_t{1} << 30;

// The image readers. Each throws Error: Truncated or Corrupt for damaged data,
// Unsupported naming what cannot be honoured (a transparent pixel, a kind of file
// not read), TooLarge past the bounds above.

// PNG through libpng: indexed files keep their indices and colour table (any bit
// depth); grey, RGB and their alpha forms give colours, 16-bit samples rounded to
// 8. A pixel that is not fully opaque is refused.
DecodedImage ReadPngImage(std::span<const std::uint8_t> bytes);

// BMP with a 40-byte info header or the larger V4 and V5 ones: 1, 4 and 8-bit
// indexed with any colour-table size, and 24-bit, uncompressed, rows bottom-up or
// top-down.
DecodedImage ReadBmpImage(std::span<const std::uint8_t> bytes);

// Every picture of a GIF file through giflib, each frame drawn onto the canvas over
// what the frames before left, as their disposal says, in the colours that frame
// uses. A frame with colours of its own is honoured only when they show every pixel
// it leaves as it was; a pixel left transparent is refused.
std::vector<DecodedFrame> ReadGifAnimation(std::span<const std::uint8_t> bytes);

// Any of the three, told by the first bytes; a GIF must hold one picture.
DecodedImage ReadImageFile(std::span<const std::uint8_t> bytes);

// Whether bytes start as a GIF file.
bool IsGifFile(std::span<const std::uint8_t> bytes) noexcept;

}  // namespace varek
