#include "imaging/Enlarge.h"

#include <algorithm>
#include <cstring>

namespace varek {

namespace {

template <int kScale>
void RepeatEach(std::span<const std::uint8_t> row, std::uint8_t* out)
{
    for (const std::uint8_t pixel : row) {
        for (int i = 0; i < kScale; ++i) {
            *out++ = pixel;
        }
    }
}

}  // namespace

void EnlargeRow(std::span<const std::uint8_t> row, int scale, std::uint8_t* out)
{
    // A fixed count per case lets the compiler unroll the inner copy.
    switch (scale) {
        case 1:
            std::copy(row.begin(), row.end(), out);
            break;
        case 2:
            RepeatEach<2>(row, out);
            break;
        case 3:
            RepeatEach<3>(row, out);
            break;
        case 4:
            RepeatEach<4>(row, out);
            break;
        case 5:
            RepeatEach<5>(row, out);
            break;
        case 6:
            RepeatEach<6>(row, out);
            break;
        case 7:
            RepeatEach<7>(row, out);
            break;
        case 8:
            RepeatEach<8>(row, out);
            break;
        default:
            for (const std::uint8_t pixel : row) {
                out = std::fill_n(out, scale, pixel);
            }
    }
}

void EnlargePixels(std::int32_t width, std::int32_t height, std::span<const std::uint8_t> pixels,
                   int scale, std::uint8_t* out)
{
    const auto rowBytes = static_cast<std::size_t>(width);
    const std::size_t outRowBytes = rowBytes * static_cast<std::size_t>(scale);
    for (std::int32_t y = 0; y < height; ++y) {
        EnlargeRow(pixels.subspan(static_cast<std::size_t>(y) * rowBytes, rowBytes), scale, out);
        // The other rows of the square repeat the first.
        for (int copy = 1; copy < scale; ++copy) {
            std::memcpy(out + outRowBytes * static_cast<std::size_t>(copy), out, outRowBytes);
        }
        out += outRowBytes * static_cast<std::size_t>(scale);
    }
}

}  // namespace varek
