// Any bytes as a whole FLI file: the load ends normally or with one Error.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fli/FliDecoder.h"
#include "util/Error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static varek::FrameStore store;
    varek::SilentReporter reporter;
    try {
        varek::DecodeFLIFile(std::span(data, size), store, reporter);
    } catch (const varek::Error&) {
    }
    // Every record a load leaves must be readable.
    for (std::size_t i = 0; i < store.size(); ++i) {
        volatile std::uint8_t sink = store[i].Pixels[size % varek::kFramePixels];
        (void)sink;
    }
    return 0;
}
