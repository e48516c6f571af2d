#include "authoring/CelWriter.h"

#include "art/ArtFiles.h"

namespace varek {

ByteArray EncodeCelImage(const IndexedImage& image, const PaletteBlock& colors)
{
    ByteArray out;
    out.reserve(kCelPixelOffset + image.pixels.size());
    ByteWriter writer(out);
    writer.U16(0);
    writer.U16(static_cast<std::uint16_t>(image.width));
    writer.U16(static_cast<std::uint16_t>(image.height));
    writer.Fill(6, 0);
    writer.U32(static_cast<std::uint32_t>(image.pixels.size()));
    writer.Fill(kCelHeaderSize - 16, 0);
    writer.Bytes(colors);
    writer.Bytes(image.pixels);
    return out;
}

}  // namespace varek
