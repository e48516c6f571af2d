// The readers of edited images and palette files, each on the same bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imaging/DecodedImage.h"
#include "imaging/PaletteFile.h"
#include "util/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);
    auto guarded = [](auto&& read) {
        try {
            read();
        } catch (const varek::Error&) {
        }
    };
    guarded([&] { varek::ReadImageFile(bytes); });
    guarded([&] { varek::ReadPngImage(bytes); });
    guarded([&] { varek::ReadBmpImage(bytes); });
    guarded([&] { varek::ReadGifAnimation(bytes); });
    for (const auto format : {varek::PaletteFileFormat::Gimp, varek::PaletteFileFormat::Jasc,
                              varek::PaletteFileFormat::Adobe}) {
        guarded([&] { varek::ReadPaletteFile(bytes, format); });
    }
    return 0;
}
