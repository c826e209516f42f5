// Faults during a recording, and a crash: each ends with a file that plays and a log line that
// says what happened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
#include "pipeline/avi_recovery.h"
#include "pipeline/mp4_recovery.h"
#include "pulse_fixtures.h"

using namespace testsupport;

namespace {

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override { gLog.setEcho(false); }
};

}  // namespace

// Cut off and ended from outside its windows while recording. First its output pipe's reader
// goes away and the recording goes on until the terminal it was started from closes (SIGHUP);
// then the desktop session is logged out of (SIGTERM); then an X11 session ends under it (its
// display goes away). Each time the recording is finished on the way out and plays as it lies,
// with no repair at the next start.
TEST_F(FaultTest, EndedFromOutsideWhileRecordingItFinishesTheFile) {
    GlimmoraProgram program;
    // Its output into a pipe, whose path goes once the program holds it (the helper reads
    // the output's file after a failure).
    const std::string output = program.folder() + "/output.txt";
    ASSERT_EQ(mkfifo(output.c_str(), 0600), 0);
    const int reader = open(output.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    struct Unlink {
        std::string path;
        ~Unlink() { std::filesystem::remove(path); }
    } pipePath{output};
    enum Ending { kTerminalCloses, kLoggedOut, kDisplayEnds };
    for (const Ending ending : {kTerminalCloses, kLoggedOut, kDisplayEnds}) {
        ASSERT_TRUE(program.start());
        ASSERT_FALSE(program.chooseMode("screen").isEmpty());
        program.key("F3");
        ASSERT_TRUE(waitUntil(
            [&] { return countOf(program.log(), "recording into") == 1 + int(ending); }, 5000));
        if (ending == kTerminalCloses) {
            std::filesystem::remove(output);
            close(reader);
        }
        OS_Thread::msleep(2000);
        if (ending == kDisplayEnds) {
            program.endDisplay();
        } else {
            ASSERT_FALSE(program.process().waitForExit(0)) << "ended with its output";
            kill(program.process().pid(), ending == kLoggedOut ? SIGTERM : SIGHUP);
        }
        ASSERT_TRUE(program.process().waitForExit(10000));
        // Qt ends the program itself (with 1) when the display goes.
        EXPECT_EQ(program.exitStatus(), ending == kDisplayEnds ? 1 : 0);
    }
    EXPECT_TRUE(program.logged("ending while recording: finishing")) << program.log();
    ASSERT_EQ(program.recordings().size(), 3u);
    for (const std::string& path : program.recordings()) {
        EXPECT_FALSE(isUnfinishedAvi(path)) << path;
        EXPECT_EQ(ffmpegComplaints(path), "");
        AvFile file;
        ASSERT_TRUE(file.open(path)) << file.error();
        EXPECT_GT(file.durationSeconds(), 1.5) << path;
    }
}

TEST_F(FaultTest, RecordingThatCannotBeRebuiltIsToldAtStartAndKept) {
    TempDir place;
    const std::string folder = place.file("small-disk");
    std::filesystem::create_directory(folder);
    SmallDisk disk(folder, "24m");
    if (!disk.ok()) GTEST_SKIP() << "cannot mount a small disk here (needs root)";
    // A recording cut short in its header's first bytes, too large to be copied beside itself.
    std::string cut(
        "RIFF\xff\xff\xff\xff"
        "AVI ",
        12);
    cut.resize(14 << 20, '\0');
    const std::string path = folder + "/20261207-080000-screen.avi";
    writeFile(path, cut);

    GlimmoraProgram program(folder + "/");
    ASSERT_TRUE(program.start());
    EXPECT_FALSE(program.waitForWindow("录像修复").isEmpty()) << "the user is told at start";
    program.process().terminate();
    EXPECT_TRUE(program.logged("MB free on its disk to be rebuilt")) << program.log();
    EXPECT_EQ(readFile(path), cut) << "the original is kept as it was";
}

// Killed on a still screen, where little data flows and most would wait in buffers, in each
// format: at most the last second is lost. An AVI is rebuilt; an MP4 killed between two
// fragments is finished where it lies, one killed while a fragment was written has its whole
// packets copied.
TEST_F(FaultTest, KilledRecordingIsRebuiltAtTheNextStart) {
    if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    GlimmoraProgram program;
    for (const std::string format : {"avi", "mp4"}) {
        const size_t count = format == "avi" ? 1 : 2;
        if (format == "mp4")
            writeFile(program.folder() + "/default.cfg",
                      readFile(program.folder() + "/default.cfg") + "video.format=mp4\n");
        ASSERT_TRUE(program.start());
        ASSERT_FALSE(program.chooseMode("screen").isEmpty());
        OS_Thread::msleep(1500);
        program.key("F3");
        ASSERT_TRUE(waitUntil(
            [&] { return countOf(program.log(), "recording into") == int(count); }, 5000));
        OS_Thread::msleep(6000);
        kill(program.process().pid(), SIGKILL);
        program.waitForExit(5000);
        ASSERT_EQ(program.recordings().size(), count);
        const std::string path = program.recordings().back();
        EXPECT_TRUE(format == "avi" ? isUnfinishedAvi(path) : isUnfinishedMp4(path));
        struct stat status;
        ASSERT_EQ(stat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u) << "a lesson is for its teacher's eyes only";

        // At once: the lock died with the program, so its age does not matter. Closing the
        // chooser then ends the program.
        ASSERT_TRUE(program.start());
        ASSERT_FALSE(program.waitForWindow("选择工作模式").isEmpty());
        program.keyInWindow("选择工作模式", "Escape");
        EXPECT_TRUE(program.waitForExit(10000));
        EXPECT_EQ(program.exitStatus(), 0);
        EXPECT_EQ(countOf(program.log(), "recovery: rebuilt") +
                      countOf(program.log(), "it is an ordinary MP4 now"),
                  int(count))
            << program.log();
        EXPECT_FALSE(isUnfinishedAvi(path) || isUnfinishedMp4(path));
        EXPECT_EQ(ffmpegComplaints(path), "");
        AvFile file;
        ASSERT_TRUE(file.open(path)) << file.error();
        ASSERT_EQ(file.streamCount(), 2);
        // Every slot comes back, each picture lasting until the next (in AVI through empty
        // chunks), the last one to the end of the sound.
        const AVStream* picture = file.stream(0);
        EXPECT_GE(double(picture->duration) * av_q2d(picture->time_base), 5.0)
            << format << ": at least five of the six seconds of picture";
        EXPECT_GE(file.sound().seconds(), 5.0) << format << ": and of sound";
        EXPECT_GE(int(file.picturePts().size()), 5) << "a picture at least every second";
    }
}
