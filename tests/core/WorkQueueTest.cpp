#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "util/WorkQueue.h"

using varek::WorkQueue;

namespace {

// Every task runs once and Finish waits for all of them; with one thread they run
// in the order submitted; without threads each runs on the caller's thread before
// Submit returns. What a task throws comes to the caller once, from Submit when the
// task ran there, otherwise from Finish; the other tasks still run.
TEST(WorkQueueTest, RunsEveryTaskWhereAndInTheOrderItShouldAndPassesAFailureOnOnce)
{
    for (const unsigned threads : {0u, 1u, 4u}) {
        SCOPED_TRACE(threads);
        WorkQueue queue(threads, 2);
        ASSERT_EQ(queue.Threads(), threads);
        std::mutex mutex;
        std::vector<int> order;
        std::vector<std::thread::id> ranOn;
        std::size_t ranBeforeReturn = 0;
        std::string thrown;
        for (int i = 0; i < 200; ++i) {
            try {
                queue.Submit([&, i] {
                    {
                        const std::lock_guard lock(mutex);
                        order.push_back(i);
                        ranOn.push_back(std::this_thread::get_id());
                    }
                    if (i == 7 || i == 9) {
                        throw std::runtime_error("task " + std::to_string(i));
                    }
                });
            } catch (const std::runtime_error& error) {
                thrown += error.what() + std::string(";");
            }
            const std::lock_guard lock(mutex);
            ranBeforeReturn += order.size() == static_cast<std::size_t>(i + 1) ? 1 : 0;
        }
        try {
            queue.Finish();
        } catch (const std::runtime_error& error) {
            thrown += error.what() + std::string(";");
        }
        std::vector<int> expected(200);
        std::iota(expected.begin(), expected.end(), 0);
        if (threads <= 1) {
            EXPECT_EQ(order, expected);
        }
        std::sort(order.begin(), order.end());
        EXPECT_EQ(order, expected);
        const auto onCaller = static_cast<std::size_t>(
            std::count(ranOn.begin(), ranOn.end(), std::this_thread::get_id()));
        EXPECT_EQ(onCaller, threads == 0 ? 200u : 0u);
        if (threads == 0) {
            EXPECT_EQ(ranBeforeReturn, 200u);
            EXPECT_EQ(thrown, "task 7;task 9;");
        } else if (threads == 1) {
            EXPECT_EQ(thrown, "task 7;");
        } else {
            EXPECT_TRUE(thrown == "task 7;" || thrown == "task 9;") << thrown;
        }
    }
}

// Submit waits while tasksPerThread tasks a thread are unfinished, so that what
// they hold stays bounded however many are submitted.
TEST(WorkQueueTest, HoldsAtMostTasksPerThreadUnfinished)
{
    WorkQueue queue(2, 3);
    ASSERT_EQ(queue.Threads(), 2u);
    const std::size_t limit = 6;
    std::atomic<bool> open{false};
    std::atomic<std::size_t> submitted{0};
    std::atomic<std::size_t> finished{0};
    // The tasks wait until limit of them were submitted: an unbounded queue would
    // take all of them meanwhile.
    std::thread opener([&] {
        while (submitted.load() < limit) {
            std::this_thread::yield();
        }
        open = true;
        open.notify_all();
    });
    std::size_t mostUnfinished = 0;
    for (int i = 0; i < 40; ++i) {
        queue.Submit([&] {
            open.wait(false);
            ++finished;
        });
        ++submitted;
        mostUnfinished = std::max(mostUnfinished, submitted.load() - finished.load());
    }
    queue.Finish();
    opener.join();
    EXPECT_LE(mostUnfinished, limit);
    EXPECT_EQ(finished.load(), 40u);
}

}  // namespace
