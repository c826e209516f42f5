// The program from start to end: the chooser, closing while recording, a folder it cannot use.
#include <gtest/gtest.h>

#include <filesystem>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"

using namespace testsupport;

TEST(ProgramLifecycle, ClosingTheChooserEndsTheProgram) {
    gLog.setEcho(false);
    GlimmoraProgram program;
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.waitForWindow("选择工作模式").isEmpty());
    program.keyInWindow("选择工作模式", "Escape");
    EXPECT_TRUE(program.waitForExit(10000));
    EXPECT_EQ(program.exitStatus(), 0);
}

TEST(ProgramLifecycle, ChoosingOpensExactlyOneRecorderWindow) {
    gLog.setEcho(false);
    GlimmoraProgram program;
    ASSERT_TRUE(program.start());
    const QRect chooser = program.waitForWindow("选择工作模式");
    ASSERT_FALSE(chooser.isEmpty());
    ASSERT_FALSE(program.chooseMode("screen").isEmpty());
    EXPECT_FALSE(program.windowShown("选择工作模式"));
    EXPECT_FALSE(program.windowShown("摄像头录像"));
}

TEST(ProgramLifecycle, ClosingWhileRecordingFinishesThePlayableFile) {
    gLog.setEcho(false);
    GlimmoraProgram program;
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.chooseMode("screen").isEmpty());
    program.key("F3");
    OS_Thread::msleep(3000);
    // Escape closes a recorder window with the same clean-up as its close button.
    program.keyInWindow("录制桌面", "Escape");
    ASSERT_TRUE(program.waitForExit(15000)) << "the program ends with its last window";
    EXPECT_EQ(program.exitStatus(), 0);
    ASSERT_EQ(program.recordings().size(), 1u);
    AvFile file;
    ASSERT_TRUE(file.open(program.recordings()[0])) << file.error();
    EXPECT_NEAR(file.durationSeconds(), 3.1, 0.4);
    EXPECT_FALSE(file.pictures().empty());
}

TEST(ProgramLifecycle, UnusableVideoFolderIsReportedAndNothingIsWritten) {
    gLog.setEcho(false);
    TempDir place;
    writeFile(place.file("a-file"), "not a folder");
    const std::string folder = place.file("a-file") + "/video/";
    GlimmoraProgram program(folder);
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.chooseMode("screen").isEmpty());
    program.key("F3");
    EXPECT_FALSE(program.waitForWindow("提示", 10000).isEmpty()) << "the message names the file";
    EXPECT_NE(program.log().find("failed to open ts file to write"), std::string::npos);
    program.keyInWindow("提示", "Return");
    OS_Thread::msleep(300);
    EXPECT_FALSE(program.windowShown("提示"));
    program.key("F4");
    program.process().terminate();
    EXPECT_EQ(program.exitStatus(), 0);
    std::error_code error;
    EXPECT_FALSE(std::filesystem::exists(folder, error));
}
