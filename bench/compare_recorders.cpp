// Glimmora against the ffmpeg command line, recording the same busy desktop and the same sound
// (the microphone) one after the other on this machine: CPU seconds per recorded second (all
// threads of the process), peak resident memory, and pictures written against pictures expected.
//
//   compare_recorders [seconds per recording [part of a case's name]]     (default: 20, all)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "av_file.h"
#include "base/log_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
#include "pipeline/avi_scan.h"
#include "test_support.h"
#include "virtual_display.h"

using namespace testsupport;

namespace {

struct Case {
    const char* name;
    int screenWidth, screenHeight;
    bool fullScreen;
    int width, height;  // the captured rectangle
    int targetWidth, targetHeight;
    int fps;
    const char* scene = "busy";  // or "lesson", a teacher's mostly still screen, or "still"
    bool mp4 = false;            // H.264 and AAC in MP4 (both recorders) instead of the AVI
};

struct Measure {
    double cpuPerSecond = 0;
    double peakMegabytes = 0;
    double picturesPercent = 0;    // pictures encoded, of the slots the time holds
    double slotsPercent = 0;       // slots in the file, repeated pictures included
    double kilobitsPerSecond = 0;  // the file's size over the time recorded
    std::string threads;           // CPU s/s and wake-ups a second of the busier threads, by name
    std::string gaps;              // where the missing pictures went
};

std::string format3(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// CPU seconds a process (all its threads) or a thread (statPath /proc/<pid>/task/<tid>/stat)
// has used so far, user and system.
double cpuSeconds(const std::string& statPath) {
    std::ifstream stat(statPath);
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

double cpuSeconds(pid_t pid) {
    return cpuSeconds("/proc/" + std::to_string(pid) + "/stat");
}

// Times a thread has gone to sleep waiting for something: its wake-ups.
long sleeps(const std::string& statusPath) {
    std::ifstream status(statusPath);
    for (std::string line; std::getline(status, line);)
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::stol(line.substr(24));
    return 0;
}

struct ThreadUse {
    double cpuSeconds = 0;
    long wakes = 0;
};

// CPU seconds and wake-ups so far of each thread of a process, summed by thread name.
std::map<std::string, ThreadUse> threadUse(pid_t pid) {
    std::map<std::string, ThreadUse> byName;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        byName[name].cpuSeconds += cpuSeconds(task.path() / "stat");
        byName[name].wakes += sleeps(task.path() / "status");
    }
    return byName;
}

double peakMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

double picturesPercent(const std::string& path, double seconds, int fps) {
    AvFile file;
    if (!file.open(path)) return 0;
    return 100.0 * double(file.picturePts().size()) / (seconds * fps);
}

bool isMp4(const std::string& path) {
    return path.size() > 4 && path.compare(path.size() - 4, 4, ".mp4") == 0;
}

// Every picture chunk of the file, the empty ones that repeat the picture before included; in an
// MP4, where each picture lasts until the next, the slots the picture stream covers.
double slotsPercent(const std::string& path, double seconds, int fps) {
    if (isMp4(path)) {
        AvFile file;
        if (!file.open(path)) return 0;
        const AVStream* video = file.stream(0);
        return 100.0 * double(video->duration) * av_q2d(video->time_base) / seconds;
    }
    long chunks = 0;
    scanAvi(path, [&](int stream, int64_t, uint32_t) { chunks += stream == 0; });
    return 100.0 * double(chunks) / (seconds * fps);
}

// Slots between the first and the last picture of the file that have none, split by whether the
// program's log shows a picture captured for that slot (then the writer left it out).
std::string pictureGaps(const std::string& path, const std::string& log, int fps) {
    AvFile file;
    if (!file.open(path)) return "";
    const std::vector<int64_t> filled = file.picturePts(fps);
    const std::set<int64_t> written(filled.begin(), filled.end());
    std::set<int64_t> captured;
    const std::regex line(R"(capture a video frame, size = \d+ , pts=(\d+))");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
         ++it)
        captured.insert(std::stoll((*it)[1]));
    if (written.empty()) return "";
    int notCaptured = 0, notWritten = 0;
    for (int64_t slot = *written.begin(); slot <= *written.rbegin(); ++slot) {
        if (written.count(slot)) continue;
        ++(captured.count(slot) ? notWritten : notCaptured);
    }
    // Ticks that found the screen as it was write a repeat, and rightly so: the program counts
    // them in its log.
    std::smatch unchanged;
    const bool counted =
        std::regex_search(log, unchanged, std::regex(R"((\d+) ticks found nothing changed)"));
    return std::to_string(notCaptured) + " slots never captured (" +
           (counted ? unchanged[1].str() : std::string("?")) +
           " ticks found the screen unchanged), " + std::to_string(notWritten) +
           " captured but not written";
}

std::vector<std::string> busyScreen(const Case& c) {
    std::vector<std::string> command = {GlimmoraProgram::buildFolder() + "/../bench/busy_screen",
                                        "25", "0", c.scene};
    return command;
}

void keys(const std::string& keys) {
    std::system(("xdotool key " + keys).c_str());
}

double kilobitsPerSecond(const std::string& path, int seconds) {
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path, error);
    return error ? 0.0 : double(bytes) * 8 / 1000 / seconds;
}

Measure recordWithGlimmora(const Case& c, int seconds) {
    Measure measure;
    GlimmoraProgram program("", c.screenWidth, c.screenHeight);
    if (c.mp4)
        writeFile(program.folder() + "/default.cfg",
                  readFile(program.folder() + "/default.cfg") + "video.format=mp4\n");
    ChildProcess busy;
    busy.start(busyScreen(c), "", {}, program.folder() + "/busy.txt");
    OS_Thread::msleep(1500);
    if (!program.start()) return measure;
    const QRect window = program.chooseMode("screen");
    if (window.isEmpty()) return measure;
    if (c.fullScreen) {
        program.click(window.topLeft() + GlimmoraProgram::screenRecorderControl("ctlFullScreen"));
        if (c.targetWidth == 1280) {
            program.click(window.topLeft() +
                          GlimmoraProgram::screenRecorderControlRect("ctlResolution").center());
            OS_Thread::msleep(300);
            keys("Up Return");
        }
    }
    if (c.fps != 25) {
        program.click(window.topLeft() +
                      GlimmoraProgram::screenRecorderControlRect("ctlFrameRate").center());
        for (int fps = 25; fps > c.fps; fps -= 5)
            keys("Down");
    }
    OS_Thread::msleep(1500);
    const pid_t pid = program.process().pid();
    const double cpuBefore = cpuSeconds(pid);
    const auto threadsBefore = threadUse(pid);
    keys("F3");
    if (c.fullScreen && c.screenHeight > 800) {
        program.waitForWindow("提示", 10000);
        program.keyInWindow("提示", "Return");
    }
    // The scene comes to the front, as a teacher's slides do, and hides the program's window:
    // both recorders then record the same picture (the command line's run has no such window).
    std::system("xdotool search --name '^busy_screen$' windowraise");
    // GLIMMORA_COMPARE_PERF=<file> samples the program's call stacks while it records (perf).
    ChildProcess profiler;
    if (const char* perfFile = std::getenv("GLIMMORA_COMPARE_PERF"))
        profiler.start(
            {"/usr/bin/perf", "record", "--call-graph", "dwarf", "-F", "499", "-o", perfFile, "-p",
             std::to_string(pid), "--", "sleep", std::to_string(seconds - 1)},
            "", {}, program.folder() + "/perf.txt");
    OS_Thread::msleep(seconds * 1000);
    profiler.waitForExit(5000);
    // Threads that end with the recording are read just before it ends.
    for (const auto& [name, use] : threadUse(pid)) {
        const ThreadUse before = threadsBefore.count(name) ? threadsBefore.at(name) : ThreadUse();
        const double perSecond = (use.cpuSeconds - before.cpuSeconds) / seconds;
        if (perSecond < 0.0005) continue;
        measure.threads += name + " " + format3(perSecond) + " (" +
                           std::to_string((use.wakes - before.wakes) / seconds) + "/s)  ";
    }
    keys("F4");
    waitUntil([&] { return program.recordings().size() == 1; }, 10000);
    OS_Thread::msleep(500);
    measure.cpuPerSecond = (cpuSeconds(pid) - cpuBefore) / seconds;
    measure.peakMegabytes = peakMegabytes(pid);
    program.process().terminate();
    busy.terminate();
    if (!program.recordings().empty()) {
        measure.picturesPercent = picturesPercent(program.recordings()[0], seconds, c.fps);
        measure.slotsPercent = slotsPercent(program.recordings()[0], seconds, c.fps);
        measure.kilobitsPerSecond = kilobitsPerSecond(program.recordings()[0], seconds);
        measure.gaps = pictureGaps(program.recordings()[0], program.log(), c.fps);
        // GLIMMORA_COMPARE_KEEP=<folder> keeps the program's log and recording for a closer look.
        if (const char* keep = std::getenv("GLIMMORA_COMPARE_KEEP")) {
            std::error_code error;
            std::filesystem::create_directories(keep, error);
            for (const std::string& file :
                 {program.recordings()[0], program.folder() + "/glimmora.log.txt"})
                std::filesystem::copy_file(
                    file, std::string(keep) + "/" + std::filesystem::path(file).filename().string(),
                    std::filesystem::copy_options::overwrite_existing, error);
        }
    }
    return measure;
}

// queueSize 0: the command line as a user types it; otherwise with larger input queues
// (-thread_queue_size), without which ffmpeg's sound input holds up its screen input.
Measure recordWithFfmpeg(const Case& c, int seconds, int queueSize) {
    Measure measure;
    VirtualDisplay display(c.screenWidth, c.screenHeight);
    TempDir dir;
    ChildProcess busy;
    busy.start(busyScreen(c), "", {}, dir.file("busy.txt"));
    OS_Thread::msleep(1500);
    const std::string out = dir.file(c.mp4 ? "out.mp4" : "out.avi");
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    const std::string scale = "scale=" + std::to_string(c.targetWidth) + ":" +
                              std::to_string(c.targetHeight) + ":flags=bicubic";
    std::vector<std::string> arguments = {"ffmpeg", "-nostdin", "-loglevel", "error"};
    auto input = [&](std::initializer_list<std::string> options) {
        if (queueSize > 0)
            arguments.insert(arguments.end(), {"-thread_queue_size", std::to_string(queueSize)});
        arguments.insert(arguments.end(), options);
    };
    input({"-f", "x11grab", "-framerate", std::to_string(c.fps), "-video_size", size, "-i",
           display.name()});
    // The program's own sound at its defaults: the microphone alone. The silent speakers in its
    // place would spare the command line nearly all of its sound encoding.
    input({"-f", "pulse", "-i", "default"});
    arguments.insert(arguments.end(), {"-t", std::to_string(seconds), "-vf", scale});
    // The program's own x264 and AAC settings, and its 4:2:0: from the screen's RGB the command
    // line would pick 4:4:4, which browsers do not play and which costs x264 about a third more.
    if (c.mp4) {
        arguments.insert(arguments.end(), {"-c:v", "libx264", "-preset", "veryfast", "-tune",
                                           "zerolatency", "-crf", "23", "-g", "25", "-bf", "0"});
        arguments.insert(arguments.end(), {"-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "128k",
                                           "-ar", "44100", out});
    } else {
        arguments.insert(arguments.end(),
                         {"-c:v", "mpeg4", "-b:v", "2M", "-g", "25", "-bf", "0", "-c:a",
                          "libmp3lame", "-b:a", "64k", "-ar", "44100", out});
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execvp("ffmpeg", argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage = {};
    wait4(pid, &status, 0, &usage);
    busy.terminate();
    measure.cpuPerSecond = (double(usage.ru_utime.tv_sec) + usage.ru_utime.tv_usec / 1e6 +
                            double(usage.ru_stime.tv_sec) + usage.ru_stime.tv_usec / 1e6) /
                           seconds;
    measure.peakMegabytes = double(usage.ru_maxrss) / 1024.0;
    measure.picturesPercent = picturesPercent(out, seconds, c.fps);
    measure.slotsPercent = slotsPercent(out, seconds, c.fps);
    measure.kilobitsPerSecond = kilobitsPerSecond(out, seconds);
    return measure;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    const std::string only = argc > 2 ? argv[2] : "";
    gLog.setEcho(false);
    // The windows measured for their controls' places live on a display of their own.
    VirtualDisplay own(1920, 1080);
    QApplication application(argc, argv);
    const Case cases[] = {
        {"full 1920x1080 -> 1024x576", 1920, 1080, true, 1920, 1080, 1024, 576, 25},
        {"region 640x480", 1920, 1080, false, 640, 480, 640, 480, 25},
        {"full 3840x2160 -> 1280x720 @15", 3840, 2160, true, 3840, 2160, 1280, 720, 15},
        {"lesson 1920x1080 -> 1024x576", 1920, 1080, true, 1920, 1080, 1024, 576, 25, "lesson"},
        {"still region 640x480", 1920, 1080, false, 640, 480, 640, 480, 25, "still"},
        {"mp4 full 1920x1080 -> 1024x576", 1920, 1080, true, 1920, 1080, 1024, 576, 25, "busy",
         true},
        {"mp4 lesson 1920x1080 -> 1024x576", 1920, 1080, true, 1920, 1080, 1024, 576, 25, "lesson",
         true},
    };
    printf("%-32s %-14s %9s %9s %9s %9s %11s %7s %7s\n", "case", "recorder", "CPU s/s", "peak MB",
           "pictures", "slots", "ms/picture", "kb/s", "ratio");
    auto row = [](const char* name, const char* recorder, const Measure& m, const Case& c,
                  double glimmoraCpu) {
        const double written = c.fps * m.picturesPercent / 100;
        printf("%-32s %-14s %9.3f %9.1f %8.1f%% %8.1f%% %11.2f %7.0f", name, recorder,
               m.cpuPerSecond, m.peakMegabytes, m.picturesPercent, m.slotsPercent,
               written > 0 ? m.cpuPerSecond * 1000 / written : 0, m.kilobitsPerSecond);
        if (glimmoraCpu > 0 && m.cpuPerSecond > 0) printf(" %7.2f", glimmoraCpu / m.cpuPerSecond);
        printf("\n");
        fflush(stdout);
    };
    for (const Case& c : cases) {
        if (std::string(c.name).find(only) == std::string::npos) continue;
        const Measure glimmora = recordWithGlimmora(c, seconds);
        row(c.name, "glimmora", glimmora, c, 0);
        printf("    threads (CPU s/s, wake-ups/s): %s\n    pictures: %s\n",
               glimmora.threads.c_str(), glimmora.gaps.c_str());
        row("", "ffmpeg", recordWithFfmpeg(c, seconds, 0), c, glimmora.cpuPerSecond);
        row("", "ffmpeg, queues", recordWithFfmpeg(c, seconds, 1024), c, glimmora.cpuPerSecond);
    }
    return 0;
}
