#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "base/config_file.h"
#include "base/log_file.h"
#include "test_support.h"

using namespace testsupport;

namespace {

std::string bigFile() {
    std::string big = "video.folder=/v/\n";
    while (big.size() < 100 * 1024)
        big += "filler line that pads the configuration file\n";
    return big;
}

const std::string kBinary("\x00\xff\xfe=\x01\n", 6);

// A file as found, what get(key) finds in it, whether set(key, newValue) is taken, and the file
// once the store is closed.
struct Case {
    std::string file;
    uint32_t capacity;
    std::string key;
    std::optional<std::string> found;
    std::string newValue;
    bool taken;
    std::string written;
};

}  // namespace

TEST(ConfigFile, SettingsAreFoundTrimmedReplacedInPlaceOrAppendedAndNeverCutOnDisk) {
    gLog.setEcho(false);
    const std::string cutOff = "other=1\nvideo.folder=/" + std::string(10000, 'x') + "/\n";
    const Case cases[] = {
        {"video.folder= \t /srv/my videos/ \t\r\nother=录像\n", 8192, "video.folder",
         "/srv/my videos/", "/s/", true, "video.folder=/s/\nother=录像\n"},
        {"note=video.folder=/no/\nvideo.folder=/first/\nvideo.folder=/second/\n", 8192,
         "video.folder", "/first/", "/a/much/longer/folder/", true,
         "note=video.folder=/no/\nvideo.folder=/a/much/longer/folder/\nvideo.folder=/second/\n"},
        {"video.folder_old=/o/\nvideo.folders=/m/\nvideo.folder \t= /mine/\n", 8192, "video.folder",
         "/mine/", "/n/", true, "video.folder_old=/o/\nvideo.folders=/m/\nvideo.folder=/n/\n"},
        {"video.folder\nvideo.folder.backup=/b/\n", 8192, "video.folder", std::nullopt, "/n/", true,
         "video.folder\nvideo.folder.backup=/b/\nvideo.folder=/n/\n"},
        {"a=1\nb=2", 8192, "c", std::nullopt, "3", true, "a=1\nb=2\nc=3\n"},
        {"", 8192, "video.folder", std::nullopt, "/x/", true, "\nvideo.folder=/x/\n"},
        // Exactly filling the buffer (text and its terminating zero) is allowed, not more.
        {"a=1\n", 32, "b", std::nullopt, std::string(32 - 1 - 4 - 3, 'y'), true,
         "a=1\nb=" + std::string(24, 'y') + "\n"},
        {"a=1\n", 32, "b", std::nullopt, std::string(32 - 4 - 3, 'y'), false, "a=1\n"},
        {bigFile(), 8192, "video.folder", "/v/", "/w/", false, bigFile()},
        {cutOff, 8192, "video.folder", std::nullopt, "/w/", false, cutOff},
        {kBinary + "fps=25x\nname=abc\n", 8192, "name", "abc", "xyz", true,
         kBinary + "fps=25x\nname=xyz\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.file("default.cfg");
        writeFile(path, c.file);
        ConfigFile config;
        ASSERT_TRUE(config.load(path, c.capacity));
        std::string value = "untouched";
        EXPECT_EQ(config.get(c.key, value), c.found.has_value()) << c.file.substr(0, 60);
        EXPECT_EQ(value, c.found.value_or("untouched"));
        EXPECT_EQ(config.set(c.key, c.newValue), c.taken) << c.file.substr(0, 60);
        config.close();
        EXPECT_EQ(readFile(path), c.written);
    }
}

TEST(ConfigFile, NumbersTextCheckAndAStoreLeftUnchangedOrMissing) {
    TempDir dir;
    const std::string path = dir.file("default.cfg");
    writeFile(path, kBinary + "fps=25x\nname=abc\n");
    ConfigFile config;
    ASSERT_TRUE(config.load(path, 8192));
    EXPECT_FALSE(config.isWholeText());
    int fps = 0;
    ASSERT_TRUE(config.getInt("fps", &fps));
    EXPECT_EQ(fps, 25);
    EXPECT_EQ(config.getInt("name", 7), 7);
    EXPECT_TRUE(config.hasLine("name"));
    // Closed without a change: someone else's edit meanwhile stays.
    writeFile(path, "changed by someone else\n");
    config.close();
    EXPECT_EQ(readFile(path), "changed by someone else\n");

    testing::internal::CaptureStdout();
    EXPECT_FALSE(config.load(dir.file("absent.cfg"), 8192));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error in opening file!\n");
    config.close();
    EXPECT_FALSE(std::filesystem::exists(dir.file("absent.cfg")));
}
