#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "art/GameFolder.h"
#include "fli/FliWriter.h"
#include "fli/FliDecoder.h"
#include "imaging/BmpImage.h"
#include "util/Error.h"

namespace {

using namespace varek;

constexpr int kAnimationFrames = 1000;

// A 1000-frame animation: a textured background with drifting blocks, about a
// tenth of the pixels changing from one frame to the next.
const ByteArray& BenchAnimation()
{
    static const ByteArray bytes = [] {
        std::mt19937 random(1234);
        std::vector<AnimationFrame> frames(kAnimationFrames);
        for (std::size_t i = 0; i < kFramePixels; ++i) {
            frames[0].pixels[i] = static_cast<std::uint8_t>((i % 320) ^ (i / 320));
        }
        for (std::size_t c = 0; c < kPaletteBlockSize; ++c) {
            frames[0].colors[c] = static_cast<std::uint8_t>((c * 7) % 64);
        }
        for (int f = 1; f < kAnimationFrames; ++f) {
            frames[f] = frames[f - 1];
            // Eight 40 x 20 blocks move each frame: 6400 pixels, a tenth of the frame.
            for (int block = 0; block < 8; ++block) {
                const int x0 = static_cast<int>(random() % (320 - 40));
                const int y0 = static_cast<int>(random() % (200 - 20));
                const auto value = static_cast<std::uint8_t>(random());
                for (int y = y0; y < y0 + 20; ++y) {
                    for (int x = x0; x < x0 + 40; ++x) {
                        frames[f].pixels[static_cast<std::size_t>(y * 320 + x)] =
                            static_cast<std::uint8_t>(value + ((x + y) & 3));
                    }
                }
            }
        }
        return WriteAnimation(frames);
    }();
    return bytes;
}

void BM_DecodeFLIFile(benchmark::State& state)
{
    const ByteArray& bytes = BenchAnimation();
    FrameStore store;
    for (auto _ : state) {
        DecodeFLIFile(bytes, store);
        benchmark::DoNotOptimize(store.Newest().Pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * kAnimationFrames);
    state.counters["file_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_DecodeFLIFile)->Unit(benchmark::kMillisecond);

// 100 frames of 30,000 line-compression chunks that each run past the frame: the
// cost of a file made of faults, next to the same bytes' worth of real changes.
void BM_DecodeLineFaults(benchmark::State& state)
{
    static const ByteArray bytes = [] {
        const ByteArray pastTheFrame{200, 0, 1, 0, 1, 0, 1, 5};
        std::vector<FliFrameData> frames(100, FliFrameData{});
        for (FliFrameData& frame : frames) {
            frame.chunks.assign(30000, {FLI_LC, pastTheFrame});
        }
        return WriteFLIFile(frames);
    }();
    FrameStore store;
    for (auto _ : state) {
        const FliLoad load = DecodeFLIFile(bytes, store);
        benchmark::DoNotOptimize(load.moreLineFaults);
    }
    state.SetItemsProcessed(state.iterations() * 100 * 30000);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_DecodeLineFaults)->Unit(benchmark::kMillisecond);

// A store made for each load: every record lands in memory the process has not
// touched before, as on the first animation a program opens.
void BM_DecodeFLIFileFreshStore(benchmark::State& state)
{
    const ByteArray& bytes = BenchAnimation();
    for (auto _ : state) {
        FrameStore store;
        DecodeFLIFile(bytes, store);
        benchmark::DoNotOptimize(store.Newest().Pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * kAnimationFrames);
}
BENCHMARK(BM_DecodeFLIFileFreshStore)->Unit(benchmark::kMillisecond);

void BM_LoadAnimation(benchmark::State& state)
{
    const auto folder = std::filesystem::temp_directory_path() / "varek-bench-game";
    const auto path = folder / "FLI" / "BENCH.FLI";
    std::filesystem::create_directories(path.parent_path());
    {
        const ByteArray& bytes = BenchAnimation();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    const GameFolder game = GameFolder::Open(folder, {false, false, true});
    FrameStore store;
    for (auto _ : state) {
        game.LoadAnimation("BENCH.FLI", store);
        benchmark::DoNotOptimize(store.Newest().Pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * kAnimationFrames);
    std::filesystem::remove_all(folder);
}
BENCHMARK(BM_LoadAnimation)->Unit(benchmark::kMillisecond);

// Hostile files of growing size, each frame holding the inputs that cost most per
// byte: black chunks (6 bytes clear a whole frame), and line-compression chunks of
// skip packets whose declared sizes reach far past their frame. The fitted
// complexity shows whether a load stays linear in the file's size.
ByteArray HostileAnimation(std::size_t targetBytes)
{
    std::vector<FliFrameData> frames;
    std::size_t bytes = 128;
    while (bytes < targetBytes && frames.size() < 16000) {
        FliFrameData frame;
        frame.chunks.push_back({FLI_BLACK, {}});
        ByteArray rows{0, 0, 0xFF, 0xFF};
        for (int row = 0; row < 40; ++row) {
            rows.insert(rows.end(), {50});
            for (int packet = 0; packet < 50; ++packet) {
                rows.insert(rows.end(), {255, 0});
            }
        }
        frame.chunks.push_back({FLI_LC, std::move(rows)});
        frames.push_back(std::move(frame));
        bytes += 16 + 6 + 6 + 4 + 40 * 101;
    }
    ByteArray file = WriteFLIFile(frames);
    // Every line-compression chunk claims 2 GiB; the walk cuts it at its frame's end.
    std::size_t at = 128;
    for (const FliFrameData& frame : frames) {
        const std::size_t chunk = at + 16 + 6;
        StoreU32(file.data() + chunk, 0x7FFFFFFF);
        at += 16 + 6 + 6 + frame.chunks[1].payload.size();
    }
    return file;
}

void BM_HostileFLI(benchmark::State& state)
{
    const ByteArray bytes = HostileAnimation(static_cast<std::size_t>(state.range(0)));
    FrameStore store;
    for (auto _ : state) {
        DecodeFLIFile(bytes, store);
        benchmark::DoNotOptimize(store.Newest().Pixels.data());
    }
    state.SetComplexityN(static_cast<std::int64_t>(bytes.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_HostileFLI)
    ->RangeMultiplier(4)
    ->Range(1 << 14, 1 << 22)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);

// Frames of one changed row followed by range(0) black chunks of 6 bytes each, the
// cheapest way to ask for a cleared frame again and again.
void BM_BlackChunks(benchmark::State& state)
{
    std::vector<FliFrameData> frames(50);
    for (FliFrameData& frame : frames) {
        frame.chunks.push_back({FLI_LC, {5, 0, 1, 0, 1, 0, 0x80, 9}});
        frame.chunks.insert(frame.chunks.end(), static_cast<std::size_t>(state.range(0)),
                            FliChunkData{FLI_BLACK, {}});
    }
    const ByteArray bytes = WriteFLIFile(frames);
    FrameStore store;
    for (auto _ : state) {
        DecodeFLIFile(bytes, store);
        benchmark::DoNotOptimize(store.Newest().Pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_BlackChunks)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_BuildBmpImage(benchmark::State& state)
{
    ByteArray pixels(kFramePixels);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(i * 31);
    }
    Palette palette;
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        palette[i] = VgaColor(static_cast<std::uint8_t>(i % 64), 32, 7);
    }
    for (auto _ : state) {
        BmpImage image = BuildBmpImage(kFliWidth, kFliHeight, pixels, palette);
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(BM_BuildBmpImage)->Unit(benchmark::kMicrosecond);

}  // namespace
