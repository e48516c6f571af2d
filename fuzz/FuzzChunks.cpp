// Any bytes as the payload of each chunk type, decoded over a non-blank record.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fli/FliDecoder.h"
#include "util/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::int16_t kTypes[] = {varek::FLI_COLOR, varek::FLI_LC,   varek::FLI_BLACK,
                                          varek::FLI_BRUN,  varek::FLI_COPY, 14};
    if (size == 0) {
        return 0;
    }
    static varek::FrameRecord record;
    varek::FLIChunk chunk;
    chunk.Type = kTypes[data[0] % std::size(kTypes)];
    chunk.Data = std::span(data + 1, size - 1);
    chunk.Size = static_cast<std::int32_t>(size + 5);
    try {
        varek::DecodeChunk(chunk, record);
    } catch (const varek::Error&) {
    }
    return 0;
}
