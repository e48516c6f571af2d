#include "art/Playback.h"

#include <algorithm>
#include <chrono>
#include <iterator>

namespace varek {

namespace {

// A picture lasting no time would never show.
FrameDuration DurationOf(const PictureFrames& picture)
{
    return std::max(picture.duration, FrameDuration{1});
}

// Nanoseconds rounded to the nearest; a file's durations add up far below overflow.
std::int64_t NanosecondsOf(FrameDuration duration)
{
    return std::chrono::round<std::chrono::nanoseconds>(duration).count();
}

}  // namespace

PlaybackSchedule::PlaybackSchedule(std::span<const PictureFrames> pictures)
{
    if (pictures.empty()) {
        return;
    }
    m_starts.reserve(pictures.size() + 1);
    m_starts.push_back(0);
    FrameDuration elapsed{};
    for (const PictureFrames& picture : pictures) {
        elapsed += DurationOf(picture);
        m_starts.push_back(NanosecondsOf(elapsed));
    }
}

std::int64_t PlaybackSchedule::StartOf(int picture) const noexcept
{
    if (m_starts.empty()) {
        return 0;
    }
    return m_starts[static_cast<std::size_t>(std::clamp(picture, 0, PictureCount() - 1))];
}

int PlaybackSchedule::PictureAt(std::int64_t time) const noexcept
{
    if (m_starts.empty()) {
        return -1;
    }
    const std::int64_t within = std::max<std::int64_t>(time, 0) % LoopLength();
    // The last start at or before within; the loop length itself is never reached.
    const auto after = std::upper_bound(m_starts.begin(), m_starts.end(), within);
    return static_cast<int>(std::distance(m_starts.begin(), after)) - 1;
}

std::optional<std::int64_t> PlaybackSchedule::NextDueAfter(std::int64_t time) const noexcept
{
    if (PictureCount() < 2) {
        return std::nullopt;
    }
    const std::int64_t clamped = std::max<std::int64_t>(time, 0);
    const std::int64_t loopStart = clamped - clamped % LoopLength();
    return loopStart + m_starts[static_cast<std::size_t>(PictureAt(clamped)) + 1];
}

std::int64_t GifDelayClock::Next(const PictureFrames& picture)
{
    using Centiseconds = std::chrono::duration<std::int64_t, std::centi>;
    m_elapsed += DurationOf(picture);
    // Halves round up, as they always have here; round() would round them to even.
    const std::int64_t end =
        std::chrono::floor<Centiseconds>(
            m_elapsed + FrameDuration{FrameDuration::period::den / Centiseconds::period::den / 2})
            .count();
    const std::int64_t delay = end - m_previousEnd;
    m_previousEnd = end;
    return delay;
}

std::int64_t MillisecondClock::Next(const PictureFrames& picture)
{
    using std::chrono::milliseconds;
    m_elapsed += DurationOf(picture);
    // Halves round up, as the GIF delays do.
    const std::int64_t end =
        std::chrono::floor<milliseconds>(
            m_elapsed + FrameDuration{FrameDuration::period::den / milliseconds::period::den / 2})
            .count();
    const std::int64_t duration = end - m_previousEnd;
    m_previousEnd = end;
    return duration;
}

std::vector<std::int64_t> ComputeGifDelays(std::span<const PictureFrames> pictures)
{
    GifDelayClock clock;
    std::vector<std::int64_t> delays;
    delays.reserve(pictures.size());
    for (const PictureFrames& picture : pictures) {
        delays.push_back(clock.Next(picture));
    }
    return delays;
}

}  // namespace varek
