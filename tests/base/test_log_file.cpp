#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/log_file.h"
#include "test_support.h"

using testsupport::readFile;
using testsupport::splitLines;
using testsupport::TempDir;

namespace {

std::vector<std::pair<int, std::string>> sunk;

int recordSink(int level, const char* message) {
    sunk.emplace_back(level, message);
    return 0;
}

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        sunk.clear();
        ASSERT_EQ(log.open(dir.file("log.txt").c_str(), "a"), 0);
        log.setEcho(false);
        log.setSink(recordSink);
    }
    std::string fileText() { return readFile(dir.file("log.txt")); }

    TempDir dir;
    LogFile log;
};

const char* kStamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)";

}  // namespace

TEST_F(LogFileTest, FileRecordHasStampTagAndMessageVerbatim) {
    log.info("------------ * program start * -----------\n");
    log.error("device %s failed: %d\n", "mic", -5);
    log.fatal("no newline");
    log.warn("%s\n", "folder 100%d done %s");  // a percent sign arriving in an argument

    const std::regex records(std::string("^") + kStamp +
                             R"( \[INF\]  ------------ \* program start \* -----------
)" + kStamp + R"( \[ERR\]  device mic failed: -5
)" + kStamp + R"( \[FTL\]  no newline)" +
                             kStamp + R"( \[WRN\]  folder 100%d done %s
$)");
    EXPECT_TRUE(std::regex_match(fileText(), records)) << fileText();
    ASSERT_EQ(sunk.size(), 4u);
    EXPECT_EQ(sunk[3].first, LogFile::kWarn);
    EXPECT_EQ(sunk[3].second, "folder 100%d done %s\n");
}

TEST_F(LogFileTest, LevelFilterKeepsMessagesFromSinkAndFile) {
    log.setLevel(LogFile::kInfo);
    log.debug("packet %d\n", 1);
    log.info("kept\n");
    log.setLevel(LogFile::kFatal);
    log.error("dropped too\n");

    ASSERT_EQ(sunk.size(), 1u);
    EXPECT_EQ(sunk[0].second, "kept\n");
    EXPECT_EQ(fileText().find("packet"), std::string::npos);
    EXPECT_EQ(fileText().find("dropped"), std::string::npos);
}

TEST_F(LogFileTest, LongMessageIsCutTo511Characters) {
    const std::string longText(700, 'x');
    log.info("%s", longText.c_str());
    ASSERT_EQ(sunk.size(), 1u);
    EXPECT_EQ(sunk[0].second, std::string(511, 'x'));
    const std::string text = fileText();
    EXPECT_EQ(text.size() - text.find("  ") - 2, 511u);
}

TEST_F(LogFileTest, ConcurrentWritersGiveWholeRecordsInThreadOrder) {
    constexpr int kThreads = 6;
    constexpr int kRecords = 400;
    log.setSink(nullptr);
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([this, t] {
            for (int i = 0; i < kRecords; ++i)
                log.debug("writer %d record %d of a reasonably long line to widen races\n", t, i);
        });
    }
    for (auto& writer : writers)
        writer.join();

    const std::regex record(
        std::string(kStamp) +
        R"( \[DBG\]  writer (\d) record (\d+) of a reasonably long line to widen races)");
    std::vector<int> next(kThreads, 0);
    const auto lines = splitLines(fileText());
    ASSERT_EQ(lines.size(), size_t(kThreads * kRecords));
    for (const auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, record)) << line;
        const int writer = std::stoi(match[1]);
        EXPECT_EQ(std::stoi(match[2]), next[writer]++);
    }
}

TEST(LogFileConsole, EchoWithoutFileReachesConsoleAndSink) {
    sunk.clear();
    LogFile log;
    ASSERT_EQ(log.open(nullptr, nullptr), 0);
    log.setSink(recordSink);
    testing::internal::CaptureStdout();
    log.warn("camera %s gone\n", "USB");
    log.setEcho(false);
    log.warn("silent\n");
    const std::string console = testing::internal::GetCapturedStdout();

    EXPECT_TRUE(
        std::regex_match(console, std::regex(std::string(kStamp) + " WRN  camera USB gone\n")))
        << console;
    EXPECT_EQ(sunk.size(), 2u);
}

TEST(LogFileOpen, UnopenableFileFails) {
    TempDir dir;
    LogFile log;
    // A folder where the file should be: fopen fails even for root.
    EXPECT_EQ(log.open(dir.path().c_str(), "a"), -1);
}
