#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/DecodedImage.h"
#include "imaging/IndexedImage.h"
#include "imaging/Palette.h"

namespace varek {

struct MappingOptions {
    // Colours not in the palette go to the nearest one instead of being refused.
    bool quantize = false;
    // Indices no colour is mapped to (a game's fixed colours). An indexed image
    // whose table is the palette keeps its indices, these included.
    std::array<bool, kPaletteEntries> reserved{};
};

struct MappingReport {
    bool indicesKept = false;       // an indexed image in the palette's own order
    std::size_t changedPixels = 0;  // pixels given another colour than their own
    std::size_t changedColors = 0;  // distinct colours among them
    int largestError = 0;           // the largest difference of one component, 0..255
};

// The pixels of image as indices into palette, by one rule: an indexed image whose
// colour table is the palette's first entries keeps its indices exactly; otherwise
// each pixel takes the lowest index (reserved ones left out) whose colour is its
// own. A colour found at no such index is refused with an Unsupported Error
// that says how many colours are foreign and where the first pixel using one
// lies, unless options.quantize, which gives each the nearest
// colour by ColorDistance, ties to the lowest index. report tells what changed.
IndexedImage MapToPalette(const DecodedImage& image, const Palette& palette,
                          const MappingOptions& options, MappingReport& report);

// How far apart two colours look, squared: the red-mean weighting of the RGB
// differences, which weighs red and blue by how bright the red is. It tracks the
// eye far better than plain RGB distance on the dark, saturated ramps of a VGA
// palette, costs a few integer operations, and (unlike a conversion to a
// perceptual space) keeps the nearest colour exact and reproducible everywhere.
std::int64_t ColorDistance(ColorValue a, ColorValue b) noexcept;

// The 6-bit block of colours, by the inverse of the colour rule: a component v
// that is a multiple of 4 up to 252 becomes v / 4. Where keep is given, an entry
// whose colour its raw levels already show keeps them (levels above 63 included),
// and entries past colors.size() come from it; otherwise they are black. Any other
// component is refused with an Unsupported Error naming the entry, unless
// quantize, which rounds it to the nearest level and counts it in adjusted.
PaletteBlock ToVgaLevels(std::span<const ColorValue> colors, const PaletteBlock* keep,
                         bool quantize, std::size_t& adjusted);

}  // namespace varek
