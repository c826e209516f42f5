// Start-up of the real program: it runs from a copy of the executable in a folder of its own,
// started from another current directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "test_support.h"

using testsupport::ChildProcess;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::waitUntil;
using testsupport::writeFile;

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (scripts/test provides one)";
        std::filesystem::copy_file(GLIMMORA_EXE, exe);
    }

    std::string logText() { return readFile(programDir.file("glimmora.log.txt")); }

    // Runs the program until its start-up has logged the video folder, then ends it.
    std::string runOnce() {
        const size_t before = logText().size();
        ChildProcess program;
        EXPECT_TRUE(program.start({exe}, otherDir.path()));
        const bool started = waitUntil(
            [&] { return logText().find("video folder: ", before) != std::string::npos; }, 20000);
        EXPECT_TRUE(program.running()) << "the program ended during start-up";
        program.terminate();
        EXPECT_TRUE(started) << logText();
        return logText().substr(before);
    }

    static std::string videoFolderIn(const std::string& log) {
        std::smatch match;
        if (!std::regex_search(log, match, std::regex("video folder: (.*)\n"))) return "";
        return match[1];
    }

    TempDir programDir;
    TempDir otherDir;
    std::string exe = programDir.file("glimmora");
};

}  // namespace

TEST_F(StartupTest, AppendsProgramStartBesideExecutableOnEveryRun) {
    runOnce();
    runOnce();
    const std::regex start(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \[INF\]  ------------ \* program start \* -----------)");
    const std::string log = logText();
    EXPECT_EQ(
        std::distance(std::sregex_iterator(log.begin(), log.end(), start), std::sregex_iterator()),
        2)
        << log;
    EXPECT_FALSE(std::filesystem::exists(otherDir.file("glimmora.log.txt")));
}

TEST_F(StartupTest, VideoFolderFallsBackBesideExecutable) {
    const std::string fallback = programDir.path() + "/video/";
    EXPECT_EQ(videoFolderIn(runOnce()), fallback) << "without default.cfg";

    writeFile(programDir.file("default.cfg"), "video.folder=\n");
    EXPECT_EQ(videoFolderIn(runOnce()), fallback) << "with an empty video.folder";
    EXPECT_EQ(readFile(programDir.file("default.cfg")), "video.folder=\n");

    writeFile(programDir.file("default.cfg"), "video.folder=/srv/lessons/\n");
    EXPECT_EQ(videoFolderIn(runOnce()), "/srv/lessons/");
    // Start-up does not create the folder: recording does.
    EXPECT_FALSE(std::filesystem::exists(fallback));
}

TEST_F(StartupTest, UnwritableLogEndsSilentlyBeforeAnyWindow) {
    // A folder in the log's place cannot be opened for appending, even by root.
    std::filesystem::create_directory(programDir.file("glimmora.log.txt"));
    ChildProcess program;
    // Without a display a Qt application could not even start: ending with 0 here shows the
    // program stopped before creating one.
    ASSERT_TRUE(program.start({exe}, otherDir.path(),
                              {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}));
    ASSERT_TRUE(program.waitForExit(20000)) << "the program kept running";
    EXPECT_EQ(program.exitStatus(), 0);
}
