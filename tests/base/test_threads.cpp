#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/mono_clock.h"
#include "base/os_mutex.h"
#include "base/os_thread.h"
#include "base/stopwatch.h"

namespace {

class FlagThread : public OS_Thread {
public:
    int run() override {
        runs.fetch_add(1);
        while (!stop.load())
            msleep(1);
        ended.store(true);
        return 0;
    }
    std::atomic<int> runs{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};
};

}  // namespace

TEST(OS_Thread, RunsBodyOnceAndJoinWaitsForIt) {
    FlagThread thread;
    thread.join();  // never started: returns at once
    ASSERT_EQ(thread.start(), 0);
    EXPECT_EQ(thread.start(), -1) << "a running thread is not replaced";
    while (thread.runs.load() == 0)
        OS_Thread::msleep(1);
    thread.stop.store(true);
    thread.join();
    EXPECT_TRUE(thread.ended.load());
    EXPECT_EQ(thread.runs.load(), 1);
    thread.join();
}

TEST(OS_Mutex, DoesNothingBeforeCreationThenExcludes) {
    OS_Mutex mutex;
    EXPECT_EQ(mutex.lock(), -1);
    EXPECT_EQ(mutex.unlock(), -1);
    ASSERT_EQ(mutex.create(), 0);

    int counter = 0;  // guarded by mutex
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                OS_MutexLocker locker(mutex);
                ++counter;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 80000);
}

TEST(Stopwatch, StartsAtItsOffsetAndCountsMonotonicMilliseconds) {
    Stopwatch watch;
    EXPECT_EQ(watch.elapsed(), 0);
    watch.start(1000);
    const int64_t first = watch.elapsed();
    EXPECT_GE(first, 1000);
    EXPECT_LT(first, 2000);
    OS_Thread::msleep(50);
    EXPECT_GE(watch.elapsed(), first + 50);
    // A reading lies between the monotonic clock's readings around it.
    const int64_t beforeUs = monotonicMicroseconds();
    const int64_t reading = watch.elapsed() - 1000;
    const int64_t afterUs = monotonicMicroseconds();
    EXPECT_GE(reading, (beforeUs - watch.startedAtUs()) / 1000);
    EXPECT_LE(reading, (afterUs - watch.startedAtUs()) / 1000);
    watch.reset();
    EXPECT_EQ(watch.elapsed(), 0);
}
