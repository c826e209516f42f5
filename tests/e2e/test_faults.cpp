// Faults during a recording, and a crash: each ends with a file that plays and a log line that
// says what happened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
#include "pipeline/avi_recovery.h"
#include "pipeline/avi_scan.h"
#include "pulse_fixtures.h"
#include "virtual_display.h"

using namespace testsupport;

namespace {

class FaultTest : public ::testing::Test {
protected:
    void SetUp() override { gLog.setEcho(false); }
};

}  // namespace

TEST_F(FaultTest, SoundServerGoingAwayLeavesTheRecordingRunning) {
    PrivateSoundServer sound;
    ASSERT_TRUE(sound.ok());
    GlimmoraProgram program;
    ScreenMotion motion(20, 20);  // every slot gets a picture
    ASSERT_TRUE(program.start({{"PULSE_SERVER", sound.server()}}));
    ASSERT_FALSE(program.chooseMode("screen").isEmpty());
    OS_Thread::msleep(1500);
    program.key("F3");
    OS_Thread::msleep(3000);
    sound.kill();
    const auto killed = std::chrono::steady_clock::now();
    EXPECT_FALSE(program.waitForWindow("提示", 3000).isEmpty()) << "the user is told";
    // Paused for a second and resumed without sound: the pictures go on.
    ASSERT_TRUE(program.pauseFor(1000));
    std::this_thread::sleep_until(killed + std::chrono::seconds(4));
    program.key("F4");
    ASSERT_TRUE(waitUntil([&] { return program.recordings().size() == 1; }, 5000));
    program.process().terminate();
    EXPECT_EQ(program.exitStatus(), 0);
    EXPECT_TRUE(program.logged("lost its sound server")) << program.log();

    AvFile file;
    ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
    ASSERT_EQ(file.streamCount(), 2);
    // Seven seconds less the pause (a second, and how long the keys took to arrive, which a busy
    // machine stretches), as the program's clock counted them.
    const double recorded = program.recordedSeconds();
    ASSERT_GE(recorded, 0) << program.log();
    EXPECT_GT(recorded, 4.0);
    EXPECT_LT(recorded, 6.1) << "the paused second is not in the file";
    EXPECT_NEAR(file.durationSeconds(), recorded, 0.1) << "the picture goes on to the end";
    EXPECT_GE(int(file.picturePts().size()), int(0.95 * 25 * recorded));
    const double soundSeconds = file.sound().seconds();
    EXPECT_GT(soundSeconds, 2.0);
    EXPECT_LT(soundSeconds, 4.5) << "no sound after the server went";
}

// Cut off and ended from outside its windows while recording. First its output pipe's reader
// goes away and the recording goes on until the terminal it was started from closes (SIGHUP);
// then an X11 session ends under it (its display goes away). Each time the recording is finished
// on the way out and plays as it lies, with no repair at the next start.
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
    for (const bool displayEnds : {false, true}) {
        ASSERT_TRUE(program.start());
        ASSERT_FALSE(program.chooseMode("screen").isEmpty());
        program.key("F3");
        ASSERT_TRUE(waitUntil(
            [&] { return countOf(program.log(), "recording into") == 1 + int(displayEnds); },
            5000));
        if (!displayEnds) {
            std::filesystem::remove(output);
            close(reader);
        }
        OS_Thread::msleep(2000);
        if (displayEnds) {
            program.endDisplay();
        } else {
            ASSERT_FALSE(program.process().waitForExit(0)) << "ended with its output";
            kill(program.process().pid(), SIGHUP);
        }
        ASSERT_TRUE(program.process().waitForExit(10000));
        // Qt ends the program itself (with 1) when the display goes.
        EXPECT_EQ(program.exitStatus(), displayEnds ? 1 : 0);
    }
    EXPECT_TRUE(program.logged("ending while recording: finishing")) << program.log();
    ASSERT_EQ(program.recordings().size(), 2u);
    for (const std::string& path : program.recordings()) {
        EXPECT_FALSE(isUnfinishedAvi(path)) << path;
        EXPECT_EQ(ffmpegComplaints(path), "");
        AvFile file;
        ASSERT_TRUE(file.open(path)) << file.error();
        EXPECT_GT(file.durationSeconds(), 1.5) << path;
    }
}

TEST_F(FaultTest, FullDiskStopsTheRecordingAndKeepsWhatFits) {
    TempDir place;
    const std::string folder = place.file("small-disk");
    std::filesystem::create_directory(folder);
    SmallDisk disk(folder, "12m");
    if (!disk.ok()) GTEST_SKIP() << "cannot mount a small disk here (needs root)";

    GlimmoraProgram program(folder + "/");
    ChildProcess busy;  // every picture differs: the file grows quickly
    ASSERT_TRUE(busy.start({GlimmoraProgram::buildFolder() + "/../bench/busy_screen", "25"}, ""));
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.chooseMode("screen").isEmpty());
    OS_Thread::msleep(1000);
    program.key("F3");
    OS_Thread::msleep(2500);
    // Paused, nothing is written once what was taken before the pause is in the file (the
    // writer hands it on within half a second): another program fills the disk meanwhile, to
    // less than the writer keeps free. The resumed recording stops at once.
    ASSERT_TRUE(program.pauseFor(1000, [&] {
        const std::string file = program.recordings().at(0);
        auto size = std::filesystem::file_size(file);
        for (int wait = 0; wait < 10; ++wait) {
            OS_Thread::msleep(600);
            const auto now = std::filesystem::file_size(file);
            if (now == size) break;
            size = now;
        }
        const auto left = std::filesystem::space(folder).available;
        ASSERT_GT(left, 1u << 20);
        runCommand("dd if=/dev/zero of='" + folder + "/filler' bs=4096 count=" +
                   std::to_string((left - (512 << 10)) / 4096) + " 2>/dev/null");
    }));
    EXPECT_FALSE(program.windowShown("提示")) << "nothing was written while paused";
    ASSERT_FALSE(program.waitForWindow("提示", 60000).isEmpty()) << "the window says it stopped";
    program.keyInWindow("提示", "Return");
    busy.terminate();
    program.process().terminate();
    EXPECT_TRUE(program.logged("stopped writing")) << program.log();

    ASSERT_EQ(program.recordings().size(), 1u);
    AvFile file;
    ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
    EXPECT_EQ(file.streamCount(), 2);
    EXPECT_GT(file.durationSeconds(), 2.0) << "what fitted is there, with its index";
    EXPECT_GT(int(file.picturePts().size()), 40);

    // Finished with its index, it is not taken for a recording cut short at the next start.
    const auto written = std::filesystem::last_write_time(program.recordings()[0]);
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.waitForWindow("选择工作模式").isEmpty());
    program.process().terminate();
    EXPECT_FALSE(program.logged("recovery:")) << program.log();
    EXPECT_EQ(std::filesystem::last_write_time(program.recordings()[0]), written);
}

namespace {

// Threads of the running program that write a recording.
int writerThreads(int pid) {
    int count = 0;
    std::error_code error;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error))
        count += readFile(task.path().string() + "/comm") == "av-writer\n";
    return count;
}

}  // namespace

TEST_F(FaultTest, HammeredHotKeysLeaveOnlyPlayableFiles) {
    GlimmoraProgram program;
    ASSERT_TRUE(program.start());
    const QRect window = program.chooseMode("screen");
    ASSERT_FALSE(window.isEmpty());
    // The whole screen is taller than 800 pixels: every start shows its hint first, and the
    // keys keep coming while the hint waits for an answer.
    program.click(window.topLeft() + GlimmoraProgram::screenRecorderControl("ctlFullScreen"));
    OS_Thread::msleep(1000);
    // Start, stop and pause (a third of the keys, about seventy) at random.
    std::mt19937 random(2026);
    std::string keys;
    for (int i = 0; i < 200; ++i)
        keys += std::vector<const char*>{" F3", " F4", " F5"}[random() % 3];
    program.key("--delay 5" + keys);
    // Answer hints until none comes back, then stop whatever runs.
    for (int round = 0; round < 20 && program.windowShown("提示"); ++round) {
        program.keyInWindow("提示", "Return");
        OS_Thread::msleep(500);
    }
    OS_Thread::msleep(1000);
    program.key("F4");
    ASSERT_TRUE(waitUntil(
        [&] { return !program.windowShown("提示") && program.process().running(); }, 5000));
    OS_Thread::msleep(2000);
    ASSERT_TRUE(program.process().running()) << "still running";
    EXPECT_EQ(writerThreads(program.process().pid()), 0) << "every writer ended with its file";
    program.process().terminate();
    EXPECT_EQ(program.exitStatus(), 0);
    const auto files = program.recordings();
    EXPECT_GE(files.size(), 1u);
    for (const std::string& path : files) {
        AvFile file;
        EXPECT_TRUE(file.open(path)) << path << ": " << file.error();
        EXPECT_EQ(file.streamCount(), 2) << path;
        EXPECT_FALSE(isUnfinishedAvi(path)) << path;
    }
    EXPECT_EQ(countOf(program.log(), "recording into"), int(files.size()))
        << "each start made one file: " << program.log();
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

// Killed on a still screen, where little data flows and most would wait in buffers: at most
// the last second is lost.
TEST_F(FaultTest, KilledRecordingIsRebuiltAtTheNextStart) {
    if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    GlimmoraProgram program;
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.chooseMode("screen").isEmpty());
    OS_Thread::msleep(1500);
    program.key("F3");
    ASSERT_TRUE(waitUntil([&] { return program.logged("recording into"); }, 5000));
    OS_Thread::msleep(6000);
    kill(program.process().pid(), SIGKILL);
    program.waitForExit(5000);
    ASSERT_EQ(program.recordings().size(), 1u);
    const std::string path = program.recordings()[0];
    EXPECT_TRUE(isUnfinishedAvi(path)) << "the index is missing";

    struct stat status;
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "a lesson is for its teacher's eyes only";
    // At once: the lock died with the program, so its age does not matter.
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.waitForWindow("选择工作模式").isEmpty());
    program.process().terminate();
    EXPECT_TRUE(program.logged("recovery: rebuilt")) << program.log();

    EXPECT_FALSE(isUnfinishedAvi(path));
    AvFile file;
    ASSERT_TRUE(file.open(path)) << file.error();
    ASSERT_EQ(file.streamCount(), 2);
    // Every slot comes back, with a picture or as an empty chunk that repeats the one before.
    long chunks = 0;
    scanAvi(path, [&](int stream, int64_t, uint32_t) { chunks += stream == 0; });
    EXPECT_GE(chunks, 125) << "at least five of the six seconds of picture";
    EXPECT_GE(file.sound().seconds(), 5.0) << "and of sound";
    EXPECT_GE(int(file.picturePts().size()), 5) << "a picture at least every second";

    // The same in MP4: the cut file plays up to its last whole fragment, and the next start
    // makes it an ordinary MP4.
    writeFile(program.folder() + "/default.cfg",
              readFile(program.folder() + "/default.cfg") + "video.format=mp4\n");
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.chooseMode("screen").isEmpty());
    OS_Thread::msleep(1500);
    program.key("F3");
    ASSERT_TRUE(waitUntil([&] { return countOf(program.log(), "recording into") == 2; }, 5000));
    OS_Thread::msleep(6000);
    kill(program.process().pid(), SIGKILL);
    program.waitForExit(5000);
    ASSERT_EQ(program.recordings().size(), 2u);
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.waitForWindow("选择工作模式").isEmpty());
    program.process().terminate();
    // Killed between two fragments, it is finished where it lies; killed while one was written,
    // its whole packets are copied.
    EXPECT_EQ(countOf(program.log(), "recovery: rebuilt") +
                  countOf(program.log(), "it is an ordinary MP4 now"),
              2)
        << program.log();
    EXPECT_EQ(ffmpegComplaints(program.recordings()[1]), "");
    AvFile mp4;
    ASSERT_TRUE(mp4.open(program.recordings()[1])) << mp4.error();
    // Each picture lasts until the next, the last one to the end of the sound.
    const AVStream* picture = mp4.stream(0);
    const double pictureSeconds = double(picture->duration) * av_q2d(picture->time_base);
    printf("MP4 cut after 6 s, rebuilt: %.2f s of picture, %.2f s of sound, %.2f s in all\n",
           pictureSeconds, mp4.sound().seconds(), mp4.durationSeconds());
    EXPECT_GE(pictureSeconds, 5.0);
    EXPECT_GE(mp4.sound().seconds(), 5.0);
}
