#pragma once

#include "imaging/IndexedImage.h"
#include "imaging/Palette.h"
#include "util/ByteWriter.h"

namespace varek {

// A still-picture file holding image and its colour block: the 32-byte header
// (width at 2, height at 4, pixel count at 12), the block at 32, the pixels at 800.
ByteArray EncodeCelImage(const IndexedImage& image, const PaletteBlock& colors);

}  // namespace varek
