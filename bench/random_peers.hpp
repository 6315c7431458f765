// Peers of the random generators and the quadratic fit, compiled at -O3 -march=native.
#pragma once
#include <cstdint>

namespace qor::bench::random_peers {

// The library's own sequence, one element at a time: the core step per number and the polar
// method with the C library's logarithm (a plain scalar loop of the same generator).
void scalar_uniform_32f(float* dst, int64_t n, uint32_t seed, float low, float high);
void scalar_gauss_32f(float* dst, int64_t n, uint32_t seed, double mean, double sd);
void scalar_gauss_64f(double* dst, int64_t n, uint32_t seed, double mean, double sd);

// The usual ways: a polar method over a 32-bit Mersenne twister, and the standard library's
// normal and uniform distributions over it.
void polar_mt_32f(float* dst, int64_t n, uint32_t seed);
void polar_mt_64f(double* dst, int64_t n, uint32_t seed);
void std_normal_32f(float* dst, int64_t n, uint32_t seed);
void std_normal_64f(double* dst, int64_t n, uint32_t seed);
void std_uniform_32f(float* dst, int64_t n, uint32_t seed);

// One plain pass that reads n samples (all their bits folded together).
uint32_t read_pass(const float* src, int64_t n);

}  // namespace qor::bench::random_peers
