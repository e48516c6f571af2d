#pragma once

#include <cstddef>
#include <cstdint>

namespace varek {

// Writes row to out (rowBytes + 1 bytes) led by the PNG filter type whose bytes,
// taken as signed, sum to the least: none, less the byte one pixel to the left
// (pixelBytes back) or less the one above (above null for a first row). The
// usual guess at what compresses best; palettes keep their shades in runs of
// neighbouring indices, so neighbours differ little. scratch holds 2 * rowBytes.
void FilterPngRow(const std::uint8_t* row, const std::uint8_t* above, std::size_t rowBytes,
                  std::size_t pixelBytes, std::uint8_t* scratch, std::uint8_t* out);

}  // namespace varek
