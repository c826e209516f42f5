// Synthesises "shutter.wav", the click played when a screen region has been picked: two short
// mechanical clacks (the blades opening and closing), 16-bit mono at 44100 Hz.
//
//   glimmora_make_shutter <output file>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = 44100;

void writeLittleEndian(FILE* file, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        fputc(int((value >> (8 * i)) & 0xff), file);
}

// One clack at startSeconds: a burst of noise through a resonance at hz, dying away.
void addClack(std::vector<double>& sound, double startSeconds, double hz, double loudness,
              uint32_t seed) {
    const int start = int(startSeconds * kRate);
    double low = 0, band = 0;
    const double f = 2 * std::sin(M_PI * hz / kRate);
    for (int i = 0; i < kRate / 20 && start + i < int(sound.size()); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = (double(seed >> 8) / double(1 << 24)) * 2 - 1;
        const double envelope = std::exp(-double(i) / (0.006 * kRate));
        // A state-variable band-pass filter gives the noise its metallic ring.
        low += f * band;
        const double high = noise * envelope - low - 0.25 * band;
        band += f * high;
        sound[size_t(start + i)] += loudness * (0.6 * band + 0.4 * noise * envelope * envelope);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: glimmora_make_shutter <output file>\n");
        return 2;
    }
    std::vector<double> sound(size_t(kRate * 0.18), 0.0);
    addClack(sound, 0.000, 2600, 0.9, 12345);
    addClack(sound, 0.075, 1900, 0.7, 67890);

    FILE* file = fopen(argv[1], "wb");
    if (!file) {
        perror(argv[1]);
        return 1;
    }
    const uint32_t dataBytes = uint32_t(sound.size() * 2);
    fwrite("RIFF", 1, 4, file);
    writeLittleEndian(file, 36 + dataBytes, 4);
    fwrite("WAVEfmt ", 1, 8, file);
    writeLittleEndian(file, 16, 4);  // format chunk size
    writeLittleEndian(file, 1, 2);   // PCM
    writeLittleEndian(file, 1, 2);   // mono
    writeLittleEndian(file, kRate, 4);
    writeLittleEndian(file, kRate * 2, 4);
    writeLittleEndian(file, 2, 2);
    writeLittleEndian(file, 16, 2);
    fwrite("data", 1, 4, file);
    writeLittleEndian(file, dataBytes, 4);
    for (double sample : sound) {
        const double clipped = std::max(-1.0, std::min(1.0, sample));
        writeLittleEndian(file, uint32_t(uint16_t(int16_t(std::lround(clipped * 32000)))), 2);
    }
    return fclose(file) == 0 ? 0 : 1;
}
