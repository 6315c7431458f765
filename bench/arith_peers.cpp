// The peers: what a careful programmer writes and the compiler vectorises on its own.
#include "arith_peers.hpp"

#if QOR_PEER_WIDTH == 512
#  define QOR_PEER_NS w512
#else
#  define QOR_PEER_NS w256
#endif

namespace qor::bench::QOR_PEER_NS {

void div_32f(const float* __restrict d, const float* __restrict x, float* __restrict q, int64_t n) {
    for (int64_t i = 0; i < n; ++i) q[i] = x[i] / d[i];
}
void div_32f_ip(const float* __restrict d, float* __restrict x, int64_t n) {
    for (int64_t i = 0; i < n; ++i) x[i] = x[i] / d[i];
}
void div_64f(const double* __restrict d, const double* __restrict x, double* __restrict q, int64_t n) {
    for (int64_t i = 0; i < n; ++i) q[i] = x[i] / d[i];
}
void div_64f_ip(const double* __restrict d, double* __restrict x, int64_t n) {
    for (int64_t i = 0; i < n; ++i) x[i] = x[i] / d[i];
}
void sqr_32f(const float* __restrict s, float* __restrict d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = s[i] * s[i];
}
void sqr_64f(const double* __restrict s, double* __restrict d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = s[i] * s[i];
}
void sqr_16u(const uint16_t* __restrict s, uint16_t* __restrict d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = s[i] > 255 ? uint16_t(65535) : uint16_t(s[i] * s[i]);
}
void min_max_32f(const float* __restrict s, int64_t n, float* mn, float* mx) {
    float lo = s[0], hi = s[0];
#pragma omp simd reduction(min : lo) reduction(max : hi)
    for (int64_t i = 0; i < n; ++i) {
        lo = s[i] < lo ? s[i] : lo;
        hi = s[i] > hi ? s[i] : hi;
    }
    *mn = lo;
    *mx = hi;
}
void min_max_16u(const uint16_t* __restrict s, int64_t n, uint16_t* mn, uint16_t* mx) {
    uint16_t lo = 65535, hi = 0;
#pragma omp simd reduction(min : lo) reduction(max : hi)
    for (int64_t i = 0; i < n; ++i) {
        lo = s[i] < lo ? s[i] : lo;
        hi = s[i] > hi ? s[i] : hi;
    }
    *mn = lo;
    *mx = hi;
}
void cvt_8u16u(const uint8_t* __restrict s, uint16_t* __restrict d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = s[i];
}
void cvt_16u8u(const uint16_t* __restrict s, uint8_t* __restrict d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = uint8_t(s[i] > 255 ? 255 : s[i]);
}
void cvt_16s8u(const int16_t* __restrict s, uint8_t* __restrict d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = uint8_t(s[i] < 0 ? 0 : s[i] > 255 ? 255 : s[i]);
}
void cvt_16u32f(const uint16_t* __restrict s, float* __restrict d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = float(s[i]);
}
void cvt_16s32f(const int16_t* __restrict s, float* __restrict d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = float(s[i]);
}
void cvt_32f16u(const float* __restrict s, uint16_t* __restrict d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        const float x = s[i] > 0 ? (s[i] < 65535.0f ? s[i] : 65535.0f) : 0.0f;
        d[i] = uint16_t(int32_t(x));
    }
}

}  // namespace qor::bench::QOR_PEER_NS
