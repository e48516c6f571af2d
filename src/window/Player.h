#pragma once

#include <QObject>
#include <cstdint>

#include "art/Playback.h"

class QTimer;

namespace varek {

// Where playback reads the time: nanoseconds from any fixed point, never going back.
class PlaybackClock {
public:
    virtual ~PlaybackClock() = default;
    virtual std::int64_t NowNanoseconds() const = 0;
};

// std::chrono::steady_clock, which setting the system's time does not move.
class SteadyPlaybackClock final : public PlaybackClock {
public:
    std::int64_t NowNanoseconds() const override;
};

// Plays a schedule in a loop until stopped, telling which picture to show each
// time it changes. Every wake reads the clock and asks for the picture due then,
// measured from when playback started: a window that falls behind skips pictures
// instead of slowing down, and no wake's lateness carries into the next.
class Player final : public QObject {
    Q_OBJECT

public:
    // Reads the steady clock.
    explicit Player(QObject* parent = nullptr);
    // Reads clock, which must outlive the player.
    explicit Player(const PlaybackClock& clock, QObject* parent = nullptr);

    // Plays schedule from fromPicture (1-based, clamped to the pictures there
    // are), taken to be the picture on show: it is not announced again. Replaces
    // what was playing. With fewer than two pictures nothing would ever change,
    // so it stops instead and returns false.
    bool Start(PlaybackSchedule schedule, int fromPicture);
    void Stop();
    bool IsPlaying() const noexcept { return m_playing; }

public slots:
    // Announces the picture due now when it differs from the last one, then arms
    // the timer for the next change. The timer calls it; a test with its own
    // clock may too.
    void Wake();

signals:
    // picture counts from 1, as the frame scroll bar does.
    void pictureDue(int picture);
    void playingChanged(bool playing);

private:
    std::int64_t PlaybackTime() const;
    void ArmFor(std::int64_t dueTime);

    const PlaybackClock& m_clock;
    QTimer* m_timer = nullptr;
    PlaybackSchedule m_schedule;
    std::int64_t m_origin = 0;  // the clock's reading at playback time 0
    int m_shown = 0;            // 1-based
    bool m_playing = false;
    // Changes at every Start and Stop, so a wake can tell that a slot connected to
    // pictureDue stopped or restarted playback and leave the timer alone.
    unsigned m_run = 0;
};

}  // namespace varek
