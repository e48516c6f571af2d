#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "art/Playback.h"

using namespace varek;

namespace {

std::vector<PictureFrames> Pictures(const std::vector<std::int32_t>& frameCounts)
{
    std::vector<PictureFrames> pictures;
    std::int32_t first = 1;
    for (std::int32_t count : frameCounts) {
        pictures.push_back({first, count});
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
        {"no frame is one", {0, 1}, 1, 14'285'713, 0, 14'285'714},
        {"still", {4}, 1, 123, 0, std::nullopt},
        {"nothing", {}, 1, 0, -1, std::nullopt},
    };
    for (const Case& c : cases) {
        const std::vector<PictureFrames> pictures = Pictures(c.frameCounts);
        const PlaybackSchedule schedule(pictures, c.speed);
        EXPECT_EQ(schedule.PictureAt(c.time), c.picture) << c.what << " at " << c.time;
        EXPECT_EQ(schedule.NextDueAfter(c.time), c.nextDue) << c.what << " at " << c.time;
    }

    const std::vector<PictureFrames> pictures = Pictures({1, 3, 1});
    const PlaybackSchedule schedule(pictures, 0);
    EXPECT_EQ(schedule.LoopLength(), kLoop);
    // Playing from picture 2 starts the playback time at its start.
    EXPECT_EQ(schedule.StartOf(2), 285'714'286);
    EXPECT_EQ(schedule.PictureAt(schedule.StartOf(2)), 2);
    EXPECT_EQ(schedule.PictureAt(schedule.StartOf(2) + 71'428'571), 0);
    EXPECT_EQ(PlaybackSchedule().LoopLength(), 0);
}
