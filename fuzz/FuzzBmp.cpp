// AddBMPHeader with any width, height and pixels, then the picture conversion on
// whatever the caller's array holds afterwards: the built image, or the raw
// pixels after a failed build.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "imaging/BmpImage.h"
#include "imaging/Picture.h"
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
    const varek::ByteArray before = buffer;
    varek::SilentReporter reporter;
    const varek::Palette palette;
    const bool built = varek::AddBMPHeader(width, height, buffer, palette, reporter);
    if (!built && buffer != before) {
        __builtin_trap();
    }
    try {
        varek::ReadBmpPixels(buffer);
    } catch (const varek::Error&) {
    }
    return 0;
}
