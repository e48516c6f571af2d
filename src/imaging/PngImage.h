#pragma once

#include <cstdint>
#include <span>

#include "imaging/Palette.h"
#include "util/ByteWriter.h"

namespace varek {

// An 8-bit indexed PNG file of width x height top-down pixels (width bytes a row)
// whose colour table is the 256 colours of palette. Throws Error: Unsupported for
// an image without pixels, TooLarge past what a PNG holds, Truncated when pixels
// holds fewer than width * height bytes, CannotWrite when the encoder fails.
ByteArray EncodePngImage(std::int32_t width, std::int32_t height,
                         std::span<const std::uint8_t> pixels, const Palette& palette);

}  // namespace varek
