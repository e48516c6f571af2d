#include "art/Playback.h"

#include <algorithm>
#include <iterator>

namespace varek {

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr std::int64_t kTicksPerSecond = 70;

// FFmpeg reads a speed of 0 as 5 ticks, about 14 pictures a second.
constexpr std::uint16_t kSpeedWhenZero = 5;

// Seventieths of a second to nanoseconds, rounded to the nearest. Split at whole
// seconds so the product stays far from overflow.
std::int64_t NanosecondsOfTicks(std::int64_t ticks)
{
    return ticks / kTicksPerSecond * kNanosecondsPerSecond +
           (ticks % kTicksPerSecond * kNanosecondsPerSecond + kTicksPerSecond / 2) /
               kTicksPerSecond;
}

std::int64_t TickOf(std::uint16_t speed)
{
    return speed == 0 ? kSpeedWhenZero : speed;
}

// A picture standing for no frame would take no time and never show.
std::int64_t FramesOf(const PictureFrames& picture)
{
    return std::max<std::int32_t>(picture.frameCount, 1);
}

}  // namespace

PlaybackSchedule::PlaybackSchedule(std::span<const PictureFrames> pictures, std::uint16_t speed)
{
    if (pictures.empty()) {
        return;
    }
    const std::int64_t tick = TickOf(speed);
    m_starts.reserve(pictures.size() + 1);
    m_starts.push_back(0);
    // A file counts its frames in 16 bits, so the total stays far below overflow.
    std::int64_t frames = 0;
    for (const PictureFrames& picture : pictures) {
        frames += FramesOf(picture);
        m_starts.push_back(NanosecondsOfTicks(frames * tick));
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

GifDelayClock::GifDelayClock(std::uint16_t speed) : m_tick(TickOf(speed)) {}

std::int64_t GifDelayClock::Next(const PictureFrames& picture)
{
    constexpr std::int64_t kCentisecondsPerSecond = 100;
    m_frames += FramesOf(picture);
    const std::int64_t end =
        (m_frames * m_tick * kCentisecondsPerSecond + kTicksPerSecond / 2) / kTicksPerSecond;
    const std::int64_t delay = end - m_previousEnd;
    m_previousEnd = end;
    return delay;
}

std::vector<std::int64_t> ComputeGifDelays(std::span<const PictureFrames> pictures,
                                           std::uint16_t speed)
{
    GifDelayClock clock(speed);
    std::vector<std::int64_t> delays;
    delays.reserve(pictures.size());
    for (const PictureFrames& picture : pictures) {
        delays.push_back(clock.Next(picture));
    }
    return delays;
}

}  // namespace varek
