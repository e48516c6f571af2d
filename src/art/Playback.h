#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "fli/FliDecoder.h"

namespace varek {

// When each picture of an animation is due while it plays in a loop. Times are
// nanoseconds of playback time: 0 is the start of picture 0 in the first loop,
// and the loop repeats every LoopLength() after it.
class PlaybackSchedule {
public:
    // Nothing to play.
    PlaybackSchedule() = default;

    // Each picture lasts its duration, at least the smallest one counted.
    explicit PlaybackSchedule(std::span<const PictureFrames> pictures);

    int PictureCount() const noexcept { return static_cast<int>(m_starts.size()) - 1; }

    // 0 when there is nothing to play.
    std::int64_t LoopLength() const noexcept { return m_starts.empty() ? 0 : m_starts.back(); }

    // When picture (0-based, clamped to the pictures there are) starts within a
    // loop; playing from it means starting the playback time there.
    std::int64_t StartOf(int picture) const noexcept;

    // The picture (0-based) due at time, however late that is: the one whose
    // span holds time modulo the loop, never merely the one after the last
    // shown. -1 when there is nothing to play; a negative time counts as 0.
    int PictureAt(std::int64_t time) const noexcept;

    // The playback time, after time, at which the picture after PictureAt(time)
    // is due; none for fewer than two pictures, as nothing then ever changes.
    std::optional<std::int64_t> NextDueAfter(std::int64_t time) const noexcept;

    bool operator==(const PlaybackSchedule&) const = default;

private:
    // Start of each picture and, last, the loop length. Each is rounded from the
    // exact count of ticks before it, so rounding never adds up over a loop.
    std::vector<std::int64_t> m_starts;
};

// How many hundredths of a second each picture lasts in a GIF file, which counts
// time in whole hundredths. Durations as in PlaybackSchedule; each picture ends at
// its exact end rounded to the nearest hundredth, so the running total never strays
// more than half a hundredth from the file's, however many pictures there are.
std::vector<std::int64_t> ComputeGifDelays(std::span<const PictureFrames> pictures);

// The same delays one picture at a time, for pictures that arrive as they are decoded.
class GifDelayClock {
public:
    // The delay of the picture after those already given.
    std::int64_t Next(const PictureFrames& picture);

private:
    FrameDuration m_elapsed{};
    std::int64_t m_previousEnd = 0;
};

// How many whole milliseconds each picture lasts, one picture at a time, for
// formats that count time in milliseconds. Durations as in PlaybackSchedule; each
// picture ends at its exact end rounded to the nearest millisecond, so the total
// never strays more than half a millisecond from the file's.
class MillisecondClock {
public:
    std::int64_t Next(const PictureFrames& picture);

private:
    FrameDuration m_elapsed{};
    std::int64_t m_previousEnd = 0;
};

}  // namespace varek
