#include "window/Player.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

namespace varek {

namespace {

constexpr std::int64_t kNanosecondsPerMillisecond = 1'000'000;

const PlaybackClock& SteadyClock()
{
    static const SteadyPlaybackClock clock;
    return clock;
}

}  // namespace

std::int64_t SteadyPlaybackClock::NowNanoseconds() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Player::Player(QObject* parent) : Player(SteadyClock(), parent) {}

Player::Player(const PlaybackClock& clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &Player::Wake);
}

bool Player::Start(PlaybackSchedule schedule, int fromPicture)
{
    if (schedule.PictureCount() < 2) {
        Stop();
        return false;
    }
    ++m_run;
    m_schedule = std::move(schedule);
    m_shown = std::clamp(fromPicture, 1, m_schedule.PictureCount());
    const std::int64_t startTime = m_schedule.StartOf(m_shown - 1);
    m_origin = m_clock.NowNanoseconds() - startTime;
    ArmFor(*m_schedule.NextDueAfter(startTime));
    if (!m_playing) {
        m_playing = true;
        emit playingChanged(true);
    }
    return true;
}

void Player::Stop()
{
    ++m_run;
    m_timer->stop();
    if (m_playing) {
        m_playing = false;
        emit playingChanged(false);
    }
}

void Player::Wake()
{
    if (!m_playing) {
        return;
    }
    const std::int64_t time = PlaybackTime();
    const int due = m_schedule.PictureAt(time) + 1;
    const std::int64_t nextDue = *m_schedule.NextDueAfter(time);
    if (due != m_shown) {
        const unsigned run = m_run;
        m_shown = due;
        emit pictureDue(due);
        if (run != m_run) {
            return;
        }
    }
    ArmFor(nextDue);
}

std::int64_t Player::PlaybackTime() const
{
    return m_clock.NowNanoseconds() - m_origin;
}

void Player::ArmFor(std::int64_t dueTime)
{
    // Read the clock again: showing the last picture may have taken a while. A
    // due time already past gives a wake at once, which skips to what is due by
    // then. Rounding up never wakes early; a wake that still comes early, or one
    // cut short by the int a timer takes, only arms again.
    const std::int64_t remaining = std::max<std::int64_t>(dueTime - PlaybackTime(), 0);
    const std::int64_t milliseconds = std::min<std::int64_t>(
        (remaining + kNanosecondsPerMillisecond - 1) / kNanosecondsPerMillisecond,
        std::numeric_limits<int>::max());
    m_timer->start(static_cast<int>(milliseconds));
}

}  // namespace varek
