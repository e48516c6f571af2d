// Any bytes as a whole FLI file: the load ends, with or without a stop, and what
// it says of its pictures matches the records it left.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fli/FliDecoder.h"
#include "util/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static varek::FrameStore store;
    const varek::FliLoad load = varek::DecodeFLIFile(std::span(data, size), store);
    if (load.pictures.size() != store.FrameCount()) {
        __builtin_trap();
    }
    std::int32_t nextFrame = 1;
    for (const varek::PictureFrames& picture : load.pictures) {
        if (picture.firstFrame < nextFrame || picture.frameCount < 1) {
            __builtin_trap();
        }
        nextFrame = picture.firstFrame + picture.frameCount;
    }
    // Every record a load leaves must be readable.
    for (std::size_t i = 0; i < store.size(); ++i) {
        volatile std::uint8_t sink = store[i].Pixels[size % store[i].Pixels.size()];
        (void)sink;
    }
    return 0;
}
