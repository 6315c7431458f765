// A long-double reference for the forward real DFT, and the packed layout it is compared in.
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

namespace qor::test {

// X[k] = sum x[j] e^(-2 pi i jk/N) for the bins in `bins`, from an exactly computed table of the
// N roots (no recurrence), accumulated in long double.
struct dft_reference {
    int64_t n;
    std::vector<long double> c, s;
    explicit dft_reference(int64_t len) : n(len), c(size_t(len)), s(size_t(len)) {
        const long double two_pi = 6.283185307179586476925286766559005768L;
        for (int64_t t = 0; t < n; ++t) {
            c[size_t(t)] = cosl(two_pi * (long double)t / (long double)n);
            s[size_t(t)] = -sinl(two_pi * (long double)t / (long double)n);
        }
    }
    template <class T>
    void bin(const T* x, int64_t k, long double& re, long double& im) const {
        re = 0;
        im = 0;
        int64_t jk = 0;
        for (int64_t j = 0; j < n; ++j) {
            re += (long double)x[j] * c[size_t(jk)];
            im += (long double)x[j] * s[size_t(jk)];
            jk += k;
            if (jk >= n) jk -= n;
        }
    }
};

// Position of Re X[k] and Im X[k] in the packed layout (-1 when not stored).
inline int64_t packed_re(int64_t n, int64_t k) { return k == 0 ? 0 : (2 * k == n ? n - 1 : 2 * k - 1); }
inline int64_t packed_im(int64_t n, int64_t k) { return (k == 0 || 2 * k == n) ? -1 : 2 * k; }

}  // namespace qor::test
