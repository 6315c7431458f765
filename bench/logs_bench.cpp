// Logarithm kernels beside SLEEF's AVX-512 and AVX2 functions and a plain libm loop, at 1K, 64K
// and 1M elements. Prints ns per element and our time over the best peer of the same accuracy
// class at the same vector width (below 1 means faster). Also: one negative per 1,000 elements
// against a clean array, which must stay within 10 %.
#include <immintrin.h>
#include <sleef.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"

namespace {

// Thread CPU time: the machine is shared, and wall time counts other processes' turns.
double cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// Best of several trials, each long enough to cover about 8M elements; ns per element.
double time_per_element(int n, const std::function<void()>& run) {
    const int reps = std::max(1, (8 << 20) / n);
    double best = 1e30;
    run();
    for (int trial = 0; trial < 5; ++trial) {
        const double t0 = cpu_ns();
        for (int r = 0; r < reps; ++r) run();
        const double ns = cpu_ns() - t0;
        best = std::min(best, ns / (double(reps) * n));
    }
    return best;
}

template <class T, class V, int W, class Fn>
std::function<void()> sleef_loop(Fn fn, const T* in, T* out, int n) {
    return [=] {
        for (int i = 0; i + W <= n; i += W) {
            V x;
            std::memcpy(&x, in + i, sizeof x);
            const V y = fn(x);
            std::memcpy(out + i, &y, sizeof y);
        }
    };
}

struct row {
    std::string name;
    double ns;
};

void report(const char* kind, int n, const std::vector<row>& ours, const std::vector<row>& peers) {
    for (const row& o : ours) {
        std::printf("%-10s %8d  %-22s %7.3f ns", kind, n, o.name.c_str(), o.ns);
        for (const row& p : peers) std::printf("  | %s %.3f (x%.2f)", p.name.c_str(), p.ns, o.ns / p.ns);
        std::printf("\n");
    }
}

}  // namespace

int main() {
    const bool avx512 = qor::krn::cpu::detect_level() >= 5;
    const bool avx2 = qor::krn::cpu::detect_level() >= 4;
    if (!avx2) {
        std::printf("needs AVX2\n");
        return 0;
    }
    std::printf("kind         length  variant                ns/elem  | peer ns/elem (ours / peer)\n");
    for (int n : {1 << 10, 1 << 16, 1 << 20}) {
        const size_t count = static_cast<size_t>(n);
        std::vector<float> fin(count), fout(count), fneg;
        std::vector<double> din(count), dout(count);
        for (int i = 0; i < n; ++i) {
            fin[size_t(i)] = std::ldexp(1.0f + float(i % 977) / 977.0f, i % 61 - 30);
            din[size_t(i)] = std::ldexp(1.0 + double(i % 977) / 977.0, i % 401 - 200);
        }
        fneg = fin;
        for (int i = 500; i < n; i += 1000) fneg[size_t(i)] = -1.0f;
        const float* fi = fin.data();
        float* fo = fout.data();
        const double* di = din.data();
        double* dd = dout.data();
        auto ours32 = [&](auto variant_of, const float* src) {
            std::vector<row> r;
            for (int level : {5, 4})
                if (level <= qor::krn::cpu::detect_level())
                    r.push_back({"qor level " + std::to_string(level),
                                 time_per_element(n, [&, level] { variant_of(level)(src, fo, n); })});
            return r;
        };
        auto ours64 = [&](auto variant_of) {
            std::vector<row> r;
            for (int level : {5, 4})
                if (level <= qor::krn::cpu::detect_level())
                    r.push_back({"qor level " + std::to_string(level),
                                 time_per_element(n, [&, level] { variant_of(level)(di, dd, n); })});
            return r;
        };
        auto libm32 = [&](float (*f)(float)) {
            return row{"libm", time_per_element(n, [&] { for (int i = 0; i < n; ++i) fo[i] = f(fi[i]); })};
        };
        auto libm64 = [&](double (*f)(double)) {
            return row{"libm", time_per_element(n, [&] { for (int i = 0; i < n; ++i) dd[i] = f(di[i]); })};
        };

        std::vector<row> peers;
        if (avx512) {
            peers.push_back({"sleef512 u35", time_per_element(n, sleef_loop<float, __m512, 16>(Sleef_logf16_u35avx512f, fi, fo, n))});
            peers.push_back({"sleef512 u10", time_per_element(n, sleef_loop<float, __m512, 16>(Sleef_logf16_u10avx512f, fi, fo, n))});
        }
        peers.push_back({"sleef256 u35", time_per_element(n, sleef_loop<float, __m256, 8>(Sleef_logf8_u35avx2, fi, fo, n))});
        peers.push_back({"sleef256 u10", time_per_element(n, sleef_loop<float, __m256, 8>(Sleef_logf8_u10avx2, fi, fo, n))});
        peers.push_back(libm32(logf));
        report("ln 32f", n, ours32(qor::krn::krn_ln_32f_variant, fi), peers);
        report("ln 32f neg", n, ours32(qor::krn::krn_ln_32f_variant, fneg.data()), {});

        peers.clear();
        if (avx512) peers.push_back({"sleef512 u10", time_per_element(n, sleef_loop<float, __m512, 16>(Sleef_log10f16_u10avx512f, fi, fo, n))});
        peers.push_back({"sleef256 u10", time_per_element(n, sleef_loop<float, __m256, 8>(Sleef_log10f8_u10avx2, fi, fo, n))});
        peers.push_back(libm32(log10f));
        report("log10 32f", n, ours32(qor::krn::krn_log10_32f_variant, fi), peers);

        peers.clear();
        if (avx512) peers.push_back({"sleef512 u10", time_per_element(n, sleef_loop<float, __m512, 16>(Sleef_log1pf16_u10avx512f, fi, fo, n))});
        peers.push_back({"sleef256 u10", time_per_element(n, sleef_loop<float, __m256, 8>(Sleef_log1pf8_u10avx2, fi, fo, n))});
        peers.push_back(libm32(log1pf));
        report("log1p 32f", n, ours32(qor::krn::krn_log1p_32f_variant, fi), peers);

        peers.clear();
        if (avx512) {
            peers.push_back({"sleef512 u35", time_per_element(n, sleef_loop<double, __m512d, 8>(Sleef_logd8_u35avx512f, di, dd, n))});
            peers.push_back({"sleef512 u10", time_per_element(n, sleef_loop<double, __m512d, 8>(Sleef_logd8_u10avx512f, di, dd, n))});
        }
        peers.push_back({"sleef256 u10", time_per_element(n, sleef_loop<double, __m256d, 4>(Sleef_logd4_u10avx2, di, dd, n))});
        peers.push_back(libm64(log));
        report("ln 64f", n, ours64(qor::krn::krn_ln_64f_variant), peers);

        peers.clear();
        if (avx512) peers.push_back({"sleef512 u10", time_per_element(n, sleef_loop<double, __m512d, 8>(Sleef_log10d8_u10avx512f, di, dd, n))});
        peers.push_back({"sleef256 u10", time_per_element(n, sleef_loop<double, __m256d, 4>(Sleef_log10d4_u10avx2, di, dd, n))});
        peers.push_back(libm64(log10));
        report("log10 64f", n, ours64(qor::krn::krn_log10_64f_variant), peers);

        peers.clear();
        if (avx512) peers.push_back({"sleef512 u10", time_per_element(n, sleef_loop<double, __m512d, 8>(Sleef_log1pd8_u10avx512f, di, dd, n))});
        peers.push_back({"sleef256 u10", time_per_element(n, sleef_loop<double, __m256d, 4>(Sleef_log1pd4_u10avx2, di, dd, n))});
        peers.push_back(libm64(log1p));
        report("log1p 64f", n, ours64(qor::krn::krn_log1p_64f_variant), peers);
    }
}
