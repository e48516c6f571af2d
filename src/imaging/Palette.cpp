#include "imaging/Palette.h"

namespace varek {

DecodedPalette DecodePaletteBlock(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    DecodedPalette result;
    if (offset >= bytes.size()) {
        return result;
    }
    const auto available = (bytes.size() - offset) / 3;
    result.entriesRead = available < kPaletteEntries ? available : kPaletteEntries;
    const std::uint8_t* at = bytes.data() + offset;
    for (std::size_t i = 0; i < result.entriesRead; ++i, at += 3) {
        result.palette[i] = VgaColor(at[0], at[1], at[2]);
    }
    return result;
}

Palette PaletteFromBlock(const PaletteBlock& block)
{
    return DecodePaletteBlock(block, 0).palette;
}

}  // namespace varek
