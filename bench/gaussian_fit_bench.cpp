// The Gaussian fit beside one plain pass that reads its samples (a sum with independent
// accumulators, as fast as the data comes in), and beside the two steps the fit is made of: the
// logarithms ln(1 + y) and the quadratic fit of them. The goal: the fit within 6x of the read.
//   qor_bench_gaussian_fit [filter...]
#include <immintrin.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "harness.hpp"
#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"
#include "qor_lib.h"

using namespace qor::bench;

namespace {

volatile float read_sink;

// Eight vector accumulators of eight floats: no dependency chain holds the loads back.
__attribute__((target("avx2"))) float read_sum_avx2(const float* src, int64_t n) {
    __m256 acc[8];
    for (__m256& a : acc) a = _mm256_setzero_ps();
    int64_t i = 0;
    for (; i + 64 <= n; i += 64)
        for (int j = 0; j < 8; ++j) acc[j] = _mm256_add_ps(acc[j], _mm256_loadu_ps(src + i + 8 * j));
    for (int j = 1; j < 8; ++j) acc[0] = _mm256_add_ps(acc[0], acc[j]);
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, acc[0]);
    float s = 0;
    for (float v : lanes) s += v;
    for (; i < n; ++i) s += src[i];
    return s;
}

float read_sum_plain(const float* src, int64_t n) {
    float acc[8] = {};
    int64_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (int j = 0; j < 8; ++j) acc[j] += src[i + j];
    float s = 0;
    for (float v : acc) s += v;
    for (; i < n; ++i) s += src[i];
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const int level = qor::krn::cpu::detect_level();
    const bool avx2 = level >= 4;
    std::printf("# processor level %d; ratio = peer time / our time (above 1: ours is faster)\n", level);
    table t("Gaussian fit: centre 10, sigma 5, peak 100 over [0, 20)");
    t.print_header();
    for (int64_t n : {int64_t{1024}, int64_t{65536}, int64_t{1048576}}) {
        registry_array y(n, qor_fmt_32f), logs(n, qor_fmt_32f), coef(4, qor_fmt_32f);
        const float dx = 20.0f / float(n);
        qor_gaussian_plot(y.h, 10.0f, 5.0f, 100.0f, 0.0f, dx);
        const contender read{"read", [&] { read_sink = avx2 ? read_sum_avx2(y.buf(), n) : read_sum_plain(y.buf(), n); }};
        float centre = 0, sigma = 0, peak = 0;
        if (selected("qor_gaussian_fit", argc, argv))
            t.add("qor_gaussian_fit", n, 4.0 * double(n),
                  {"ours", [&] { qor_gaussian_fit(y.h, 0.0f, dx, &centre, &sigma, &peak); }}, {read});
        // Its two steps on their own, so a slow fit shows where its time goes.
        if (selected("log1p", argc, argv))
            t.add("  step: krn_log1p_32f", n, 8.0 * double(n),
                  {"ours", [&] { qor::krn::krn_log1p_32f(y.buf(), logs.buf(), int(n)); }}, {read});
        if (selected("quadratic", argc, argv))
            t.add("  step: qor_quadratic_fit", n, 4.0 * double(n),
                  {"ours", [&] { qor_quadratic_fit(logs.h, coef.h); }}, {read});
        if (n == 1048576 && selected("qor_gaussian_fit", argc, argv))
            std::printf("# fit of the 1M samples: centre %.6g sigma %.6g peak %.6g\n", double(centre), double(sigma),
                        double(peak));
    }
    return 0;
}
