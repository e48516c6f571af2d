#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "imaging/Palette.h"
#include "util/ByteWriter.h"

namespace varek {

// Loads the PNG writer, which lies beside the program. Empty when it is ready,
// otherwise why it cannot be used.
std::string LoadPngWriter();

// An 8-bit indexed PNG file of width x height top-down pixels whose colour table
// is the 256 colours of palette. Throws Error for an image a PNG cannot hold
// (no pixels, or too large), too few pixels, a PNG writer that cannot be loaded
// or a failure of the encoder.
ByteArray EncodePngImage(std::int32_t width, std::int32_t height,
                         std::span<const std::uint8_t> pixels, const Palette& palette);

}  // namespace varek
