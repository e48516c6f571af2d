#include "imaging/BmpImage.h"

#include <cstring>
#include <limits>
#include <string>

#include "util/Error.h"

namespace varek {

BmpImage BuildBmpImage(std::int32_t width, std::int32_t height,
                       std::span<const std::uint8_t> pixels, const Palette& palette)
{
    if (width < 0 || height < 0) {
        throw Error(ErrorKind::Corrupt, "a bitmap of " + std::to_string(width) + " x " +
                                            std::to_string(height) + " pixels has a negative size");
    }
    const std::int64_t stride = BmpStride(width);
    const std::int64_t fileSize = stride * height + kBmpPixelOffset;
    if (fileSize > std::numeric_limits<std::int32_t>::max()) {
        throw Error(ErrorKind::TooLarge, "a bitmap of " + std::to_string(width) + " x " +
                                             std::to_string(height) + " pixels would pass 2 GiB");
    }
    const std::int64_t pixelCount = static_cast<std::int64_t>(width) * height;
    if (static_cast<std::int64_t>(pixels.size()) < pixelCount) {
        throw Error(ErrorKind::Truncated, "a bitmap of " + std::to_string(width) + " x " +
                                              std::to_string(height) + " pixels needs " +
                                              std::to_string(pixelCount) + " pixel bytes, " +
                                              std::to_string(pixels.size()) + " were given");
    }

    // The header and colours first; the rows are appended, so no byte is written twice.
    BmpImage image;
    image.reserve(static_cast<std::size_t>(fileSize));
    image.resize(static_cast<std::size_t>(kBmpPixelOffset));
    std::uint8_t* out = image.data();
    out[0] = 'B';
    out[1] = 'M';
    StoreU32(out + kBmpFileSizeOffset, static_cast<std::uint32_t>(fileSize));
    StoreU32(out + kBmpPixelOffsetField, kBmpPixelOffset);
    StoreU32(out + kBmpInfoHeaderSizeOffset, 40);
    StoreU32(out + kBmpWidthOffset, static_cast<std::uint32_t>(width));
    StoreU32(out + kBmpHeightOffset, static_cast<std::uint32_t>(height));
    StoreU16(out + kBmpPlanesOffset, 1);
    StoreU16(out + kBmpBitsPerPixelOffset, 8);
    // Compression, image size, resolutions and colour counts stay 0.

    std::uint8_t* entry = out + kBmpColorTableOffset;
    for (const ColorValue color : palette.Colors) {
        entry[0] = BlueOf(color);
        entry[1] = GreenOf(color);
        entry[2] = RedOf(color);
        entry[3] = static_cast<std::uint8_t>(color >> 24);
        entry += 4;
    }

    // Rows are stored bottom first, each padded with 0 to its stride.
    const auto rowBytes = static_cast<std::size_t>(width);
    const auto padding = static_cast<std::size_t>(stride) - rowBytes;
    for (std::int64_t row = height - 1; row >= 0 && stride > 0; --row) {
        const std::uint8_t* first = pixels.data() + static_cast<std::size_t>(row) * rowBytes;
        image.insert(image.end(), first, first + rowBytes);
        image.insert(image.end(), padding, 0);
    }
    return image;
}

}  // namespace varek
