#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "fli/FliDecoder.h"
#include "fli/FliWriter.h"
#include "imaging/BmpImage.h"
#include "util/ErrorReporter.h"

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
    SilentReporter reporter;
    for (auto _ : state) {
        DecodeFLIFile(bytes, store, reporter);
        benchmark::DoNotOptimize(store.Newest().Pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * kAnimationFrames);
    state.counters["file_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_DecodeFLIFile)->Unit(benchmark::kMillisecond);

// A store made for each load: every record lands in memory the process has not
// touched before, as on the first animation a program opens.
void BM_DecodeFLIFileFreshStore(benchmark::State& state)
{
    const ByteArray& bytes = BenchAnimation();
    SilentReporter reporter;
    for (auto _ : state) {
        FrameStore store;
        DecodeFLIFile(bytes, store, reporter);
        benchmark::DoNotOptimize(store.Newest().Pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * kAnimationFrames);
}
BENCHMARK(BM_DecodeFLIFileFreshStore)->Unit(benchmark::kMillisecond);

void BM_LoadFLIFile(benchmark::State& state)
{
    const auto path = std::filesystem::temp_directory_path() / "varek-bench.fli";
    {
        const ByteArray& bytes = BenchAnimation();
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    FrameStore store;
    SilentReporter reporter;
    for (auto _ : state) {
        LoadFLIFile(path, store, reporter);
        benchmark::DoNotOptimize(store.Newest().Pixels.data());
    }
    state.SetItemsProcessed(state.iterations() * kAnimationFrames);
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadFLIFile)->Unit(benchmark::kMillisecond);

void BM_AddBMPHeader(benchmark::State& state)
{
    ByteArray pixels(kFramePixels);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(i * 31);
    }
    Palette palette;
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        palette[i] = VgaColor(static_cast<std::uint8_t>(i % 64), 32, 7);
    }
    SilentReporter reporter;
    for (auto _ : state) {
        ByteArray buffer = pixels;
        AddBMPHeader(kFrameWidth, kFrameHeight, buffer, palette, reporter);
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_AddBMPHeader)->Unit(benchmark::kMicrosecond);

void BM_BuildBmpImage(benchmark::State& state)
{
    ByteArray pixels(kFramePixels, 7);
    const Palette palette;
    for (auto _ : state) {
        BmpImage image = BuildBmpImage(kFrameWidth, kFrameHeight, pixels, palette);
        benchmark::DoNotOptimize(image.data());
    }
}
BENCHMARK(BM_BuildBmpImage)->Unit(benchmark::kMicrosecond);

}  // namespace
