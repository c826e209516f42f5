#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/environment.h"
#include "base/log_file.h"
#include "session/preferences.h"
#include "test_support.h"

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(LoadConfig, ReadsVideoFolderFromCurrentDirectory) {
    TempDir dir;
    const std::string previous = std::filesystem::current_path();
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    gLog.setEcho(false);

    videoFolder = "/kept/";
    testing::internal::CaptureStdout();
    EXPECT_EQ(loadConfig(), -1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(videoFolder, "/kept/");

    writeFile("default.cfg", "video.folder= /home/teacher/课堂 录像/ \n");
    EXPECT_EQ(loadConfig(), 0);
    EXPECT_EQ(videoFolder, "/home/teacher/课堂 录像/");
    EXPECT_EQ(readFile("default.cfg"), "video.folder= /home/teacher/课堂 录像/ \n");

    // A folder written without its final "/" still holds the recordings, not its parent.
    writeFile("default.cfg", "video.folder_old=/old\nvideo.folder=/srv/lessons\n");
    EXPECT_EQ(loadConfig(), 0);
    EXPECT_EQ(videoFolder, "/srv/lessons/");

    // The pointer and click choices, the monitor and the camera size; and their defaults.
    writeFile("default.cfg",
              "video.cursor=0\nvideo.clicks=1\nvideo.monitor=DP-2\ncamera.size=1280x720\n");
    EXPECT_EQ(loadConfig(), 0);
    EXPECT_FALSE(recordPointer);
    EXPECT_TRUE(showClicks);
    EXPECT_EQ(monitorName, "DP-2");
    EXPECT_EQ(cameraSize, "1280x720");
    writeFile("default.cfg", "video.folder=/srv/lessons/\n");
    EXPECT_EQ(loadConfig(), 0);
    EXPECT_TRUE(recordPointer);
    EXPECT_FALSE(showClicks);
    EXPECT_EQ(monitorName, "");
    EXPECT_EQ(cameraSize, "");

    ASSERT_EQ(chdir(previous.c_str()), 0);
}
