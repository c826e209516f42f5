#pragma once

#include <sys/types.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempDir {
public:
    // A folder in /tmp; with inMemoryFor, in /dev/shm when that has room for so many bytes (a
    // file of a gibibyte is written there in a second, on this disk in fifteen).
    explicit TempDir(int64_t inMemoryFor = 0);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string m_path;
};

// A fresh folder as the working directory while the object lives: the program keeps its
// settings in the working directory's default.cfg, which starts out as config (none when empty).
class WorkingFolder : public TempDir {
public:
    explicit WorkingFolder(const std::string& config = "");
    ~WorkingFolder();

private:
    std::string m_previous;
};

// A small disk (tmpfs of size, "24m") mounted on folder, which must exist, while the object
// lives; for disks that fill up. Needs root: ok() says whether it is there.
class SmallDisk {
public:
    SmallDisk(const std::string& folder, const char* size);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool ok() const { return m_mounted; }

private:
    std::string m_folder;
    bool m_mounted = false;
};

// frames of a sine at hz, the same on both channels of interleaved 16-bit stereo, from the
// stream's frame first on; amplitude in sample units (32767 is full scale).
std::vector<int16_t> stereoSine(int frames, int64_t first, double hz, int rate, double amplitude);

// Frequency of the strongest tone of one channel of interleaved samples, from its rising zero
// crossings from frame firstFrame on; 0 when there are fewer than two. A crossing counts only
// after the sound has gone below a tenth of its peak, so that the low noise of an encoder's
// priming or of a tone's abrupt end is not counted as tone.
template <typename Sample>
double toneHz(const std::vector<Sample>& samples, int channels, int channel, int sampleRate,
              size_t firstFrame = 0) {
    const size_t step = size_t(channels);
    double peak = 0;
    for (size_t i = firstFrame * step + size_t(channel); i < samples.size(); i += step)
        peak = std::max(peak, std::abs(double(samples[i])));
    const double hysteresis = peak / 10;
    int crossings = 0;
    bool armed = false;
    size_t first = 0, last = 0;
    for (size_t i = firstFrame * step + size_t(channel); i < samples.size(); i += step) {
        const double value = double(samples[i]);
        if (value < -hysteresis) {
            armed = true;
        } else if (armed && value >= 0) {
            armed = false;
            if (crossings++ == 0) first = i;
            last = i;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) / (double(last - first) / channels / sampleRate);
}

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
std::vector<std::string> splitLines(const std::string& text);
// How many times part occurs in text.
int countOf(const std::string& text, const std::string& part);

// Runs a shell command and returns what it printed on standard output.
std::string runCommand(const std::string& command);

// Polls condition every 20 ms until it holds or timeoutMs pass; returns its last value.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs);

// A program started by a test. The environment is the test's own with the given changes
// (an empty value removes a variable).
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // outputFile, when given, receives the program's standard output and error.
    bool start(const std::vector<std::string>& argv, const std::string& workingDirectory,
               const std::map<std::string, std::string>& environment = {},
               const std::string& outputFile = "");
    // True when the program ended within timeoutMs; its exit status (or 128 + signal) is kept.
    bool waitForExit(int timeoutMs);
    // SIGTERM, then SIGKILL if it has not ended after timeoutMs.
    void terminate(int timeoutMs = 5000);

    bool running() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    int exitStatus() const { return m_exitStatus; }

private:
    pid_t m_pid = -1;
    int m_exitStatus = -1;
};

}  // namespace testsupport
