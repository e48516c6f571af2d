#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "util/Error.h"

namespace varek {

// A chunk as its header gives it: where it starts, its declared size (the 6-byte
// header included) and its type.
struct FliChunkPlace {
    std::int64_t offset = 0;
    std::int32_t size = 0;
    std::int16_t type = 0;

    bool operator==(const FliChunkPlace&) const = default;
};

// A frame as its header gives it, with the chunks the frame's walk reads.
struct FliFramePlace {
    std::int64_t offset = 0;
    std::int32_t size = 0;
    std::vector<FliChunkPlace> chunks;

    bool operator==(const FliFramePlace&) const = default;
};

// Where the frames and chunks of an FLI file lie.
struct FliLayout {
    std::vector<FliFramePlace> frames;  // the header's frame count of them, or those before stop
    std::optional<FliFramePlace> ring;  // the whole frame after them, leading back to the first
    std::optional<Error> stop;          // a header that ended the walk
};

// The frame and chunk headers of an FLI file, read as the decoder's walk reads
// them (a chunk cut at its frame's end, the walk ending at a header that is not
// there or gives a size below its own header), nothing decoded. The ring frame is
// the frame header found right after the counted frames. Throws only when memory
// runs out.
FliLayout ListFLIFrames(std::span<const std::uint8_t> bytes);

}  // namespace varek
