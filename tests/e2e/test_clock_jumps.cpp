// The system clock set an hour forward and then back during a recording (a user changing the
// time, or NTP): the recording goes by the monotonic clock and its file holds the time that
// really passed. The program runs under libfaketime, which moves only the system clock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
#include "pulse_fixtures.h"
#include "test_support.h"

using namespace testsupport;

namespace {

constexpr const char* kFakeTimeLibrary = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";

void setClockOffset(const std::string& file, const char* offset) {
    std::ofstream(file) << offset << "\n";
}

}  // namespace

TEST(ClockJumps, AnHourForwardAndBackLeaveTheRecordingAsLongAsItRan) {
    gLog.setEcho(false);
    if (access(kFakeTimeLibrary, R_OK) != 0) GTEST_SKIP() << "needs libfaketime (scripts/setup)";
    if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    TempDir dir;
    const std::string offsetFile = dir.file("offset");
    setClockOffset(offsetFile, "+0");
    GlimmoraProgram program;
    ScreenMotion motion(20, 20);  // every slot gets a picture
    ASSERT_TRUE(program.start({{"LD_PRELOAD", kFakeTimeLibrary},
                               {"FAKETIME_TIMESTAMP_FILE", offsetFile},
                               {"FAKETIME_NO_CACHE", "1"},
                               {"FAKETIME_DONT_FAKE_MONOTONIC", "1"}}));
    ASSERT_FALSE(program.chooseMode("screen").isEmpty());
    OS_Thread::msleep(1500);
    program.key("F3");
    OS_Thread::msleep(2000);
    setClockOffset(offsetFile, "+1h");
    OS_Thread::msleep(2000);
    setClockOffset(offsetFile, "-1h");
    OS_Thread::msleep(2000);
    program.key("F4");
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 1; }, 10000));
    program.process().terminate();

    AvFile file;
    ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
    // Six seconds between the keys, whatever the system clock said.
    EXPECT_NEAR(file.durationSeconds(), 6.0, 0.4);
    EXPECT_GE(int(file.picturePts().size()), int(0.95 * 25 * 6));
    const Sound sound = file.sound();
    EXPECT_NEAR(sound.seconds(), file.durationSeconds(), 0.1);
    EXPECT_NEAR(sound.toneHz(0), 440.0, 5.0);
}
