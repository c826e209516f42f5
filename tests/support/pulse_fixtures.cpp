#include "pulse_fixtures.h"

#include <pulse/simple.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace testsupport {

namespace {

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe))
        output += buffer;
    pclose(pipe);
    return output;
}

}  // namespace

bool soundServerReachable() {
    return std::system("pactl info >/dev/null 2>&1") == 0;
}

bool testSoundServer() {
    return run("pactl get-default-source 2>/dev/null") == "glimmora_microphone\n";
}

PulseModule::PulseModule(const std::string& module, const std::string& arguments) {
    const std::string output =
        run("pactl load-module " + module + " " + arguments + " 2>/dev/null");
    if (!output.empty()) m_index = std::atoi(output.c_str());
}

PulseModule::~PulseModule() {
    if (m_index >= 0) run("pactl unload-module " + std::to_string(m_index) + " 2>/dev/null");
}

SineMicrophone::SineMicrophone(const std::string& name, int rate, int hz)
    : m_sink("module-null-sink", "sink_name=" + name + "_tone"),
      m_tone("module-sine", "sink=" + name + "_tone frequency=" + std::to_string(hz)),
      m_source("module-remap-source", "source_name=" + name + " master=" + name +
                                          "_tone.monitor rate=" + std::to_string(rate)) {}

std::string uniqueName(const std::string& prefix) {
    return prefix + "_" + std::to_string(getpid());
}

TonePlayer::TonePlayer(const std::string& sink, double hz, double amplitude) {
    m_thread = std::thread([this, sink, hz, amplitude] {
        const pa_sample_spec spec = {PA_SAMPLE_S16LE, 44100, 2};
        pa_simple* player = pa_simple_new(nullptr, "glimmora test tone", PA_STREAM_PLAYBACK,
                                          sink.empty() ? nullptr : sink.c_str(), "tone", &spec,
                                          nullptr, nullptr, nullptr);
        if (!player) return;
        std::vector<int16_t> chunk(441 * 2);  // 10 ms
        long frame = 0;
        while (!m_stop.load()) {
            for (size_t i = 0; i < chunk.size(); i += 2, ++frame) {
                const double value = amplitude * 32767 * std::sin(2 * M_PI * hz * frame / 44100.0);
                chunk[i] = chunk[i + 1] = int16_t(std::lround(value));
            }
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
