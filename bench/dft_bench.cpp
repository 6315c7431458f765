// The DFT engine and the amplitude spectrum beside FFTW, measured in the same run.
// Columns: engine = forward transform with a specification built once; whole = qor_dft_fwd
// (plans on every call); fftw = r2c execute with a FFTW_MEASURE plan; fftw+amp = the same plus
// magnitude and scaling; est = FFTW_ESTIMATE plan + execute + destroy per call.
#include <fftw3.h>

#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "kernels/kernels.hpp"
#include "qor_lib.h"

namespace {

// The best of five rounds of at least 20 ms each, in processor time of this process: on a
// shared machine the time slices other jobs take do not count against either side. The clock
// is read after batches of calls that double up to 1024, so reading it costs next to nothing.
template <class F>
double micros(F&& f) {
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        int64_t reps = 0, batch = 1;
        const std::clock_t t0 = std::clock();
        double el = 0;
        do {
            for (int64_t b = 0; b < batch; ++b) f();
            reps += batch;
            batch = std::min<int64_t>(2 * batch, 1024);
            el = double(std::clock() - t0) * (1e6 / CLOCKS_PER_SEC);
        } while (el < 20000);
        best = std::min(best, el / double(reps));
    }
    return best;
}

template <class T>
struct fftw;
template <>
struct fftw<float> {
    using plan = fftwf_plan;
    using cx = fftwf_complex;
    static void* alloc(size_t b) { return fftwf_malloc(b); }
    static void free(void* p) { fftwf_free(p); }
    static plan make(int n, float* in, cx* out, unsigned f) { return fftwf_plan_dft_r2c_1d(n, in, out, f); }
    static void run(plan p) { fftwf_execute(p); }
    static void destroy(plan p) { fftwf_destroy_plan(p); }
};
template <>
struct fftw<double> {
    using plan = fftw_plan;
    using cx = fftw_complex;
    static void* alloc(size_t b) { return fftw_malloc(b); }
    static void free(void* p) { fftw_free(p); }
    static plan make(int n, double* in, cx* out, unsigned f) { return fftw_plan_dft_r2c_1d(n, in, out, f); }
    static void run(plan p) { fftw_execute(p); }
    static void destroy(plan p) { fftw_destroy_plan(p); }
};

template <class T>
void amplitude(const typename fftw<T>::cx* c, T* a, int n) {
    const T s = T(2) / T(n);
    for (int k = 0; k <= n / 2; ++k) a[k] = std::sqrt(c[k][0] * c[k][0] + c[k][1] * c[k][1]) * s;
    for (int k = n / 2 + 1; k < n; ++k) a[k] = a[n - k];
    a[0] *= T(0.5);
}

template <class T>
void row(int n) {
    using F = fftw<T>;
    const bool single = sizeof(T) == 4;
    std::mt19937 g{1};
    std::uniform_real_distribution<double> u(-1, 1);
    T* in = static_cast<T*>(F::alloc(sizeof(T) * size_t(n)));
    T* amp = static_cast<T*>(F::alloc(sizeof(T) * size_t(n)));
    auto* out = static_cast<typename F::cx*>(F::alloc(sizeof(typename F::cx) * size_t(n / 2 + 1)));
    // The destination on a 64-byte boundary, as the library's own arrays and areas are.
    void* y_block = F::alloc(sizeof(T) * size_t(n) + 64);
    T* y = reinterpret_cast<T*>((reinterpret_cast<uintptr_t>(y_block) + 63) & ~uintptr_t(63));

    // Ours, engine only.
    int ss, is, ws;
    int st = single ? qor::krn::krn_dft_real_get_size_32f(n, 8, 0, &ss, &is, &ws)
                    : qor::krn::krn_dft_real_get_size_64f(n, 8, 0, &ss, &is, &ws);
    if (st) {
        std::printf("%8d  size query failed %d\n", n, st);
        return;
    }
    std::vector<uint8_t> spec(size_t(ss) + 64), init(size_t(is) + 64), work(size_t(ws) + 64);
    if (single) qor::krn::krn_dft_real_init_32f(n, 8, 0, spec.data(), is ? init.data() : nullptr);
    else qor::krn::krn_dft_real_init_64f(n, 8, 0, spec.data(), is ? init.data() : nullptr);
    for (int j = 0; j < n; ++j) in[j] = T(u(g));
    const double engine = micros([&] {
        if constexpr (sizeof(T) == 4) qor::krn::krn_dft_real_fwd_32f(in, y, spec.data(), work.data());
        else qor::krn::krn_dft_real_fwd_64f(in, y, spec.data(), work.data());
    });

    // Ours, the whole operation.
    qor_handle hs, hd;
    qor_create_array(&hs);
    qor_create_array(&hd);
    qor_init_array(hs, n, single ? qor_fmt_32f : qor_fmt_64f);
    qor_init_array(hd, n, single ? qor_fmt_32f : qor_fmt_64f);
    void* buf;
    qor_get_buf(hs, &buf);
    std::memcpy(buf, in, sizeof(T) * size_t(n));
    const double whole = micros([&] { qor_dft_fwd(hs, hd); });
    qor_destroy_array(hs);
    qor_destroy_array(hd);

    // FFTW.
    typename F::plan p = F::make(n, in, out, FFTW_MEASURE);
    for (int j = 0; j < n; ++j) in[j] = T(u(g));
    const double measure = micros([&] { F::run(p); });
    const double measure_amp = micros([&] {
        F::run(p);
        amplitude<T>(out, amp, n);
    });
    F::destroy(p);
    const double estimate = micros([&] {
        typename F::plan q = F::make(n, in, out, FFTW_ESTIMATE);
        F::run(q);
        amplitude<T>(out, amp, n);
        F::destroy(q);
    });
    std::printf("%8d %10.2f %10.2f %10.2f %10.2f %10.2f %8.2f %8.2f %8.2f\n", n, engine, whole, measure, measure_amp,
                estimate, measure / engine, whole / measure_amp, estimate / whole);
    F::free(in);
    F::free(amp);
    F::free(out);
    F::free(y_block);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> lengths = {64, 100, 97, 128, 256, 1000, 1009, 1024, 4096, 6000, 16384, 65536, 65537, 1 << 18, 1 << 20, 1000000};
    if (argc > 1) {
        lengths.clear();
        for (int a = 1; a < argc; ++a) lengths.push_back(std::atoi(argv[a]));
    }
    for (int single = 1; single >= 0; --single) {
        std::printf("%s   (times in microseconds; ratios above 1 favour us)\n", single ? "32-bit float" : "64-bit float");
        std::printf("%8s %10s %10s %10s %10s %10s %8s %8s %8s\n", "N", "engine", "whole", "fftw", "fftw+amp", "est/call",
                    "fftw/eng", "whole/f+a", "est/whole");
        for (int n : lengths) single ? row<float>(n) : row<double>(n);
    }
}
