#include "random_peers.hpp"

#include <cmath>
#include <cstring>
#include <random>

namespace qor::bench::random_peers {
namespace {

struct core {
    uint32_t L = 0x436CBAE9u, r1, r2, r3, c = 0xFFFFFFFFu;
    explicit core(uint32_t seed) : r1(seed) {
        r2 = seed * 69069u + 1013904243u;
        r3 = r2 * 69069u + 1013904243u;
    }
    int32_t step() {
        L = L * 69069u + 1013904243u;
        const uint32_t d = r2 - r3 + c;
        const bool neg = int32_t(d) < 0;
        const uint32_t x = neg ? d - 18u : d;
        c = neg ? 0xFFFFFFFFu : 0u;
        r3 = r2;
        r2 = r1;
        r1 = x;
        return int32_t(x + L);
    }
};

template <class T>
void scalar_gauss(T* dst, int64_t n, uint32_t seed, double mu, double sigma) {
    core k(seed);
    int64_t i = 0;
    while (i < n) {
        double w1, w2, s;
        do {
            w1 = k.step() * 0x1p-31;
            w2 = k.step() * 0x1p-31;
            s = w1 * w1 + w2 * w2;
        } while (s >= 1.0 || s == 0.0);
        const double f = std::sqrt(std::log(s) * -2.0 / s);
        dst[i++] = T((w2 * sigma) * f + mu);
        if (i < n) dst[i++] = T((w1 * sigma) * f + mu);
    }
}

template <class T>
void polar_mt(T* dst, int64_t n, uint32_t seed) {
    std::mt19937 g(seed);
    int64_t i = 0;
    while (i < n) {
        double u, v, s;
        do {
            u = int32_t(g()) * 0x1p-31;
            v = int32_t(g()) * 0x1p-31;
            s = u * u + v * v;
        } while (s >= 1.0 || s == 0.0);
        const double f = std::sqrt(-2.0 * std::log(s) / s);
        dst[i++] = T(u * f);
        if (i < n) dst[i++] = T(v * f);
    }
}

template <class T>
void std_normal(T* dst, int64_t n, uint32_t seed) {
    std::mt19937 g(seed);
    std::normal_distribution<T> d;
    for (int64_t i = 0; i < n; ++i) dst[i] = d(g);
}

}  // namespace

void scalar_uniform_32f(float* dst, int64_t n, uint32_t seed, float low, float high) {
    core k(seed);
    const double mid = double(low + high) * 0.5, scale = double(high - low) * 0x1p-32;
    for (int64_t i = 0; i < n; ++i) dst[i] = float(k.step() * scale + mid);
}
void scalar_gauss_32f(float* dst, int64_t n, uint32_t seed, double mean, double sd) {
    scalar_gauss(dst, n, seed, mean, sd);
}
void scalar_gauss_64f(double* dst, int64_t n, uint32_t seed, double mean, double sd) {
    scalar_gauss(dst, n, seed, mean, sd);
}
void polar_mt_32f(float* dst, int64_t n, uint32_t seed) { polar_mt(dst, n, seed); }
void polar_mt_64f(double* dst, int64_t n, uint32_t seed) { polar_mt(dst, n, seed); }
void std_normal_32f(float* dst, int64_t n, uint32_t seed) { std_normal(dst, n, seed); }
void std_normal_64f(double* dst, int64_t n, uint32_t seed) { std_normal(dst, n, seed); }
void std_uniform_32f(float* dst, int64_t n, uint32_t seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<float> d(-5.0f, 5.0f);
    for (int64_t i = 0; i < n; ++i) dst[i] = d(g);
}

uint32_t read_pass(const float* src, int64_t n) {
    // Integer lanes, so the compiler may vectorise the reduction freely: a pass at memory speed.
    const uint32_t* w = reinterpret_cast<const uint32_t*>(src);
    uint32_t x = 0;
    for (int64_t i = 0; i < n; ++i) x ^= w[i];
    return x;
}

}  // namespace qor::bench::random_peers
