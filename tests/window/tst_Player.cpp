#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cstdint>
#include <vector>

#include "art/Playback.h"
#include "window/Player.h"

using namespace varek;

namespace {

class TestClock final : public PlaybackClock {
public:
    std::int64_t now = 5'000;
    std::int64_t NowNanoseconds() const override { return now; }
};

PlaybackSchedule Schedule(const std::vector<std::int32_t>& frameCounts, std::uint16_t speed)
{
    std::vector<PictureFrames> pictures;
    std::int32_t first = 1;
    for (std::int32_t count : frameCounts) {
        pictures.push_back({first, count, count * (speed == 0 ? 5 : speed) * kFliTick});
        first += count;
    }
    return PlaybackSchedule(pictures);
}

// A player on a clock the test sets, with its timer and its two signals recorded.
struct Playing {
    TestClock clock;
    const std::int64_t start = clock.now;
    Player player{clock};
    QTimer* timer = player.findChild<QTimer*>();
    QSignalSpy due{&player, &Player::pictureDue};
    QSignalSpy playing{&player, &Player::playingChanged};
};

// Speed 1: a tick of 1/70 s is 14285714.29 ns, so picture n of one frame each is
// due at round(n * that).
constexpr std::int64_t kTick = 14'285'714;

}  // namespace

class TestPlayer : public QObject {
    Q_OBJECT

private slots:
    void playsEachPictureForItsFramesAndLoops();
    void fallingBehindSkipsToThePictureDueNow();
    void startsFromAPictureAndStops();
    void timerWakesThePlayer();
};

void TestPlayer::playsEachPictureForItsFramesAndLoops()
{
    // Speed 0 is a tick of 5/70 s; the second picture stands for 3 frames.
    Playing p;
    auto& [clock, start, player, timer, due, playing] = p;
    QVERIFY(player.Start(Schedule({1, 3, 1}, 0), 1));
    QCOMPARE(playing.takeFirst().at(0).toBool(), true);
    QCOMPARE(timer->interval(), 72);

    struct Step {
        std::int64_t sinceStart;
        int picture;  // announced by the wake, 0 for none
        int wakeInMs;
    };
    const Step steps[] = {
        {71'428'570, 0, 1},
        {71'428'571, 2, 215},
        {285'714'285, 0, 1},
        {285'714'286, 3, 72},
        {357'142'856, 0, 1},
        {357'142'857, 1, 72},
        {357'142'857 + 71'428'571, 2, 215},
    };
    for (const Step& step : steps) {
        clock.now = start + step.sinceStart;
        player.Wake();
        QCOMPARE(due.isEmpty() ? 0 : due.takeFirst().at(0).toInt(), step.picture);
        QVERIFY(due.isEmpty());
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), step.wakeInMs);
    }
    QVERIFY(player.IsPlaying());
    QVERIFY(playing.isEmpty());
}

void TestPlayer::fallingBehindSkipsToThePictureDueNow()
{
    Playing p;
    auto& [clock, start, player, timer, due, playing] = p;
    player.Start(Schedule({1, 1, 1, 1, 1, 1}, 1), 1);

    // A wake two and a half ticks late shows picture 3, never 2.
    clock.now = start + 5 * kTick / 2;
    player.Wake();
    QCOMPARE(due.takeFirst().at(0).toInt(), 3);
    QCOMPARE(timer->interval(), 8);

    // Showing picture 4 takes two ticks: the next wake comes at once and skips 5.
    QObject::connect(&player, &Player::pictureDue, [&clock](int picture) {
        if (picture == 4) {
            clock.now += 2 * kTick;
        }
    });
    clock.now = start + 3 * kTick + 1;
    player.Wake();
    QCOMPARE(timer->interval(), 0);
    player.Wake();
    QCOMPARE(due.size(), 2);
    QCOMPARE(due.at(0).at(0).toInt(), 4);
    QCOMPARE(due.at(1).at(0).toInt(), 6);
}

void TestPlayer::startsFromAPictureAndStops()
{
    Playing p;
    auto& [clock, start, player, timer, due, playing] = p;
    QVERIFY(player.Start(Schedule({1, 1, 1, 1}, 1), 3));
    QCOMPARE(timer->interval(), 15);
    clock.now = start + kTick;
    player.Wake();
    QCOMPARE(due.takeFirst().at(0).toInt(), 4);

    // A slot that stops playback on a picture leaves no wake behind.
    QObject::connect(&player, &Player::pictureDue, &player, &Player::Stop);
    clock.now = start + 2 * kTick + 1;
    player.Wake();
    QCOMPARE(due.takeFirst().at(0).toInt(), 1);
    QVERIFY(!player.IsPlaying());
    QVERIFY(!timer->isActive());
    clock.now += 10 * kTick;
    player.Wake();
    QVERIFY(due.isEmpty());
    QCOMPARE(playing.size(), 2);
    QCOMPARE(playing.at(1).at(0).toBool(), false);

    // A still or nothing has no picture to step to.
    QVERIFY(!player.Start(Schedule({3}, 1), 1));
    QVERIFY(!player.Start(PlaybackSchedule(), 1));
    QVERIFY(!player.IsPlaying());
    QCOMPARE(playing.size(), 2);
}

void TestPlayer::timerWakesThePlayer()
{
    Playing p;
    p.player.Start(Schedule({1, 1}, 1), 1);
    p.clock.now += kTick;
    QTRY_COMPARE(p.due.size(), 1);
    QCOMPARE(p.due.at(0).at(0).toInt(), 2);
}

int RunPlayerTests(int argc, char** argv)
{
    TestPlayer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Player.moc"
