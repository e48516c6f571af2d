#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "util/Error.h"

namespace varek {

// Palette indices, one byte a pixel, rows of width bytes from the top row down.
struct IndexedImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;

    bool operator==(const IndexedImage&) const = default;
};

// The pixel count of a width x height picture, once pixels holds that many;
// a Truncated Error naming both otherwise.
inline std::size_t CheckPictureBytes(std::int32_t width, std::int32_t height,
                                     std::span<const std::uint8_t> pixels)
{
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (pixels.size() < count) {
        throw Error(ErrorKind::Truncated, "a picture of " + std::to_string(width) + " x " +
                                              std::to_string(height) + " pixels needs " +
                                              std::to_string(count) + " pixel bytes, " +
                                              std::to_string(pixels.size()) + " were given");
    }
    return count;
}

}  // namespace varek
