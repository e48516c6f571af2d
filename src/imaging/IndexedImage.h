#pragma once

#include <cstdint>
#include <vector>

namespace varek {

// Palette indices, one byte a pixel, rows of width bytes from the top row down.
struct IndexedImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;

    bool operator==(const IndexedImage&) const = default;
};

}  // namespace varek
