// Glimmora against the ffmpeg command line, recording the same busy desktop one after the other
// on this machine: CPU seconds per recorded second (all threads of the process), peak resident
// memory, and pictures written against pictures expected.
//
//   compare_recorders [seconds per recording]     (default: 20)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/log_file.h"
#include "av_file.h"
#include "base/os_thread.h"
#include "glimmora_program.h"
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
};

struct Measure {
    double cpuPerSecond = 0;
    double peakMegabytes = 0;
    double picturesPercent = 0;
};

// CPU seconds a process has used so far (user and system, all threads).
double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
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

double peakMegabytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

double picturesPercent(const std::string& path, double seconds, int fps) {
    AvFile file;
    if (!file.open(path)) return 0;
    int pictures = 0;
    for (const PacketInfo& packet : file.packets())
        pictures += packet.stream == 0 && packet.size > 0;
    return 100.0 * pictures / (seconds * fps);
}

void keys(const std::string& keys) {
    std::system(("xdotool key " + keys).c_str());
}

Measure recordWithGlimmora(const Case& c, int seconds) {
    Measure measure;
    GlimmoraProgram program("", c.screenWidth, c.screenHeight);
    ChildProcess busy;
    busy.start({GlimmoraProgram::buildFolder() + "/../bench/busy_screen", "25"}, "", {},
               program.folder() + "/busy.txt");
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
    keys("F3");
    if (c.fullScreen && c.screenHeight > 800) {
        program.waitForWindow("提示", 10000);
        program.keyInWindow("提示", "Return");
    }
    OS_Thread::msleep(seconds * 1000);
    keys("F4");
    waitUntil([&] { return program.recordings().size() == 1; }, 10000);
    OS_Thread::msleep(500);
    measure.cpuPerSecond = (cpuSeconds(pid) - cpuBefore) / seconds;
    measure.peakMegabytes = peakMegabytes(pid);
    program.process().terminate();
    busy.terminate();
    if (!program.recordings().empty())
        measure.picturesPercent = picturesPercent(program.recordings()[0], seconds, c.fps);
    return measure;
}

Measure recordWithFfmpeg(const Case& c, int seconds) {
    Measure measure;
    VirtualDisplay display(c.screenWidth, c.screenHeight);
    TempDir dir;
    ChildProcess busy;
    busy.start({GlimmoraProgram::buildFolder() + "/../bench/busy_screen", "25"}, "", {},
               dir.file("busy.txt"));
    OS_Thread::msleep(1500);
    const std::string out = dir.file("out.avi");
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    const std::string scale = "scale=" + std::to_string(c.targetWidth) + ":" +
                              std::to_string(c.targetHeight) + ":flags=bicubic";
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("ffmpeg", "ffmpeg", "-nostdin", "-loglevel", "error", "-f", "x11grab", "-framerate",
               std::to_string(c.fps).c_str(), "-video_size", size.c_str(), "-i",
               display.name().c_str(), "-f", "pulse", "-i", "@DEFAULT_MONITOR@", "-t",
               std::to_string(seconds).c_str(), "-vf", scale.c_str(), "-c:v", "mpeg4", "-b:v", "2M",
               "-g", "25", "-bf", "0", "-c:a", "libmp3lame", "-b:a", "64k", "-ar", "44100",
               out.c_str(), static_cast<char*>(nullptr));
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
    return measure;
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
    gLog.setEcho(false);
    // The windows measured for their controls' places live on a display of their own.
    VirtualDisplay own(1920, 1080);
    QApplication application(argc, argv);
    const Case cases[] = {
        {"full 1920x1080 -> 1024x576", 1920, 1080, true, 1920, 1080, 1024, 576, 25},
        {"region 640x480", 1920, 1080, false, 640, 480, 640, 480, 25},
        {"full 3840x2160 -> 1280x720 @15", 3840, 2160, true, 3840, 2160, 1280, 720, 15},
    };
    printf("%-32s %-9s %12s %12s %10s %12s\n", "case", "recorder", "CPU s/s", "peak MB", "pictures",
           "CPU ratio");
    for (const Case& c : cases) {
        const Measure glimmora = recordWithGlimmora(c, seconds);
        const Measure ffmpeg = recordWithFfmpeg(c, seconds);
        printf("%-32s %-9s %12.3f %12.1f %9.1f%% %12s\n", c.name, "glimmora", glimmora.cpuPerSecond,
               glimmora.peakMegabytes, glimmora.picturesPercent, "");
        printf("%-32s %-9s %12.3f %12.1f %9.1f%% %12.2f\n", "", "ffmpeg", ffmpeg.cpuPerSecond,
               ffmpeg.peakMegabytes, ffmpeg.picturesPercent,
               ffmpeg.cpuPerSecond > 0 ? glimmora.cpuPerSecond / ffmpeg.cpuPerSecond : 0);
        fflush(stdout);
    }
    return 0;
}
