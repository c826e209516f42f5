#include "pipeline/filter_taps.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLobes = 3;

double lanczos(double x) {
    x = std::fabs(x);
    if (x < 1e-9) return 1;
    if (x >= kLobes) return 0;
    const double px = M_PI * x;
    return kLobes * std::sin(px) * std::sin(px / kLobes) / (px * px);
}

}  // namespace

FilterTaps lanczosTaps(int srcSize, int dstSize) {
    FilterTaps result;
    const double scale = double(srcSize) / dstSize;
    const double widen = std::max(scale, 1.0);
    const double reach = kLobes * widen;
    result.outputs.resize(size_t(dstSize));
    std::vector<double> weights;
    std::vector<int16_t> units;
    for (int o = 0; o < dstSize; ++o) {
        const double centre = (o + 0.5) * scale - 0.5;
        const int from = int(std::ceil(centre - reach)), to = int(std::floor(centre + reach));
        const int first = std::clamp(from, 0, srcSize - 1);
        const int last = std::clamp(to, 0, srcSize - 1);
        weights.assign(size_t(last - first + 1), 0.0);
        double total = 0;
        for (int s = from; s <= to; ++s) {
            const double w = lanczos((s - centre) / widen);
            weights[size_t(std::clamp(s, first, last) - first)] += w;
            total += w;
        }
        // The rounding error goes onto the largest weight.
        units.assign(weights.size(), 0);
        int sum = 0;
        size_t largest = 0;
        for (size_t i = 0; i < weights.size(); ++i) {
            units[i] = int16_t(std::lround(weights[i] / total * (1 << kFilterWeightBits)));
            sum += units[i];
            if (units[i] > units[largest]) largest = i;
        }
        units[largest] = int16_t(units[largest] + (1 << kFilterWeightBits) - sum);
        // Zero weights at either end cost time and change nothing.
        size_t begin = 0, end = units.size();
        while (end - begin > 1 && units[begin] == 0)
            ++begin;
        while (end - begin > 1 && units[end - 1] == 0)
            --end;
        result.outputs[size_t(o)] = {first + int(begin), int(end - begin),
                                     int(result.weights.size())};
        result.weights.insert(result.weights.end(), units.begin() + long(begin),
                              units.begin() + long(end));
    }
    return result;
}
