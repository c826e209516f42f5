#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/log_file.h"
#include "test_support.h"

using namespace testsupport;

namespace {

std::vector<std::pair<int, std::string>> sunk;

int recordSink(int level, const char* message) {
    sunk.emplace_back(level, message);
    return 0;
}

const std::string kStamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)";

}  // namespace

TEST(LogFile, RecordsCarryStampAndTagAboveTheLevelAndAreCutAt511Characters) {
    TempDir dir;
    LogFile log;
    EXPECT_EQ(log.open(dir.path().c_str(), "a"), -1) << "a folder is no file";
    ASSERT_EQ(log.open(dir.file("log.txt").c_str(), "a"), 0);
    log.setEcho(false);
    log.setSink(recordSink);
    log.info("------------ * program start * -----------\n");
    log.error("device %s failed: %d\n", "mic", -5);
    log.fatal("no newline");
    log.warn("%s\n", "folder 100%d done %s");  // a percent sign arriving in an argument
    log.setLevel(LogFile::kInfo);
    log.debug("dropped\n");
    log.info("%s", std::string(700, 'x').c_str());

    const std::string text = readFile(dir.file("log.txt"));
    EXPECT_TRUE(std::regex_match(
        text, std::regex("^" + kStamp + R"( \[INF\]  ------------ \* program start \* -----------
)" + kStamp + R"( \[ERR\]  device mic failed: -5
)" + kStamp + R"( \[FTL\]  no newline)" +
                         kStamp + R"( \[WRN\]  folder 100%d done %s
)" + kStamp + R"( \[INF\]  x{511}$)")))
        << text;
    ASSERT_EQ(sunk.size(), 5u);
    EXPECT_EQ(sunk[3], std::make_pair(int(LogFile::kWarn), std::string("folder 100%d done %s\n")));
}

TEST(LogFile, ConcurrentWritersGiveWholeRecordsInEachThreadsOrder) {
    TempDir dir;
    LogFile log;
    ASSERT_EQ(log.open(dir.file("log.txt").c_str(), "a"), 0);
    log.setEcho(false);
    constexpr int kThreads = 6, kRecords = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([&log, t] {
            for (int i = 0; i < kRecords; ++i)
                log.debug("writer %d record %d of a reasonably long line to widen races\n", t, i);
        });
    for (auto& writer : writers)
        writer.join();

    const std::regex record(kStamp + R"( \[DBG\]  writer (\d) record (\d+) of a reasonably)" +
                            " long line to widen races");
    std::vector<int> next(kThreads, 0);
    const auto lines = splitLines(readFile(dir.file("log.txt")));
    ASSERT_EQ(lines.size(), size_t(kThreads * kRecords));
    for (const auto& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, record)) << line;
        EXPECT_EQ(std::stoi(match[2]), next[std::stoi(match[1])]++);
    }
}
