// Any bytes as a wall or sprite, a still picture and a palette source, each built
// into a BMP image and read back.
#include <cstddef>
#include <cstdint>
#include <span>

#include "art/ArtFiles.h"
#include "imaging/BmpImage.h"
#include "imaging/BmpReader.h"
#include "imaging/Palette.h"
#include "util/Error.h"

namespace {

void Show(const varek::IndexedImage& image, const varek::Palette& palette)
{
    varek::BmpImage bmp;
    try {
        bmp = varek::BuildBmpImage(image, palette);
    } catch (const varek::Error&) {
        return;
    }
    if (varek::ReadBmpPixels(bmp) != image) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span bytes(data, size);
    const varek::Palette palette =
        varek::DecodePaletteBlock(bytes, varek::kStillArtBlockOffset).palette;
    varek::DecodePaletteBlock(bytes, varek::kPaletteFileBlockOffset);
    try {
        Show(varek::BuildWallImage(bytes, size % 2 == 0), palette);
    } catch (const varek::Error&) {
    }
    try {
        Show(varek::BuildCelImage(bytes), palette);
    } catch (const varek::Error&) {
    }
    return 0;
}
