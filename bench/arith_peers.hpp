// Plain loops of the same work as the arith and convert kernels, compiled at -O3 -march=native
// twice: preferring 256-bit and 512-bit vectors (namespaces w256 and w512).
#pragma once
#include <cstdint>

#define QOR_ARITH_PEERS(ns)                                                                       \
    namespace qor::bench::ns {                                                                    \
    void div_32f(const float* d, const float* x, float* q, int64_t n);                           \
    void div_32f_ip(const float* d, float* x, int64_t n);                                        \
    void div_64f(const double* d, const double* x, double* q, int64_t n);                        \
    void div_64f_ip(const double* d, double* x, int64_t n);                                      \
    void sqr_32f(const float* s, float* d, int64_t n);                                           \
    void sqr_64f(const double* s, double* d, int64_t n);                                         \
    void sqr_16u(const uint16_t* s, uint16_t* d, int64_t n);                                     \
    void min_max_32f(const float* s, int64_t n, float* mn, float* mx);                           \
    void min_max_16u(const uint16_t* s, int64_t n, uint16_t* mn, uint16_t* mx);                  \
    void cvt_8u16u(const uint8_t* s, uint16_t* d, int64_t n);                                    \
    void cvt_16u8u(const uint16_t* s, uint8_t* d, int64_t n);                                    \
    void cvt_16s8u(const int16_t* s, uint8_t* d, int64_t n);                                     \
    void cvt_16u32f(const uint16_t* s, float* d, int64_t n);                                     \
    void cvt_16s32f(const int16_t* s, float* d, int64_t n);                                      \
    void cvt_32f16u(const float* s, uint16_t* d, int64_t n);                                     \
    }
QOR_ARITH_PEERS(w256)
QOR_ARITH_PEERS(w512)
#undef QOR_ARITH_PEERS
