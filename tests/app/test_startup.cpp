// Start-up: the user's choices read from "default.cfg", and the real program started from another
// current directory, from a copy of the executable in a folder of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "app/environment.h"
#include "base/log_file.h"
#include "session/preferences.h"
#include "test_support.h"

using namespace testsupport;

TEST(LoadConfig, ReadsTheChoicesOrKeepsTheirDefaults) {
    WorkingFolder dir;
    gLog.setEcho(false);
    videoFolder = "/kept/";
    testing::internal::CaptureStdout();
    EXPECT_EQ(loadConfig(), -1) << "no file";
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(videoFolder, "/kept/");

    // A folder written without its final "/" still holds the recordings, not its parent.
    writeFile("default.cfg",
              "video.folder_old=/old\nvideo.folder= /srv/课堂 录像 \nvideo.cursor=0\n"
              "video.clicks=1\nvideo.monitor=DP-2\ncamera.size=1280x720\nportal.token=t1\n"
              "video.format=mp4\n");
    EXPECT_EQ(loadConfig(), 0);
    EXPECT_EQ(videoFolder, "/srv/课堂 录像/");
    EXPECT_FALSE(recordPointer);
    EXPECT_TRUE(showClicks);
    EXPECT_EQ(monitorName, "DP-2");
    EXPECT_EQ(cameraSize, "1280x720");
    EXPECT_EQ(portalToken, "t1");
    EXPECT_EQ(videoFormat, "mp4");
    writeFile("default.cfg", "video.folder=/srv/lessons/\nvideo.format=mkv\n");
    EXPECT_EQ(loadConfig(), 0);
    EXPECT_TRUE(recordPointer);
    EXPECT_FALSE(showClicks);
    EXPECT_EQ(monitorName + cameraSize + portalToken, "");
    EXPECT_EQ(videoFormat, "avi") << "an unknown format is the default";
}

TEST(Startup, LogAndSettingsBesideTheExecutableWhereverItIsStartedFrom) {
    if (!getenv("DISPLAY")) GTEST_SKIP() << "needs an X display (scripts/test provides one)";
    TempDir programDir, otherDir;
    const std::string exe = programDir.file("glimmora");
    std::filesystem::copy_file(GLIMMORA_EXE, exe);
    const auto logText = [&] { return readFile(programDir.file("glimmora.log.txt")); };
    // Runs the program until its start-up has logged awaited (by default the video folder,
    // which comes before the windows), then ends it.
    const auto videoFolderOfARun = [&](const std::string& awaited = "video folder: ") {
        const size_t before = logText().size();
        ChildProcess program;
        EXPECT_TRUE(program.start({exe}, otherDir.path()));
        EXPECT_TRUE(
            waitUntil([&] { return logText().find(awaited, before) != std::string::npos; }, 20000))
            << awaited;
        program.terminate();
        std::smatch match;
        const std::string log = logText().substr(before);
        return std::regex_search(log, match, std::regex("video folder: (.*)\n"))
                   ? std::string(match[1])
                   : std::string();
    };
    // A broken style sheet and a folder line too long for the settings buffer: each is named in
    // the log, and the recordings go to the default folder.
    writeFile(programDir.file("default.skin"), "QPushButton { color: ; {{{ border: 2px");
    writeFile(programDir.file("default.cfg"), "video.folder=/" + std::string(10000, 'a'));
    const std::string fallback = programDir.path() + "/video/";
    EXPECT_EQ(videoFolderOfARun("Qt: Could not parse"), fallback);
    EXPECT_NE(logText().find("cut off"), std::string::npos) << logText();
    writeFile(programDir.file("default.cfg"), "video.folder=/srv/lessons/\n");
    EXPECT_EQ(videoFolderOfARun(), "/srv/lessons/");
    const std::string log = logText();
    const std::regex start(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \[INF\]  ------------ \* program start \* -----------)");
    EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), start), {}), 2) << log;
    EXPECT_FALSE(std::filesystem::exists(otherDir.file("glimmora.log.txt")));
    EXPECT_FALSE(std::filesystem::exists(fallback)) << "recording makes the folder, not start-up";

    // A folder in the log's place cannot be opened for appending, even by root. Without a
    // display a Qt application could not even start: ending with 0 shows that the program
    // stopped before making one.
    std::filesystem::remove(programDir.file("glimmora.log.txt"));
    std::filesystem::create_directory(programDir.file("glimmora.log.txt"));
    ChildProcess silent;
    ASSERT_TRUE(silent.start({exe}, otherDir.path(),
                             {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}));
    ASSERT_TRUE(silent.waitForExit(20000)) << "the program kept running";
    EXPECT_EQ(silent.exitStatus(), 0);
}
