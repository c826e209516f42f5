// Broken files beside the program: it starts anyway and the log names the problem.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"

using namespace testsupport;

namespace {

// Starts the program with file replaced by content, waits for its first window, ends it, and
// returns its log.
std::string startWith(const std::string& file, const std::string& content) {
    gLog.setEcho(false);
    GlimmoraProgram program;
    writeFile(program.folder() + "/" + file, content);
    EXPECT_TRUE(program.start());
    EXPECT_FALSE(program.waitForWindow("选择工作模式").isEmpty()) << "the program starts";
    OS_Thread::msleep(300);
    program.process().terminate();
    EXPECT_EQ(program.exitStatus(), 0);
    return program.log();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(BadConfiguration, EachBrokenFileIsNamedInTheLog) {
    std::string big = "video.folder=/srv/lessons/\n";
    while (big.size() < 100 * 1024)
        big += "# a note that goes on and on to fill the file\n";
    EXPECT_TRUE(contains(startWith("default.cfg", big), "default.cfg is larger than"));

    const std::string binary(
        "\x7f"
        "ELF\x02\x01\x01\0\0\0\xff\xfe video.folder=\x80\x81\n",
        28);
    EXPECT_TRUE(contains(startWith("default.cfg", binary), "holds bytes that are not text"));

    EXPECT_TRUE(contains(startWith("default.cfg", "video.folder /srv/lessons/\n"),
                         "the video.folder line has no \"=\""));

    const std::string longFolder = "video.folder=/" + std::string(10000, 'a') + "/\n";
    const std::string log = startWith("default.cfg", longFolder);
    EXPECT_TRUE(contains(log, "cut off")) << log;
    EXPECT_TRUE(contains(log, "video folder: /tmp/")) << "the default folder is used";
}

TEST(BadConfiguration, FolderNameWithShellCharactersIsJustAName) {
    gLog.setEcho(false);
    TempDir place;
    const std::string folder =
        place.path() + "/it's a \"lesson\" $(touch " + place.path() + "/pwned); echo hi; `id`/";
    GlimmoraProgram program(folder);
    ASSERT_TRUE(program.start());
    ASSERT_FALSE(program.chooseMode("screen").isEmpty());
    ASSERT_FALSE(program.recordFor(2000).empty());
    program.process().terminate();
    EXPECT_EQ(program.recordings()[0].rfind(folder, 0), 0u) << "the file lands in that folder";
    EXPECT_FALSE(std::filesystem::exists(place.path() + "/pwned")) << "no shell saw the name";
    AvFile file;
    EXPECT_TRUE(file.open(program.recordings()[0])) << file.error();
}

TEST(BadStyleSheet, UnusableSkinIsNamedAndTheProgramRunsWithout) {
    EXPECT_TRUE(contains(startWith("default.skin", "QPushButton { color: ; {{{ border: 2px"),
                         "Qt: Could not parse"));
    EXPECT_TRUE(contains(startWith("default.skin", ""), "default.skin is empty"));
    EXPECT_TRUE(contains(startWith("default.skin", std::string("\0\x01\x02\xff\xfe", 5)),
                         "default.skin is not text"));
}
