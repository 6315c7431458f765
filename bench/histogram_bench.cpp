// qor_histogram beside the plain loops a user would write for the same definition: a binary
// search over the levels, a linear scan (256 bins only), a scaled index (fast, not exact at the
// edges), and for 16-bit samples a 65,536-entry table summed per bin. Samples are random, uniform
// over the range and 5% beyond it, generated per size (no small buffer a predictor could learn).
// Ratios above 1: we are faster. Counts are checked against the exact peers before timing.
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "harness.hpp"
#include "histogram_peers.hpp"
#include "qor_lib.h"

using namespace qor::bench;

namespace {

qor_handle lend(void* data, int64_t n, qor_data_format fmt) {
    qor_handle h = -1;
    qor_create_array(&h);
    qor_info info{n, fmt, uint16_t(fmt == qor_fmt_32f ? 32 : 16), data};
    qor_init_array_ex(h, &info);
    return h;
}

void float_rows(table& t, int bins, int argc, char** argv) {
    const float lower = -1.0f, upper = 3.0f;
    const double step = (double(upper) - lower) / bins;
    std::vector<float> L(size_t(bins) + 1);
    for (int k = 0; k <= bins; ++k) L[size_t(k)] = float(double(lower) + k * step);
    L.front() = lower, L.back() = upper;
    std::vector<uint32_t> counts(static_cast<size_t>(bins)), check(static_cast<size_t>(bins));
    std::mt19937_64 rng(2024);
    for (int64_t n : standard_sizes) {
        const std::string name = "32f " + std::to_string(bins) + " bins";
        if (!selected(name, argc, argv)) continue;
        buffer<float> x(n);
        std::uniform_real_distribution<float> dist(lower - 0.2f, upper + 0.2f);
        for (int64_t i = 0; i < n; ++i) x.data()[i] = dist(rng);
        const qor_handle h = lend(x.data(), n, qor_fmt_32f);
        qor_histogram(h, counts.data(), bins, lower, upper);
        peer_binary_search(x.data(), n, L.data(), bins, check.data());
        if (check != counts) std::printf("MISMATCH against the binary search\n");
        std::vector<contender> peers = {
            {"bsrch", [&] { peer_binary_search(x.data(), n, L.data(), bins, check.data()); }},
            {"scaled", [&] { peer_scaled_index(x.data(), n, lower, upper, bins, check.data()); }}};
        if (bins <= 256) peers.push_back({"linear", [&] { peer_linear_scan(x.data(), n, L.data(), bins, check.data()); }});
        t.add(name, n, double(x.bytes()), {"ours", [&] { qor_histogram(h, counts.data(), bins, lower, upper); }}, peers);
        qor_destroy_array(h);
    }
}

void int_rows(table& t, int bins, int argc, char** argv) {
    const float lower = -32768.0f, upper = 32768.0f;
    const double step = (double(upper) - lower) / bins;
    std::vector<int32_t> L(size_t(bins) + 1);
    for (int k = 0; k <= bins; ++k) L[size_t(k)] = int32_t(double(lower) + k * step);
    std::vector<uint32_t> counts(static_cast<size_t>(bins)), check(static_cast<size_t>(bins)), scratch(65536);
    std::mt19937_64 rng(2025);
    for (int64_t n : standard_sizes) {
        const std::string name = "16s " + std::to_string(bins) + " bins";
        if (!selected(name, argc, argv)) continue;
        buffer<int16_t> x(n);
        std::uniform_int_distribution<int> dist(-32768, 32767);
        for (int64_t i = 0; i < n; ++i) x.data()[i] = int16_t(dist(rng));
        const qor_handle h = lend(x.data(), n, qor_fmt_16s);
        qor_histogram(h, counts.data(), bins, lower, upper);
        peer_table(x.data(), n, L.data(), bins, scratch.data(), check.data());
        // Equal bins below 65,536 samples follow L[0] + k * width, which these levels match.
        if (check != counts) std::printf("MISMATCH against the table loop\n");
        t.add(name, n, double(x.bytes()), {"ours", [&] { qor_histogram(h, counts.data(), bins, lower, upper); }},
              {{"table", [&] { peer_table(x.data(), n, L.data(), bins, scratch.data(), check.data()); }}});
        qor_destroy_array(h);
    }
}

}  // namespace

int main(int argc, char** argv) {
    table floats("qor_histogram, 32-bit float samples");
    floats.print_header();
    for (int bins : {256, 4096}) float_rows(floats, bins, argc, argv);
    table ints("qor_histogram, 16-bit samples over all values");
    ints.print_header();
    for (int bins : {256, 1000}) int_rows(ints, bins, argc, argv);
    return 0;
}
