#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "art/Playback.h"

using namespace varek;

namespace {

// Pictures standing for frameCounts frames of speed 1/70 s each, 5 for speed 0.
std::vector<PictureFrames> Pictures(const std::vector<std::int32_t>& frameCounts,
                                    std::uint16_t speed)
{
    std::vector<PictureFrames> pictures;
    std::int32_t first = 1;
    for (std::int32_t count : frameCounts) {
        pictures.push_back({first, count, count * (speed == 0 ? 5 : speed) * kFliTick});
        first += count;
    }
    return pictures;
}

// Speed 0 and a picture standing for 3 frames: ticks of 5/70 s, starts 0, 1 and 4
// ticks, a loop of 5.
constexpr std::int64_t kLoop = 357'142'857;

}  // namespace

TEST(PlaybackSchedule, PictureDueAndNextChange)
{
    struct Case {
        const char* what;
        std::vector<std::int32_t> frameCounts;
        std::uint16_t speed;
        std::int64_t time;
        int picture;
        std::optional<std::int64_t> nextDue;
    };
    const std::vector<std::int32_t> ten001(10'001, 1);
    const Case cases[] = {
        {"speed 0 is 5 ticks", {1, 1}, 0, 71'428'570, 0, 71'428'571},
        {"speed 0 is 5 ticks", {1, 1}, 0, 71'428'571, 1, 142'857'143},
        {"3 frames, 3 ticks", {1, 3, 1}, 0, 285'714'285, 1, 285'714'286},
        {"3 frames, 3 ticks", {1, 3, 1}, 0, 285'714'286, 2, kLoop},
        {"loops", {1, 3, 1}, 0, kLoop + 100, 0, kLoop + 71'428'571},
        {"loops", {1, 3, 1}, 0, 1000 * kLoop + 285'714'286, 2, 1001 * kLoop},
        {"late query skips", {1, 1, 1, 1}, 1, 35'714'286, 2, 42'857'143},
        {"no drift", ten001, 1, 142'857'142'856, 9'999, 142'857'142'857},
        {"no drift", ten001, 1, 142'857'142'857, 10'000, 142'871'428'571},
        {"no time is the shortest", {0, 1}, 1, 142'856, 0, 142'857},
        {"still", {4}, 1, 123, 0, std::nullopt},
        {"nothing", {}, 1, 0, -1, std::nullopt},
    };
    for (const Case& c : cases) {
        const std::vector<PictureFrames> pictures = Pictures(c.frameCounts, c.speed);
        const PlaybackSchedule schedule(pictures);
        EXPECT_EQ(schedule.PictureAt(c.time), c.picture) << c.what << " at " << c.time;
        EXPECT_EQ(schedule.NextDueAfter(c.time), c.nextDue) << c.what << " at " << c.time;
    }

    const std::vector<PictureFrames> pictures = Pictures({1, 3, 1}, 0);
    const PlaybackSchedule schedule(pictures);
    EXPECT_EQ(schedule.LoopLength(), kLoop);
    // Playing from picture 2 starts the playback time at its start.
    EXPECT_EQ(schedule.StartOf(2), 285'714'286);
    EXPECT_EQ(schedule.PictureAt(schedule.StartOf(2)), 2);
    EXPECT_EQ(schedule.PictureAt(schedule.StartOf(2) + 71'428'571), 0);
    EXPECT_EQ(PlaybackSchedule().LoopLength(), 0);
}

TEST(GifDelays, WholeHundredthsThatNeverDrift)
{
    struct Case {
        const char* what;
        std::vector<std::int32_t> frameCounts;
        std::uint16_t speed;
        std::vector<std::int64_t> delays;
    };
    const Case cases[] = {
        // 5/70 s is 7.14 hundredths: ends at 7.14, 14.29 and 21.43 round to 7, 14, 21.
        {"speed 0 is 5 ticks", {1, 1, 1}, 0, {7, 7, 7}},
        // Ends at 7.14 and 28.57 (3 more ticks of 5/70 s).
        {"3 frames, 3 ticks", {1, 3}, 0, {7, 22}},
        {"whole hundredths", {2}, 35, {100}},
        {"nothing", {}, 1, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ComputeGifDelays(Pictures(c.frameCounts, c.speed)), c.delays) << c.what;
    }
    // FLC durations in milliseconds: ends at 1.5, 3.0 and 4.5 hundredths round half up.
    const std::vector<PictureFrames> milliseconds(3, PictureFrames{1, 1, 15 * kFlcMillisecond});
    EXPECT_EQ(ComputeGifDelays(milliseconds), (std::vector<std::int64_t>{2, 1, 2}));

    // At speed 1 a picture lasts 1.43 hundredths: after picture i the total stays
    // within half a hundredth of the exact 100 i / 70.
    const std::vector<std::int64_t> delays =
        ComputeGifDelays(Pictures(std::vector<std::int32_t>(1000, 1), 1));
    ASSERT_EQ(delays.size(), 1000u);
    std::int64_t total = 0;
    for (std::size_t i = 0; i < delays.size(); ++i) {
        total += delays[i];
        const std::int64_t exactTimes70 = 100 * static_cast<std::int64_t>(i + 1);
        EXPECT_LE(std::abs(total * 70 - exactTimes70), 35) << "after picture " << i;
    }
}

// Milliseconds carried as the hundredths above: a picture at speed 1 lasts
// 14.29 ms, ends at 14.29, 28.57, 42.86 and 57.14 round to 14, 29, 43 and 57, and
// after 1000 pictures the total is still within half a millisecond of 1000/70 s.
TEST(MillisecondClock, WholeMillisecondsThatNeverDrift)
{
    const auto durations = [](const std::vector<PictureFrames>& pictures) {
        MillisecondClock clock;
        std::vector<std::int64_t> result;
        for (const PictureFrames& picture : pictures) {
            result.push_back(clock.Next(picture));
        }
        return result;
    };
    EXPECT_EQ(durations(Pictures({1, 1, 1, 1}, 1)), (std::vector<std::int64_t>{14, 15, 14, 14}));
    EXPECT_EQ(durations(Pictures({2, 1}, 0)), (std::vector<std::int64_t>{143, 71}));
    EXPECT_EQ(durations({PictureFrames{1, 1, 15 * kFlcMillisecond}}),
              (std::vector<std::int64_t>{15}));
    std::int64_t total = 0;
    const std::vector<std::int64_t> long1 =
        durations(Pictures(std::vector<std::int32_t>(1000, 1), 1));
    for (std::size_t i = 0; i < long1.size(); ++i) {
        total += long1[i];
        EXPECT_LE(std::abs(total * 70 - 1000 * static_cast<std::int64_t>(i + 1)), 35) << i;
    }
}
