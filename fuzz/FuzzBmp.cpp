// The BMP builder with any width, height and pixels, then the BMP reader on the
// image built, or on the raw pixels after a failed build.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "imaging/BmpImage.h"
#include "imaging/BmpReader.h"
#include "util/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) {
        return 0;
    }
    // Small sizes are the interesting ones; the top bits still reach the overflow checks.
    std::int16_t w = 0;
    std::int16_t h = 0;
    std::memcpy(&w, data, 2);
    std::memcpy(&h, data + 2, 2);
    const std::int32_t width = (w & 0x4000) ? w * 65536 : w;
    const std::int32_t height = (h & 0x4000) ? h * 65536 : h;
    varek::ByteArray buffer(data + 4, data + size);
    try {
        buffer = varek::BuildBmpImage(width, height, buffer, varek::Palette{});
    } catch (const varek::Error&) {
    }
    try {
        varek::ReadBmpPixels(buffer);
    } catch (const varek::Error&) {
    }
    return 0;
}
