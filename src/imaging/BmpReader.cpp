#include "imaging/BmpReader.h"

#include <cstring>
#include <string>

#include "imaging/BmpImage.h"
#include "util/ByteReader.h"
#include "util/Error.h"

namespace varek {

IndexedImage ReadBmpPixels(std::span<const std::uint8_t> bmp)
{
    const ByteReader reader(bmp, "the bitmap");
    const std::int32_t width = reader.I32(kBmpWidthOffset);
    const std::int32_t height = reader.I32(kBmpHeightOffset);
    const std::uint16_t bitsPerPixel = reader.U16(kBmpBitsPerPixelOffset);
    if (bitsPerPixel != 8) {
        throw Error(ErrorKind::Unsupported, "the bitmap has " + std::to_string(bitsPerPixel) +
                                                " bits per pixel, only 8 can be shown");
    }
    if (width < 0 || height < 0) {
        throw Error(ErrorKind::Corrupt, "the bitmap gives its size as " + std::to_string(width) +
                                            " x " + std::to_string(height));
    }
    const std::int64_t stride = BmpStride(width);
    reader.Require(kBmpPixelOffset, stride * height);

    IndexedImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const std::uint8_t* base = bmp.data() + kBmpPixelOffset;
    for (std::int64_t y = 0; y < height && width > 0; ++y) {
        std::memcpy(image.pixels.data() + y * width, base + (height - 1 - y) * stride,
                    static_cast<std::size_t>(width));
    }
    return image;
}

}  // namespace varek
