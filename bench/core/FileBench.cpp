// The decode of one animation file named by VAREK_BENCH_FILE, held in memory,
// picture by picture as the exporter walks it: for scripts that time the same
// file with another decoder. Reports frames/s (the header's count and the ring
// frame) and the file's bytes/s; an error names why a file is not decoded.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "art/GameFolder.h"
#include "fli/FliDecoder.h"

namespace {

using namespace varek;

void BM_DecodeNamedFile(benchmark::State& state)
{
    const char* name = std::getenv("VAREK_BENCH_FILE");
    if (name == nullptr) {
        state.SkipWithError("VAREK_BENCH_FILE names no file");
        return;
    }
    std::ifstream in(name, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    if (bytes.size() < 8) {
        state.SkipWithError("VAREK_BENCH_FILE is no animation file");
        return;
    }
    const std::int64_t frames = (bytes[6] | bytes[7] << 8) + 1;
    for (auto _ : state) {
        const FliLoad load = StreamFLIFile(bytes, [](const StreamedPicture& picture) {
            benchmark::DoNotOptimize(picture.record.Pixels.data());
        });
        if (load.stop) {
            state.SkipWithError(load.stop->what());
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_DecodeNamedFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same file as the window loads it: read from disk and decoded into a frame
// store kept from one load to the next.
void BM_LoadNamedFile(benchmark::State& state)
{
    const char* name = std::getenv("VAREK_BENCH_FILE");
    if (name == nullptr) {
        state.SkipWithError("VAREK_BENCH_FILE names no file");
        return;
    }
    const LooseFile file = GameFolder::OpenFile(name);
    FrameStore store;
    std::size_t pictures = 0;
    for (auto _ : state) {
        const FliLoad load = file.folder.LoadAnimation(file.name, store);
        if (load.stop) {
            state.SkipWithError(load.stop->what());
            return;
        }
        pictures = load.pictures.size();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pictures));
}
BENCHMARK(BM_LoadNamedFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
