#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include "art/ArtFiles.h"
#include "authoring/SampleGame.h"
#include "fli/FliDecoder.h"

namespace {

using namespace varek;

// The long animations of varek-sample: a 30,000-frame FLI and a 3,000-frame
// 640 x 480 FLC, and a shorter FLC whose every picture a store can still hold.
const ByteArray& SeekFile(std::int64_t which)
{
    static const ByteArray fli = MakeSampleAnimation(30000);
    static const ByteArray flc = MakeSampleFlc(640, 480, 3000);
    static const ByteArray shortFlc = MakeSampleFlc(640, 480, 300);
    return which == 0 ? fli : which == 1 ? flc : shortFlc;
}

void Describe(benchmark::State& state, const FrameSeeker& seeker, const ByteArray& file)
{
    state.counters["pictures"] = static_cast<double>(seeker.FrameCount());
    state.counters["interval"] = static_cast<double>(seeker.Interval());
    state.counters["held_MiB"] = static_cast<double>(seeker.HeldBytes()) / (1 << 20);
    state.counters["file_MiB"] = static_cast<double>(file.size()) / (1 << 20);
}

// A seek to a picture chosen at random, from wherever the last one left off.
void BM_SeekAnywhere(benchmark::State& state)
{
    const ByteArray& file = SeekFile(state.range(0));
    FrameSeeker seeker;
    seeker.Load(FileBytes(file));
    std::mt19937 random(7);
    std::uniform_int_distribution<std::size_t> picture(1, seeker.FrameCount());
    for (auto _ : state) {
        benchmark::DoNotOptimize(seeker.at(picture(random)).Pixels.data());
    }
    Describe(state, seeker, file);
}
BENCHMARK(BM_SeekAnywhere)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The costliest seeks: the last picture before each snapshot, reached from
// another stretch, so each decodes Interval() - 1 pictures. slowest_ms is the
// longest one seen.
void BM_SeekWorst(benchmark::State& state)
{
    const ByteArray& file = SeekFile(state.range(0));
    FrameSeeker seeker;
    seeker.Load(FileBytes(file));
    const std::size_t interval = seeker.Interval();
    std::size_t next = interval;
    double slowest = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(seeker.at(next).Pixels.data());
        slowest = std::max(
            slowest,
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        next = next + interval > seeker.FrameCount() ? interval : next + interval;
    }
    Describe(state, seeker, file);
    state.counters["slowest_ms"] = slowest;
}
BENCHMARK(BM_SeekWorst)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Playback: each picture in turn, looping, as the window renders it (the
// picture's pixels copied into an image). /0 from a store holding every
// picture, as the window did; /1 from the seeker. Arg 2 is the FLC every
// picture of which a store holds, the FLI the core benchmark's 1000 frames.
void BM_PlaybackStep(benchmark::State& state)
{
    const ByteArray file = state.range(0) == 0 ? MakeSampleAnimation(1000) : SeekFile(2);
    const bool seeking = state.range(1) == 1;
    FrameStore store;
    FrameSeeker seeker;
    if (seeking) {
        seeker.Load(FileBytes(file));
    } else {
        DecodeFLIFile(file, store);
    }
    const std::size_t count = seeking ? seeker.FrameCount() : store.FrameCount();
    std::size_t picture = 1;
    for (auto _ : state) {
        const FrameRecord& record = seeking ? seeker.at(picture) : store.at(picture);
        benchmark::DoNotOptimize(FrameImage(record).pixels.data());
        picture = picture == count ? 1 : picture + 1;
    }
    state.counters["held_MiB"] =
        static_cast<double>(seeking ? seeker.HeldBytes() : store.HeldBytes()) / (1 << 20);
}
BENCHMARK(BM_PlaybackStep)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"flc", "seeker"})
    ->Unit(benchmark::kMicrosecond);

// A whole load into the seeker: the walk, the outline before it and the snapshots.
void BM_SeekerLoad(benchmark::State& state)
{
    const ByteArray& file = SeekFile(state.range(0));
    FrameSeeker seeker;
    for (auto _ : state) {
        benchmark::DoNotOptimize(seeker.Load(FileBytes(file)).pictures.size());
    }
    Describe(state, seeker, file);
}
BENCHMARK(BM_SeekerLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
