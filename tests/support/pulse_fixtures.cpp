#include "pulse_fixtures.h"

#include "test_support.h"

#include <fcntl.h>
#include <pulse/simple.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace testsupport {

bool soundServerReachable() {
    return std::system("pactl info >/dev/null 2>&1") == 0;
}

bool testSoundServer() {
    return runCommand("pactl get-default-source 2>/dev/null") == "glimmora_microphone\n";
}

PulseModule::PulseModule(const std::string& module, const std::string& arguments) {
    const std::string output =
        runCommand("pactl load-module " + module + " " + arguments + " 2>/dev/null");
    if (!output.empty()) m_index = std::atoi(output.c_str());
}

PulseModule::~PulseModule() {
    if (m_index >= 0) runCommand("pactl unload-module " + std::to_string(m_index) + " 2>/dev/null");
}

SineMicrophone::SineMicrophone(const std::string& name, int rate, int hz)
    : m_sink("module-null-sink", "sink_name=" + name + "_tone"),
      m_tone("module-sine", "sink=" + name + "_tone frequency=" + std::to_string(hz)),
      m_source("module-remap-source", "source_name=" + name + " master=" + name +
                                          "_tone.monitor rate=" + std::to_string(rate)) {}

PrivateSoundServer::PrivateSoundServer(bool pipeWire) : m_pipeWire(pipeWire) {
    char pattern[] = "/tmp/glimmora-pulse.XXXXXX";
    if (!mkdtemp(pattern)) return;
    m_folder = pattern;
    start();
}

bool PrivateSoundServer::start() {
    kill();
    const bool pipeWire = m_pipeWire;
    const std::string socket = m_folder + "/native";
    const std::string config = m_folder + "/pipewire-pulse.conf";
    if (pipeWire)
        writeFile(config,
                  "context.spa-libs = { audio.convert.* = audioconvert/libspa-audioconvert"
                  " support.* = support/libspa-support }\n"
                  "context.modules = [ { name = libpipewire-module-protocol-native }"
                  " { name = libpipewire-module-client-node }"
                  " { name = libpipewire-module-adapter }"
                  " { name = libpipewire-module-metadata }"
                  " { name = libpipewire-module-protocol-pulse args = {"
                  " server.address = [ \"unix:" +
                      socket + "\" ] } } ]\n");
    const pid_t pid = fork();
    if (pid == 0 && pipeWire) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 1);
        dup2(devNull, 2);
        execlp("pipewire", "pipewire", "-c", config.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid == 0) {
        setenv("PULSE_RUNTIME_PATH", m_folder.c_str(), 1);
        setenv("HOME", m_folder.c_str(), 1);
        // A second daemon on the session bus of the test's desktop would find the server's
        // bus name taken and end at once: this one stays off the bus.
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + m_folder + "/no-bus").c_str(), 1);
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 1);
        dup2(devNull, 2);
        const std::string native = "module-native-protocol-unix auth-anonymous=1 socket=" + socket;
        execlp("pulseaudio", "pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
               "--use-pid-file=no", ("--load=" + native).c_str(),
               "--load=module-null-sink sink_name=private_speakers",
               "--load=module-null-sink sink_name=private_tone",
               "--load=module-sine sink=private_tone frequency=440",
               "--load=module-remap-source source_name=private_microphone "
               "master=private_tone.monitor rate=11025",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    m_pid = pid;
    m_server.clear();
    const std::string server = "unix:" + socket;
    const std::string probe = "PULSE_SERVER=" + server + " pactl info >/dev/null 2>&1";
    if (!waitUntil([&] { return std::system(probe.c_str()) == 0; }, 10000)) return false;
    const std::string pactl = "PULSE_SERVER=" + server + " pactl ";
    if (pipeWire) {
        for (const char* module :
             {"module-null-sink sink_name=private_speakers",
              "module-null-sink sink_name=private_tone",
              "module-remap-source source_name=private_microphone master=private_tone.monitor"})
            runCommand(pactl + "load-module " + module);
    }
    runCommand(pactl + "set-default-source private_microphone");
    runCommand(pactl + "set-default-sink private_speakers");
    // PipeWire's session manager takes the defaults over a moment later.
    if (!waitUntil(
            [&] {
                return runCommand(pactl + "get-default-source") == "private_microphone\n" &&
                       runCommand(pactl + "get-default-sink") == "private_speakers\n";
            },
            5000))
        return false;
    m_server = server;
    return true;
}

PrivateSoundServer::~PrivateSoundServer() {
    kill();
    if (!m_folder.empty()) std::system(("rm -rf '" + m_folder + "'").c_str());
}

void PrivateSoundServer::kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string uniqueName(const std::string& prefix) {
    return prefix + "_" + std::to_string(getpid());
}

TonePlayer::TonePlayer(const std::string& sink, double hz, double amplitude) {
    m_thread = std::thread([this, sink, hz, amplitude] {
        const pa_sample_spec format = {PA_SAMPLE_S16LE, 44100, 2};
        pa_simple* player = pa_simple_new(nullptr, "glimmora test tone", PA_STREAM_PLAYBACK,
                                          sink.empty() ? nullptr : sink.c_str(), "tone", &format,
                                          nullptr, nullptr, nullptr);
        if (!player) return;
        for (int64_t frame = 0; !m_stop.load(); frame += 441) {  // 10 ms at a time
            const std::vector<int16_t> chunk = stereoSine(441, frame, hz, 44100, amplitude * 32767);
            if (pa_simple_write(player, chunk.data(), chunk.size() * sizeof(int16_t), nullptr) < 0)
                break;
        }
        pa_simple_free(player);
    });
}

TonePlayer::~TonePlayer() {
    m_stop.store(true);
    if (m_thread.joinable()) m_thread.join();
}

}  // namespace testsupport
