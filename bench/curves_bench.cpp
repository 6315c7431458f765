// Exp and sine beside SLEEF, glibc's vector math and plain loops; tones beside a plain stride-8
// recurrence; ramps beside a plain store loop; the curve operations beside their kernel chains.
// Run on an AVX-512 machine: ./qor_bench_curves --benchmark_min_time=0.2
#include <benchmark/benchmark.h>
#include <immintrin.h>
#include <sleef.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"
#include "qor_lib.h"

using namespace qor::krn;

extern "C" __m512 _ZGVeN16v_expf(__m512);
extern "C" __m512 _ZGVeN16v_sinf(__m512);
extern "C" __m256 _ZGVdN8v_expf(__m256);
extern "C" __m256 _ZGVdN8v_sinf(__m256);

namespace {

constexpr int n64k = 65536;

// Arguments over the range the curves use: exp of -20 .. 5, sine of -100 .. 100.
std::vector<float> inputs(float lo, float hi) {
    std::vector<float> v(n64k);
    for (int i = 0; i < n64k; ++i) v[i] = lo + (hi - lo) * float((i * 7919) % n64k) / n64k;
    return v;
}

template <class F>
void run_array(benchmark::State& state, float lo, float hi, F f) {
    auto in = inputs(lo, hi);
    std::vector<float> out(n64k);
    for (auto _ : state) {
        f(in.data(), out.data(), n64k);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n64k);
}

// A loop over whole registers of a peer's vector function.
#define VEC_LOOP(V, fn)                                      \
    [](const float* in, float* out, int n) {                 \
        for (int i = 0; i < n; i += int(sizeof(V) / 4)) {    \
            V x;                                             \
            std::memcpy(&x, in + i, sizeof x);               \
            V y = fn(x);                                     \
            std::memcpy(out + i, &y, sizeof y);              \
        }                                                    \
    }

int level_arg(benchmark::State& state) {
    const int level = int(state.range(0));
    if (level > cpu::detect_level()) state.SkipWithError("level not supported here");
    return level;
}

void BM_exp_qor(benchmark::State& s) {
    auto k = krn_exp_32f_variant(level_arg(s));
    run_array(s, -20, 5, [&](const float* a, float* b, int n) { k(a, b, n); });
}
void BM_sin_qor(benchmark::State& s) {
    auto k = krn_sin_32f_variant(level_arg(s));
    run_array(s, -100, 100, [&](const float* a, float* b, int n) { k(a, b, n); });
}
void BM_exp_sleef_avx512_u10(benchmark::State& s) { run_array(s, -20, 5, VEC_LOOP(__m512, Sleef_expf16_u10avx512f)); }
void BM_exp_sleef_avx2_u10(benchmark::State& s) { run_array(s, -20, 5, VEC_LOOP(__m256, Sleef_expf8_u10avx2)); }
void BM_sin_sleef_avx512_u35(benchmark::State& s) { run_array(s, -100, 100, VEC_LOOP(__m512, Sleef_sinf16_u35avx512f)); }
void BM_sin_sleef_avx512_u10(benchmark::State& s) { run_array(s, -100, 100, VEC_LOOP(__m512, Sleef_sinf16_u10avx512f)); }
void BM_sin_sleef_avx2_u35(benchmark::State& s) { run_array(s, -100, 100, VEC_LOOP(__m256, Sleef_sinf8_u35avx2)); }
void BM_sin_sleef_avx2_u10(benchmark::State& s) { run_array(s, -100, 100, VEC_LOOP(__m256, Sleef_sinf8_u10avx2)); }
void BM_exp_libmvec_avx512(benchmark::State& s) { run_array(s, -20, 5, VEC_LOOP(__m512, _ZGVeN16v_expf)); }
void BM_sin_libmvec_avx512(benchmark::State& s) { run_array(s, -100, 100, VEC_LOOP(__m512, _ZGVeN16v_sinf)); }
void BM_exp_libmvec_avx2(benchmark::State& s) { run_array(s, -20, 5, VEC_LOOP(__m256, _ZGVdN8v_expf)); }
void BM_sin_libmvec_avx2(benchmark::State& s) { run_array(s, -100, 100, VEC_LOOP(__m256, _ZGVdN8v_sinf)); }
void BM_exp_plain_loop(benchmark::State& s) {
    run_array(s, -20, 5, [](const float* a, float* b, int n) {
        for (int i = 0; i < n; ++i) b[i] = std::exp(a[i]);
    });
}
void BM_sin_plain_loop(benchmark::State& s) {
    run_array(s, -100, 100, [](const float* a, float* b, int n) {
        for (int i = 0; i < n; ++i) b[i] = std::sin(a[i]);
    });
}

// Tones: ours against the plain stride-8 single-precision recurrence it contains.
void BM_tone_qor(benchmark::State& s) {
    auto k = krn_tone_32f_variant(level_arg(s));
    std::vector<float> out(n64k);
    for (auto _ : s) {
        float ph = 0.3f;
        k(out.data(), n64k, 1.0f, 0.0123f, &ph, 1);
        benchmark::DoNotOptimize(out.data());
    }
    s.SetItemsProcessed(s.iterations() * n64k);
}
void BM_tone_plain_recurrence(benchmark::State& s) {
    std::vector<float> out(n64k);
    for (int i = 0; i < 16; ++i) out[i] = std::cos(0.0123f * 6.2831855f * i);
    const float g = 2 * std::cos(8 * 0.0123f * 6.2831855f);
    for (auto _ : s) {
        for (int i = 16; i < n64k; ++i) out[i] = g * out[i - 8] - out[i - 16];
        benchmark::DoNotOptimize(out.data());
    }
    s.SetItemsProcessed(s.iterations() * n64k);
}

// Ramps against a plain loop storing offset + slope * i, at several sizes.
void BM_ramp_qor(benchmark::State& s) {
    auto k = krn_vector_slope_32f_variant(level_arg(s));
    const int n = int(s.range(1));
    std::vector<float> out(n);
    for (auto _ : s) {
        k(out.data(), n, 1.5f, 0.25f);
        benchmark::DoNotOptimize(out.data());
    }
    s.SetItemsProcessed(s.iterations() * n);
}
void BM_ramp_plain_loop(benchmark::State& s) {
    const int n = int(s.range(0));
    std::vector<float> out(n);
    for (auto _ : s) {
        for (int i = 0; i < n; ++i) out[i] = 1.5f + 0.25f * float(i);
        benchmark::DoNotOptimize(out.data());
    }
    s.SetItemsProcessed(s.iterations() * n);
}

// The curve operations at 1M elements, and the bare kernel chains they run.
constexpr int n1m = 1 << 20;
struct curve_fixture {
    qor_handle h;
    curve_fixture() {
        qor_create_array(&h);
        qor_init_array(h, n1m, qor_fmt_32f);
    }
    ~curve_fixture() { qor_destroy_array(h); }
};
void BM_sin_plot(benchmark::State& s) {
    curve_fixture f;
    for (auto _ : s) qor_sin_plot(f.h, 0.001f, 2.0f, 0.5f, 30.0f);
    s.SetItemsProcessed(s.iterations() * n1m);
}
void BM_sin_plot_kernel_chain(benchmark::State& s) {
    std::vector<float> t(n1m), d(n1m);
    for (auto _ : s) {
        krn_vector_slope_32f(t.data(), n1m, 0, 1);
        krn_mul_const_32f(t.data(), 0.001f * 6.2831855f, d.data(), n1m);
        krn_add_const_32f_ip(0.5235988f, d.data(), n1m);
        krn_sin_32f(d.data(), t.data(), n1m);
        krn_mul_const_32f(t.data(), 2.0f, d.data(), n1m);
        krn_add_const_32f_ip(0.5f, d.data(), n1m);
        benchmark::DoNotOptimize(d.data());
    }
    s.SetItemsProcessed(s.iterations() * n1m);
}
void BM_gaussian_plot(benchmark::State& s) {
    curve_fixture f;
    for (auto _ : s) qor_gaussian_plot(f.h, 0.0f, 3.0f, 2.0f, -5.0f, 1e-5f);
    s.SetItemsProcessed(s.iterations() * n1m);
}
void BM_gaussian_plot_kernel_chain(benchmark::State& s) {
    std::vector<float> t1(n1m), t2(n1m), d(n1m);
    for (auto _ : s) {
        krn_vector_slope_32f(t2.data(), n1m, -5.0f, 1e-5f);
        krn_sub_const_32f(t2.data(), 0.0001f, t1.data(), n1m);
        krn_mul_32f(t1.data(), t1.data(), d.data(), n1m);
        krn_mul_const_32f(d.data(), -0.5f / 9.0f, t1.data(), n1m);
        krn_exp_32f(t1.data(), d.data(), n1m);
        krn_mul_const_32f_ip(2.0f, d.data(), n1m);
        benchmark::DoNotOptimize(d.data());
    }
    s.SetItemsProcessed(s.iterations() * n1m);
}

}  // namespace

BENCHMARK(BM_exp_qor)->DenseRange(4, 5);
BENCHMARK(BM_exp_sleef_avx512_u10);
BENCHMARK(BM_exp_sleef_avx2_u10);
BENCHMARK(BM_exp_libmvec_avx512);
BENCHMARK(BM_exp_libmvec_avx2);
BENCHMARK(BM_exp_plain_loop);
BENCHMARK(BM_sin_qor)->DenseRange(4, 5);
BENCHMARK(BM_sin_sleef_avx512_u35);
BENCHMARK(BM_sin_sleef_avx512_u10);
BENCHMARK(BM_sin_sleef_avx2_u35);
BENCHMARK(BM_sin_sleef_avx2_u10);
BENCHMARK(BM_sin_libmvec_avx512);
BENCHMARK(BM_sin_libmvec_avx2);
BENCHMARK(BM_sin_plain_loop);
BENCHMARK(BM_tone_qor)->DenseRange(0, 5);
BENCHMARK(BM_tone_plain_recurrence);
BENCHMARK(BM_ramp_qor)->ArgsProduct({{0, 4, 5}, {64, 1024, 65536, 1 << 20}});
BENCHMARK(BM_ramp_plain_loop)->Arg(64)->Arg(1024)->Arg(65536)->Arg(1 << 20);
BENCHMARK(BM_sin_plot);
BENCHMARK(BM_sin_plot_kernel_chain);
BENCHMARK(BM_gaussian_plot);
BENCHMARK(BM_gaussian_plot_kernel_chain);
BENCHMARK_MAIN();
