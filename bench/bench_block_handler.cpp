// The audio panel's block handler (level every 7th block, copy or resample, mix, hand to the
// listener), which has one capture block, 26 ms, per call. Runs on an off-screen Qt platform;
// without a sound server the panel's devices stay closed, which the handler does not need.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>

#include <cmath>
#include <vector>

#include "app/log_file.h"
#include "qt_helpers.h"
#include "ui/volume_panel.h"

namespace {

class NullListener : public AudioCaptureListener {
public:
    int OnAudioCaptured(const int16_t* samples, int) override {
        benchmark::DoNotOptimize(samples[0]);
        ++blocks;
        return 0;
    }
    long blocks = 0;
};

std::vector<int16_t> tone(int frames, double hz, int rate) {
    std::vector<int16_t> samples(size_t(frames) * 2);
    for (int i = 0; i < frames; ++i)
        samples[size_t(2 * i)] = samples[size_t(2 * i + 1)] =
            int16_t(12000 * std::sin(2 * M_PI * hz * i / rate));
    return samples;
}

void BM_BlockHandlerBothSources(benchmark::State& state) {
    gLog.setLevel(LogFile::kError);
    gLog.setEcho(false);
    testsupport::MessageBoxCatcher warning;
    VolumePanel panel;
    NullListener listener;
    panel.setListener(&listener);
    panel.findChild<QCheckBox*>("chkStereo")->setChecked(true);  // the warning is closed
    panel.beginRecording();
    const auto stereo = tone(1152, 1000, 44100);
    const auto mic = tone(288, 440, 11025);
    for (auto _ : state) {
        panel.OnRecordedBlock(VolumePanel::kStereoId, 0, stereo.data(), 4608);
        panel.OnRecordedBlock(VolumePanel::kMicrophoneId, 0, mic.data(), 1152);
    }
    panel.endRecording();
    panel.shutdown();
    state.counters["us_per_block"] = benchmark::Counter(
        double(state.iterations()) * 2, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["mixed_blocks"] = double(listener.blocks);
}
BENCHMARK(BM_BlockHandlerBothSources)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
