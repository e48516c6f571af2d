// Any bytes as the payload of each chunk type, decoded over a non-blank record:
// the FLI types over a 320 x 200 record, the FLC types over a record of any size
// up to 256 x 256 that the input gives.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fli/FliDecoder.h"
#include "util/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte chooses the type; below 6 an FLI one.
    static const std::int16_t kFliTypes[] = {varek::FLI_COLOR, varek::FLI_LC,   varek::FLI_BLACK,
                                             varek::FLI_BRUN,  varek::FLI_COPY, 14};
    static const std::int16_t kFlcTypes[] = {varek::FLC_COLOR_256, varek::FLC_DELTA,
                                             varek::FLI_BRUN,      varek::FLI_COPY,
                                             varek::FLI_BLACK,     varek::FLC_STAMP};
    constexpr std::size_t kTypes = std::size(kFliTypes) + std::size(kFlcTypes);
    if (size == 0) {
        return 0;
    }
    const std::size_t selector = data[0] % kTypes;
    static varek::FrameRecord fliRecord;
    static varek::FrameRecord flcRecord(1, 1);
    varek::FLIChunk chunk;
    if (selector < std::size(kFliTypes)) {
        chunk.Type = kFliTypes[selector];
        chunk.Data = std::span(data + 1, size - 1);
    } else {
        // Then width - 1 and height - 1, a byte each.
        if (size < 3) {
            return 0;
        }
        const std::int32_t width = data[1] + 1;
        const std::int32_t height = data[2] + 1;
        if (flcRecord.Width != width || flcRecord.Height != height) {
            flcRecord = varek::FrameRecord(width, height);
            std::fill(flcRecord.Pixels.begin(), flcRecord.Pixels.end(), std::uint8_t{7});
        }
        chunk.Type = kFlcTypes[selector - std::size(kFliTypes)];
        chunk.Data = std::span(data + 3, size - 3);
    }
    chunk.Size = static_cast<std::int32_t>(chunk.Data.size() + 6);
    const bool flc = selector >= std::size(kFliTypes);
    try {
        varek::DecodeChunk(chunk, flc ? flcRecord : fliRecord,
                           flc ? varek::FlicKind::Flc : varek::FlicKind::Fli);
    } catch (const varek::Error&) {
    }
    return 0;
}
