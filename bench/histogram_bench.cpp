// qor_histogram beside the plain loops a user would write for the same definition: a binary
// search over the levels, a linear scan, a scaled index (fast but not exact at the edges), and
// for 16-bit samples a 65,536-entry table summed per bin. Random samples, uniform over the range
// and 5% beyond it, regenerated per size (no small buffer the branch predictor could learn).
// Prints ns per sample (best of several runs) and the ratio peer time / our time.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "qor_lib.h"

namespace {

double best_ns_per_sample(int64_t n, const std::function<void()>& run) {
    const int64_t reps = std::max<int64_t>(3, std::min<int64_t>(50, (int64_t(1) << 26) / n));
    run();  // warm caches and first-call detection
    double best = 1e300;
    for (int64_t r = 0; r < reps; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        run();
        const auto t1 = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count());
    }
    return best / double(n);
}

std::vector<float> float_levels(float lower, float upper, int bins) {
    const double step = (double(upper) - double(lower)) / bins;
    std::vector<float> L(size_t(bins) + 1);
    for (int k = 0; k <= bins; ++k) L[size_t(k)] = float(double(lower) + k * step);
    L.front() = lower;
    L.back() = upper;
    return L;
}

void peer_binary_search(const float* x, int64_t n, const std::vector<float>& L, uint32_t* counts) {
    const int bins = int(L.size()) - 1;
    std::memset(counts, 0, sizeof(uint32_t) * size_t(bins));
    for (int64_t i = 0; i < n; ++i) {
        const float v = x[i];
        if (!(v >= L[0] && v < L[size_t(bins)])) continue;
        ++counts[std::upper_bound(L.begin(), L.end() - 1, v) - L.begin() - 1];
    }
}

void peer_linear_scan(const float* x, int64_t n, const std::vector<float>& L, uint32_t* counts) {
    const int bins = int(L.size()) - 1;
    std::memset(counts, 0, sizeof(uint32_t) * size_t(bins));
    for (int64_t i = 0; i < n; ++i) {
        const float v = x[i];
        if (!(v >= L[0] && v < L[size_t(bins)])) continue;
        int k = 0;
        while (L[size_t(k) + 1] <= v) ++k;
        ++counts[k];
    }
}

// Not exact next to the levels; shown for its speed only.
void peer_scaled_index(const float* x, int64_t n, float lower, float upper, int bins, uint32_t* counts) {
    std::memset(counts, 0, sizeof(uint32_t) * size_t(bins));
    const float scale = float(bins / (double(upper) - lower));
    for (int64_t i = 0; i < n; ++i) {
        const float v = x[i];
        if (!(v >= lower && v < upper)) continue;
        ++counts[std::min(int((v - lower) * scale), bins - 1)];
    }
}

void peer_table(const int16_t* x, int64_t n, const std::vector<int32_t>& L, uint32_t* table, uint32_t* counts) {
    std::memset(table, 0, sizeof(uint32_t) * 65536);
    for (int64_t i = 0; i < n; ++i) ++table[x[i] + 32768];
    for (size_t k = 0; k + 1 < L.size(); ++k) {
        uint32_t s = 0;
        for (int32_t v = std::max(L[k], -32768); v < std::min(L[k + 1], 32768); ++v) s += table[v + 32768];
        counts[k] = s;
    }
}

qor_handle lend(void* data, int64_t n, qor_data_format fmt) {
    qor_handle h = -1;
    qor_create_array(&h);
    qor_info info{n, fmt, uint16_t(fmt == qor_fmt_32f ? 32 : 16), data};
    qor_init_array_ex(h, &info);
    return h;
}

}  // namespace

int main(int argc, char** argv) {
    const int64_t max_n = argc > 1 ? std::atoll(argv[1]) : (int64_t(1) << 24);
    std::mt19937_64 rng(2024);
    std::printf("float samples: ns/sample, ratio = peer / qor\n");
    std::printf("%9s %5s %8s %8s %8s %8s | %6s %6s %6s\n", "n", "bins", "qor", "bsearch", "linear", "scaled", "x bs",
                "x lin", "x sc");
    for (int bins : {256, 4096}) {
        const float lower = -1.0f, upper = 3.0f;
        const std::vector<float> L = float_levels(lower, upper, bins);
        std::vector<uint32_t> counts(static_cast<size_t>(bins)), check(static_cast<size_t>(bins));
        for (int64_t n = 1 << 16; n <= max_n; n <<= 2) {
            std::vector<float> x(static_cast<size_t>(n));
            std::uniform_real_distribution<float> dist(lower - 0.2f, upper + 0.2f);
            for (auto& v : x) v = dist(rng);
            const qor_handle h = lend(x.data(), n, qor_fmt_32f);
            const double ours = best_ns_per_sample(n, [&] { qor_histogram(h, counts.data(), bins, lower, upper); });
            const double bs = best_ns_per_sample(n, [&] { peer_binary_search(x.data(), n, L, check.data()); });
            if (check != counts) std::printf("MISMATCH against the binary search\n");
            const double lin =
                bins <= 256 ? best_ns_per_sample(n, [&] { peer_linear_scan(x.data(), n, L, check.data()); }) : 0.0;
            const double sc =
                best_ns_per_sample(n, [&] { peer_scaled_index(x.data(), n, lower, upper, bins, check.data()); });
            std::printf("%9lld %5d %8.3f %8.3f %8.3f %8.3f | %6.2f %6.2f %6.2f\n", (long long)n, bins, ours, bs, lin,
                        sc, bs / ours, lin / ours, sc / ours);
            qor_destroy_array(h);
        }
    }
    std::printf("\n16-bit samples (uniform over all values): ns/sample, ratio = table loop / qor\n");
    std::printf("%9s %5s %8s %8s | %6s\n", "n", "bins", "qor", "table", "x tab");
    for (int bins : {256, 1000}) {
        const float lower = -32768.0f, upper = 32768.0f;
        std::vector<int32_t> L(size_t(bins) + 1);
        const double step = (double(upper) - lower) / bins;
        for (int k = 0; k <= bins; ++k) L[size_t(k)] = int32_t(double(lower) + k * step);
        std::vector<uint32_t> counts(static_cast<size_t>(bins)), check(static_cast<size_t>(bins)), table(65536);
        for (int64_t n = 1 << 10; n <= max_n; n <<= 2) {
            std::vector<int16_t> x(static_cast<size_t>(n));
            std::uniform_int_distribution<int> dist(-32768, 32767);
            for (auto& v : x) v = int16_t(dist(rng));
            const qor_handle h = lend(x.data(), n, qor_fmt_16s);
            const double ours = best_ns_per_sample(n, [&] { qor_histogram(h, counts.data(), bins, lower, upper); });
            const double tab = best_ns_per_sample(n, [&] { peer_table(x.data(), n, L, table.data(), check.data()); });
            // Equal bins below 65,536 samples follow L[0] + k * width, which these levels match.
            if (check != counts) std::printf("MISMATCH against the table loop\n");
            std::printf("%9lld %5d %8.3f %8.3f | %6.2f\n", (long long)n, bins, ours, tab, tab / ours);
            qor_destroy_array(h);
        }
    }
    return 0;
}
