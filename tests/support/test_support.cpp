#include "test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {

TempDir::TempDir(int64_t inMemoryFor) {
    std::error_code error;
    const bool inMemory = inMemoryFor > 0 && std::filesystem::space("/dev/shm", error).available >
                                                 uintmax_t(inMemoryFor);
    std::string pattern = std::string(inMemory ? "/dev/shm" : "/tmp") + "/glimmora-test.XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

WorkingFolder::WorkingFolder(const std::string& config)
    : m_previous(std::filesystem::current_path()) {
    std::filesystem::current_path(path());
    if (!config.empty()) writeFile("default.cfg", config);
}

WorkingFolder::~WorkingFolder() {
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
}

SmallDisk::SmallDisk(const std::string& folder, const char* size) : m_folder(folder) {
    m_mounted = mount("tmpfs", folder.c_str(), "tmpfs", 0,
                      ("size=" + std::string(size) + ",mode=0700").c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (m_mounted) umount2(m_folder.c_str(), MNT_DETACH);
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::vector<int16_t> stereoSine(int frames, int64_t first, double hz, int rate, double amplitude) {
    std::vector<int16_t> samples(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i)
        samples[size_t(2 * i)] = samples[size_t(2 * i + 1)] =
            int16_t(std::lround(amplitude * std::sin(2 * M_PI * hz * double(first + i) / rate)));
    return samples;
}

std::string TempDir::file(const std::string& name) const {
    return m_path + "/" + name;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

int countOf(const std::string& text, const std::string& part) {
    int found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string runCommand(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    return output;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

ChildProcess::~ChildProcess() {
    if (running()) terminate(2000);
}

bool ChildProcess::start(const std::vector<std::string>& argv, const std::string& workingDirectory,
                         const std::map<std::string, std::string>& environment,
                         const std::string& outputFile) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const auto& [name, value] : environment) {
        if (value.empty())
            merged.erase(name);
        else
            merged[name] = value;
    }
    std::vector<std::string> envText;
    for (const auto& [name, value] : merged)
        envText.push_back(name + "=" + value);

    std::vector<char*> args, env;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    for (const auto& entry : envText)
        env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(126);
        if (!outputFile.empty()) {
            const int output = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (output >= 0) {
                dup2(output, 1);
                dup2(output, 2);
            }
        }
        execve(args[0], args.data(), env.data());
        _exit(127);
    }
    m_pid = pid;
    m_exitStatus = -1;
    return true;
}

bool ChildProcess::waitForExit(int timeoutMs) {
    if (!running()) return true;
    int status = 0;
    const bool ended =
        waitUntil([&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; }, timeoutMs);
    if (!ended) return false;
    m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m_pid = -1;
    return true;
}

void ChildProcess::terminate(int timeoutMs) {
    if (!running()) return;
    kill(m_pid, SIGTERM);
    if (waitForExit(timeoutMs)) return;
    kill(m_pid, SIGKILL);
    waitForExit(10000);
}

}  // namespace testsupport
