#pragma once

#include <span>

#include "imaging/IndexedImage.h"

namespace varek {

// The top-down indexed pixels of a BMP file image as the builder lays it out:
// width, height and bits per pixel from the info header at 14, rows bottom first
// at the fixed offset 1078. The colour table is not read; the picture is painted
// with the caller's palette. Throws Error when the bytes are not an 8-bit image
// that lies wholly inside them.
IndexedImage ReadBmpPixels(std::span<const std::uint8_t> bmp);

}  // namespace varek
