// A plain, one-element-at-a-time model of the random generators, written from their definition:
// the integer core, the uniform mapping and the polar method with its spare. The logarithm is a
// parameter, so a test can run it with the C library's or with the generators' own.
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

namespace qor::test {

struct model_core {
    uint32_t L = 0x436CBAE9u, r1, r2, r3, c = 0xFFFFFFFFu;
    explicit model_core(uint32_t seed) : r1(seed) {
        r2 = seed * 69069u + 1013904243u;
        r3 = r2 * 69069u + 1013904243u;
    }
    int32_t step() {
        L = L * 69069u + 1013904243u;
        const uint32_t d = r2 - r3 + c;
        uint32_t x;
        if (static_cast<int32_t>(d) < 0) {
            x = d - 18u;
            c = 0xFFFFFFFFu;
        } else {
            x = d;
            c = 0;
        }
        r3 = r2;
        r2 = r1;
        r1 = x;
        return static_cast<int32_t>(x + L);
    }
};

inline std::vector<float> model_uniform(uint32_t seed, float low, float high, int n) {
    model_core k(seed);
    const double mid = static_cast<double>(low + high) * 0.5;
    const double scale = static_cast<double>(high - low) * 0x1p-32;
    std::vector<float> out;
    for (int i = 0; i < n; ++i) out.push_back(static_cast<float>(k.step() * scale + mid));
    return out;
}

// The polar method's doubles, before the element type's rounding.
template <double (*Ln)(double)>
struct model_gauss {
    model_core k;
    double sigma, mu;
    bool spare = false;
    double factor = 0, w1 = 0, w2 = 0;
    model_gauss(uint32_t seed, double mean, double stdev) : k(seed), sigma(stdev), mu(mean) {}

    void draw() {
        double s;
        do {
            w1 = k.step() * 0x1p-31;
            w2 = k.step() * 0x1p-31;
            s = w1 * w1 + w2 * w2;
        } while (s >= 1.0 || s == 0.0);
        factor = std::sqrt(Ln(s) * -2.0 / s);
    }
    std::vector<double> next(int n) {
        std::vector<double> out;
        if (spare && n > 0) {
            out.push_back((w1 * factor) * sigma + mu);
            spare = false;
        }
        while (static_cast<int>(out.size()) + 2 <= n) {
            draw();
            out.push_back((w2 * sigma) * factor + mu);
            out.push_back((w1 * sigma) * factor + mu);
        }
        if (static_cast<int>(out.size()) < n) {
            draw();
            out.push_back((sigma * w2) * factor + mu);
            spare = true;
        }
        return out;
    }
};

inline double libc_ln(double s) { return std::log(s); }

inline int16_t model_round_16s(double v) {
    const double r = std::nearbyint(v);
    return static_cast<int16_t>(r < -32768.0 ? -32768.0 : (r > 32767.0 ? 32767.0 : r));
}

}  // namespace qor::test
