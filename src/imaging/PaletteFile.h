#pragma once

#include <span>
#include <string>
#include <vector>

#include "imaging/Palette.h"
#include "util/ByteWriter.h"

namespace varek {

// The palette file formats image editors read.
enum class PaletteFileFormat {
    Gimp,   // .gpl: text, "GIMP Palette", then one "R G B<TAB>name" line a colour
    Jasc,   // .pal: text, "JASC-PAL", "0100", the count, then one "R G B" line a colour
    Adobe,  // .act: 768 bytes, the 256 colours as red, green, blue bytes
};

// The format a file name's extension names, ignoring case; Gimp for any other.
PaletteFileFormat PaletteFileFormatOf(const std::string& fileName);

// All 256 colours, 8 bits a component, in index order. A GIMP palette names each
// colour by its index and has no other header line than its first: readers that
// count the Name and Columns lines as colours (Pillow before 10) read it right
// too, and GIMP names it after its file. JASC lines end in CR LF, as the
// format's own writers end them.
ByteArray EncodePaletteFile(const Palette& palette, PaletteFileFormat format);

// The 6-bit VGA level a component shown as value came from: value / 4 for the
// values the colour rule gives from 0..63, and 64 for 255, which any level from
// 64 up gives.
constexpr int VgaLevelOf(std::uint8_t value) noexcept
{
    return value == 255 ? 64 : value / 4;
}

}  // namespace varek

namespace varek {

// The colours of a palette file in the format given, in index order, 1 to 256 of
// them. A GIMP palette's "Name:" and "Columns:" lines and comments are skipped; an
// Adobe table may carry the count and transparent index after its 768 bytes.
// Throws Error: Corrupt for a file that is not of the format or a component
// outside 0..255, TooLarge for more than 256 colours, NotFound for none.
std::vector<ColorValue> ReadPaletteFile(std::span<const std::uint8_t> bytes,
                                        PaletteFileFormat format);

}  // namespace varek
