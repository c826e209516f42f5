// The log, the settings file and the multimedia timer.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "base/config_file.h"
#include "base/log_file.h"
#include "base/mm_timer.h"
#include "base/os_thread.h"
#include "test_support.h"

using namespace testsupport;

namespace {

std::vector<std::pair<int, std::string>> sunk;

int recordSink(int level, const char* message) {
    sunk.emplace_back(level, message);
    return 0;
}

const std::string kStamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)";

}  // namespace

TEST(LogFile, RecordsCarryStampAndTagAboveTheLevelAndAreCutAt511Characters) {
    TempDir dir;
    LogFile log;
    EXPECT_EQ(log.open(dir.path().c_str(), "a"), -1) << "a folder is no file";
    ASSERT_EQ(log.open(dir.file("log.txt").c_str(), "a"), 0);
    log.setEcho(false);
    log.setSink(recordSink);
    log.info("------------ * program start * -----------\n");
    log.error("device %s failed: %d\n", "mic", -5);
    log.fatal("no newline");
    log.warn("%s\n", "folder 100%d done %s");  // a percent sign arriving in an argument
    log.setLevel(LogFile::kInfo);
    log.debug("dropped\n");
    log.info("%s", std::string(700, 'x').c_str());

    const std::string text = readFile(dir.file("log.txt"));
    EXPECT_TRUE(std::regex_match(
        text, std::regex("^" + kStamp + R"( \[INF\]  ------------ \* program start \* -----------
)" + kStamp + R"( \[ERR\]  device mic failed: -5
)" + kStamp + R"( \[FTL\]  no newline)" +
                         kStamp + R"( \[WRN\]  folder 100%d done %s
)" + kStamp + R"( \[INF\]  x{511}$)")))
        << text;
    ASSERT_EQ(sunk.size(), 5u);
    EXPECT_EQ(sunk[3], std::make_pair(int(LogFile::kWarn), std::string("folder 100%d done %s\n")));
}

namespace {

std::string bigFile() {
    std::string big = "video.folder=/v/\n";
    while (big.size() < 100 * 1024)
        big += "filler line that pads the configuration file\n";
    return big;
}

const std::string kBinary("\x00\xff\xfe=\x01\n", 6);

// A file as found, what get(key) finds in it, whether set(key, newValue) is taken, and the file
// once the store is closed.
struct Case {
    std::string file;
    uint32_t capacity;
    std::string key;
    std::optional<std::string> found;
    std::string newValue;
    bool taken;
    std::string written;
};

}  // namespace

TEST(ConfigFile, SettingsAreFoundTrimmedReplacedInPlaceOrAppendedAndNeverCutOnDisk) {
    gLog.setEcho(false);
    const std::string cutOff = "other=1\nvideo.folder=/" + std::string(10000, 'x') + "/\n";
    const Case cases[] = {
        {"video.folder= \t /srv/my videos/ \t\r\nother=录像\n", 8192, "video.folder",
         "/srv/my videos/", "/s/", true, "video.folder=/s/\nother=录像\n"},
        {"note=video.folder=/no/\nvideo.folder=/first/\nvideo.folder=/second/\n", 8192,
         "video.folder", "/first/", "/a/much/longer/folder/", true,
         "note=video.folder=/no/\nvideo.folder=/a/much/longer/folder/\nvideo.folder=/second/\n"},
        {"video.folder_old=/o/\nvideo.folders=/m/\nvideo.folder \t= /mine/\n", 8192, "video.folder",
         "/mine/", "/n/", true, "video.folder_old=/o/\nvideo.folders=/m/\nvideo.folder=/n/\n"},
        {"video.folder\nvideo.folder.backup=/b/\n", 8192, "video.folder", std::nullopt, "/n/", true,
         "video.folder\nvideo.folder.backup=/b/\nvideo.folder=/n/\n"},
        {"a=1\nb=2", 8192, "c", std::nullopt, "3", true, "a=1\nb=2\nc=3\n"},
        {"", 8192, "video.folder", std::nullopt, "/x/", true, "\nvideo.folder=/x/\n"},
        // Exactly filling the buffer (text and its terminating zero) is allowed, not more.
        {"a=1\n", 32, "b", std::nullopt, std::string(32 - 1 - 4 - 3, 'y'), true,
         "a=1\nb=" + std::string(24, 'y') + "\n"},
        {"a=1\n", 32, "b", std::nullopt, std::string(32 - 4 - 3, 'y'), false, "a=1\n"},
        {bigFile(), 8192, "video.folder", "/v/", "/w/", false, bigFile()},
        {cutOff, 8192, "video.folder", std::nullopt, "/w/", false, cutOff},
        {kBinary + "fps=25x\nname=abc\n", 8192, "name", "abc", "xyz", true,
         kBinary + "fps=25x\nname=xyz\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.file("default.cfg");
        writeFile(path, c.file);
        ConfigFile config;
        ASSERT_TRUE(config.load(path, c.capacity));
        std::string value = "untouched";
        EXPECT_EQ(config.get(c.key, value), c.found.has_value()) << c.file.substr(0, 60);
        EXPECT_EQ(value, c.found.value_or("untouched"));
        EXPECT_EQ(config.set(c.key, c.newValue), c.taken) << c.file.substr(0, 60);
        config.close();
        EXPECT_EQ(readFile(path), c.written);
    }
}

namespace {

constexpr int kPeriodMs = 40;
constexpr int64_t kPeriodUs = kPeriodMs * 1000;

// Notes each tick's due time and what was slept through before it; onTick may ask the timer to
// sleep.
class Recorder : public MMTimerCallback {
public:
    explicit Recorder(MMTimer& timer) : timer(timer) {}
    int onTimer(int) override {
        const int tick = count.load();
        if (tick >= kTicks) return 0;
        due[tick] = timer.tickDueUs();
        slept[tick] = timer.ticksSlept();
        if (onTick) onTick(tick);
        count.store(tick + 1);
        return 0;
    }
    static constexpr int kTicks = 12;
    MMTimer& timer;
    std::function<void(int)> onTick;
    int64_t due[kTicks] = {}, slept[kTicks] = {};
    std::atomic<int> count{0};
};

}  // namespace

TEST(MMTimer, ASleepingTimerWakesForItsDescriptorOrItsDeadlineAndCountsWhatItSlept) {
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    ASSERT_GE(fd, 0);
    MMTimer timer;
    Recorder ticks(timer);
    // Tick 1 sleeps for up to a second; tick 2 (woken early) sleeps until the deadline.
    ticks.onTick = [&](int tick) {
        uint64_t value;
        if (read(fd, &value, sizeof value) < 0) {
        }
        if (tick == 1 || tick == 2) timer.sleepAfterTick(fd, ticks.due[tick] + 25 * kPeriodUs);
    };
    ASSERT_EQ(timer.start(1, kPeriodMs, &ticks), 0);
    ASSERT_TRUE(waitUntil([&] { return ticks.count == 2; }, 2000));
    OS_Thread::msleep(300);
    EXPECT_EQ(ticks.count.load(), 2) << "asleep";
    const uint64_t one = 1;
    ASSERT_EQ(write(fd, &one, sizeof one), ssize_t(sizeof one));
    ASSERT_TRUE(waitUntil([&] { return ticks.count == 4; }, 3000));
    timer.stop();
    close(fd);
    // Woken about 300 ms in: the first tick on the grid after it, the ones before it slept.
    const int64_t woken = ticks.due[2] - ticks.due[1];
    EXPECT_EQ(woken % kPeriodUs, 0);
    EXPECT_GE(woken, 7 * kPeriodUs);
    EXPECT_LE(woken, 12 * kPeriodUs);
    EXPECT_EQ(ticks.slept[2], woken / kPeriodUs - 1);
    // Not woken: the tick due at the deadline.
    EXPECT_EQ(ticks.due[3] - ticks.due[2], 25 * kPeriodUs);
    EXPECT_EQ(ticks.slept[3], 24);
}
