// Plain loops of the same arithmetic as the constant-arithmetic kernels and the scaling, compiled
// in their own translation unit at -O3 -march=native: the compiler's best on this very machine.
#pragma once
#include <cstdint>

namespace qor::bench::peer {

void mul_32f(const float* s, float v, float* d, int64_t n);
void add_32f(const float* s, float v, float* d, int64_t n);
void mul_32f_ip(float v, float* b, int64_t n);
void add_32f_ip(float v, float* b, int64_t n);
void mul_64f(const double* s, double v, double* d, int64_t n);
void add_64f(const double* s, double v, double* d, int64_t n);
void mul_64f_ip(double v, double* b, int64_t n);
void add_64f_ip(double v, double* b, int64_t n);
// 16-bit unsigned, saturated at 65535 (scale factor 0).
void mul_16u(const uint16_t* s, uint16_t v, uint16_t* d, int64_t n);
void add_16u(const uint16_t* s, uint16_t v, uint16_t* d, int64_t n);
void mul_16u_ip(uint16_t v, uint16_t* b, int64_t n);
void add_16u_ip(uint16_t v, uint16_t* b, int64_t n);
// x * f + o in one pass, rounded after each operation as the scaling does.
void scale_32f(const float* s, float f, float o, float* d, int64_t n);
void scale_64f(const double* s, double f, double o, double* d, int64_t n);
void scale_16u(const uint16_t* s, uint16_t f, uint16_t o, uint16_t* d, int64_t n);

}  // namespace qor::bench::peer
