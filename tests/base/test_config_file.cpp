#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "base/config_file.h"
#include "base/log_file.h"
#include "test_support.h"

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override { gLog.setEcho(false); }

    // Loads text through a real file; the store keeps it open for the test.
    void loadText(const std::string& text, uint32_t capacity = 8192) {
        writeFile(path, text);
        ASSERT_TRUE(config.load(path, capacity));
    }

    TempDir dir;
    std::string path = dir.file("default.cfg");
    ConfigFile config;
};

}  // namespace

TEST_F(ConfigFileTest, EmptyFileLoadsAsOneLineBreakAndGainsAppendedSetting) {
    loadText("");
    EXPECT_STREQ(config.text(), "\n");
    std::string value = "untouched";
    EXPECT_FALSE(config.get("video.folder", value));
    EXPECT_EQ(value, "untouched");

    EXPECT_TRUE(config.set("video.folder", "/home/t/录像/"));
    config.close();
    EXPECT_EQ(readFile(path), "\nvideo.folder=/home/t/录像/\n");
}

TEST_F(ConfigFileTest, ValuesAreTrimmedAtBothEndsOnly) {
    loadText("video.folder= \t /srv/my videos/ \t\r\nother=录像\n");
    EXPECT_TRUE(config.isWholeText());
    std::string value;
    ASSERT_TRUE(config.get("video.folder", value));
    EXPECT_EQ(value, "/srv/my videos/");
}

TEST_F(ConfigFileTest, FindsOnlyLinesThatBeginWithTheKey) {
    loadText("note=video.folder=/wrong/\nvideo.folder=/first/\nvideo.folder=/second/\n");
    std::string value;
    ASSERT_TRUE(config.get("video.folder", value));
    EXPECT_EQ(value, "/first/");

    ASSERT_TRUE(config.set("video.folder", "/a/much/longer/replacement/folder/"));
    EXPECT_STREQ(config.text(),
                 "note=video.folder=/wrong/\nvideo.folder=/a/much/longer/replacement/folder/\n"
                 "video.folder=/second/\n");
    ASSERT_TRUE(config.set("video.folder", "/s/"));
    EXPECT_STREQ(config.text(),
                 "note=video.folder=/wrong/\nvideo.folder=/s/\nvideo.folder=/second/\n");
}

TEST_F(ConfigFileTest, KeyMatchesOnlyWholeBeforeItsEqualsSign) {
    loadText("video.folder_old=/old/\nvideo.folders=/many/\nvideo.folder \t= /mine/\n");
    std::string value;
    ASSERT_TRUE(config.get("video.folder", value));
    EXPECT_EQ(value, "/mine/");

    ASSERT_TRUE(config.set("video.folder", "/new/"));
    EXPECT_STREQ(config.text(),
                 "video.folder_old=/old/\nvideo.folders=/many/\nvideo.folder=/new/\n");
    ASSERT_TRUE(config.set("video.folder_old", "/x/"));
    EXPECT_STREQ(config.text(), "video.folder_old=/x/\nvideo.folders=/many/\nvideo.folder=/new/\n");
}

TEST_F(ConfigFileTest, LineWithoutEqualsSignIsNoSetting) {
    loadText("video.folder\nvideo.folder.backup=/b/\n");
    std::string value = "untouched";
    EXPECT_FALSE(config.get("video.folder", value));
    EXPECT_EQ(value, "untouched");
}

TEST_F(ConfigFileTest, FileWithoutFinalLineBreakGainsOneWhenWrittenBack) {
    loadText("a=1\nb=2");
    ASSERT_TRUE(config.setInt("c", 3));
    config.close();
    EXPECT_EQ(readFile(path), "a=1\nb=2\nc=3\n");
}

TEST_F(ConfigFileTest, StoreWithoutChangeNeverRewritesTheFile) {
    loadText("video.folder=/v/\n");
    std::string value;
    config.get("video.folder", value);
    writeFile(path, "changed by someone else\n");
    config.close();
    EXPECT_EQ(readFile(path), "changed by someone else\n");
}

TEST_F(ConfigFileTest, SettingThatDoesNotFitIsRefusedAndChangesNothing) {
    loadText("a=1\n", 32);
    EXPECT_FALSE(config.set("video.folder", std::string(40, 'x')));
    EXPECT_STREQ(config.text(), "a=1\n");
    EXPECT_FALSE(config.dirty());
    // Exactly filling the buffer (text plus its terminating zero) is still allowed.
    EXPECT_TRUE(config.set("b", std::string(32 - 1 - 4 - 3, 'y')));
    EXPECT_EQ(std::string(config.text()).size(), 31u);
    EXPECT_FALSE(config.set("b", std::string(32 - 4 - 3, 'y')));
}

TEST_F(ConfigFileTest, OversizedFileIsReadInPartAndNeverCutOnDisk) {
    std::string big = "video.folder=/v/\n";
    while (big.size() < 100 * 1024)
        big += "filler line that pads the configuration file\n";
    loadText(big);
    std::string value;
    ASSERT_TRUE(config.get("video.folder", value));
    EXPECT_EQ(value, "/v/");
    EXPECT_FALSE(config.set("video.folder", "/w/"));
    config.close();
    EXPECT_EQ(readFile(path), big);
}

TEST_F(ConfigFileTest, SettingCutOffByTheBufferIsNotUsed) {
    loadText("other=1\nvideo.folder=/" + std::string(10000, 'x') + "/\n");
    std::string value = "untouched";
    EXPECT_TRUE(config.hasLine("video.folder"));
    EXPECT_FALSE(config.get("video.folder", value)) << "only its first 8 KB were read";
    EXPECT_EQ(value, "untouched");
    EXPECT_EQ(config.get("other", "none"), "1");
    EXPECT_FALSE(config.isWholeText());
}

TEST_F(ConfigFileTest, BinaryBytesDoNotHideLaterSettingsAndSurviveRewrite) {
    const std::string binary("\x00\xff\xfe=\x01\n", 6);
    loadText(binary + "fps=25x\nname=abc\n");
    EXPECT_FALSE(config.isWholeText());
    int fps = 0;
    ASSERT_TRUE(config.getInt("fps", &fps));
    EXPECT_EQ(fps, 25);
    EXPECT_EQ(config.getInt("name", 7), 7);
    EXPECT_EQ(config.getInt("missing", 9), 9);
    EXPECT_EQ(config.get("name", "none"), "abc");
    ASSERT_TRUE(config.set("name", "xyz"));
    config.close();
    EXPECT_EQ(readFile(path), binary + "fps=25x\nname=xyz\n");
}

TEST_F(ConfigFileTest, MissingFileFailsAndIsNotCreated) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(config.load(dir.file("absent.cfg"), 8192));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error in opening file!\n");
    config.close();
    config.close();
    EXPECT_FALSE(std::filesystem::exists(dir.file("absent.cfg")));
}
