// Half an hour of full-HD screen recording of a busy desktop (CTest label "long", outside the
// default suite): memory stays flat, no sound is lost, and the file is as long as the recording.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
#include "pulse_fixtures.h"

using namespace testsupport;

namespace {

constexpr int kMinutes = 30;

double residentMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

}  // namespace

TEST(LongRecording, HalfAnHourStaysFlatAndComplete) {
    gLog.setEcho(false);
    if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    GlimmoraProgram program;
    ChildProcess busy;
    ASSERT_TRUE(busy.start({GlimmoraProgram::buildFolder() + "/../bench/busy_screen", "25"}, ""));
    ASSERT_TRUE(program.start());
    const QRect window = program.chooseMode("screen");
    ASSERT_FALSE(window.isEmpty());
    program.click(window.topLeft() + GlimmoraProgram::screenRecorderControl("ctlFullScreen"));
    OS_Thread::msleep(1000);

    program.key("F3");
    ASSERT_TRUE(program.answerMessage());
    OS_Thread::msleep(60 * 1000);
    const double afterOneMinute = residentMegabytes(program.process().pid());
    OS_Thread::msleep((kMinutes - 1) * 60 * 1000);
    const double afterAll = residentMegabytes(program.process().pid());
    program.key("F4");
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 1; }, 10000));
    OS_Thread::msleep(1000);
    program.process().terminate();
    busy.terminate();

    printf("resident memory: %.1f MB after a minute, %.1f MB after %d minutes\n", afterOneMinute,
           afterAll, kMinutes);
    EXPECT_LT(afterAll, afterOneMinute * 1.05);
    EXPECT_LT(afterOneMinute, 200.0);
    const std::string log = program.log();
    for (const char* loss : {"dropped", "fell behind", "runs ahead", "missing from capture",
                             "left out", "stopped writing"})
        EXPECT_EQ(log.find(loss), std::string::npos) << "the log says: " << loss;

    std::smatch match;
    ASSERT_TRUE(
        std::regex_search(log, match, std::regex(R"(after ([0-9.]+) s on the recording clock)")));
    const double clockSeconds = std::stod(match[1]);
    AvFile file;
    ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
    const double pictureSeconds =
        double(file.stream(0)->duration) * av_q2d(file.stream(0)->time_base);
    printf("recording clock %.3f s, picture stream %.3f s, file %.3f s\n", clockSeconds,
           pictureSeconds, file.durationSeconds());
    EXPECT_NEAR(pictureSeconds, clockSeconds, 0.04 + 0.001) << "within one picture";
}
