#include "const_arith_peers.hpp"

namespace qor::bench::peer {

namespace {
inline uint16_t saturate(uint32_t r) { return r > 65535u ? uint16_t(65535) : uint16_t(r); }
}  // namespace

void mul_32f(const float* s, float v, float* d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = s[i] * v;
}
void add_32f(const float* s, float v, float* d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = s[i] + v;
}
void mul_32f_ip(float v, float* b, int64_t n) {
    for (int64_t i = 0; i < n; ++i) b[i] *= v;
}
void add_32f_ip(float v, float* b, int64_t n) {
    for (int64_t i = 0; i < n; ++i) b[i] += v;
}
void mul_64f(const double* s, double v, double* d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = s[i] * v;
}
void add_64f(const double* s, double v, double* d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = s[i] + v;
}
void mul_64f_ip(double v, double* b, int64_t n) {
    for (int64_t i = 0; i < n; ++i) b[i] *= v;
}
void add_64f_ip(double v, double* b, int64_t n) {
    for (int64_t i = 0; i < n; ++i) b[i] += v;
}
void mul_16u(const uint16_t* s, uint16_t v, uint16_t* d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = saturate(uint32_t(s[i]) * v);
}
void add_16u(const uint16_t* s, uint16_t v, uint16_t* d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = saturate(uint32_t(s[i]) + v);
}
void mul_16u_ip(uint16_t v, uint16_t* b, int64_t n) {
    for (int64_t i = 0; i < n; ++i) b[i] = saturate(uint32_t(b[i]) * v);
}
void add_16u_ip(uint16_t v, uint16_t* b, int64_t n) {
    for (int64_t i = 0; i < n; ++i) b[i] = saturate(uint32_t(b[i]) + v);
}
void scale_32f(const float* s, float f, float o, float* d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = s[i] * f + o;
}
void scale_64f(const double* s, double f, double o, double* d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = s[i] * f + o;
}
void scale_16u(const uint16_t* s, uint16_t f, uint16_t o, uint16_t* d, int64_t n) {
    for (int64_t i = 0; i < n; ++i) d[i] = saturate(uint32_t(saturate(uint32_t(s[i]) * f)) + o);
}

}  // namespace qor::bench::peer
