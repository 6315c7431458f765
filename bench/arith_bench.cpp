// Division, square, sub-array copy, extrema and conversion: each kernel and each exported
// operation beside plain -O3 -march=native loops of the same work (preferring 256-bit and 512-bit
// vectors) and memcpy of the same bytes.
//   qor_bench_arith [filter...]
// A filter keeps the cases whose name contains it.
#include <cstdint>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>

#include "arith_peers.hpp"
#include "harness.hpp"
#include "kernels/kernels.hpp"
#include "qor_lib.h"

using namespace qor::bench;
using namespace qor::krn;

namespace {

template <class T>
void fill_random(const buffer<T>& b, uint32_t seed, double lo, double hi) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    for (int64_t i = 0; i < b.size(); ++i) b.data()[i] = T(u(rng));
}

// Divisors 2^u, u uniform in [-1, 1], of both signs: repeated in-place division wanders slowly.
template <class T>
void fill_divisors(const buffer<T>& b, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int64_t i = 0; i < b.size(); ++i) b.data()[i] = T((rng() & 1 ? 1 : -1) * std::exp2(u(rng)));
}

// A registry array that borrows a buffer.
struct lent_array {
    qor_handle h = -1;
    template <class T>
    lent_array(const buffer<T>& b, qor_data_format f) {
        qor_create_array(&h);
        qor_info info{b.size(), f, 0, b.data()};
        qor_init_array_ex(h, &info);
    }
    ~lent_array() { qor_destroy_array(h); }
};

struct bench {
    table& t;
    int argc;
    char** argv;
    int64_t n;
    void row(const std::string& name, double bytes, std::function<void()> ours, std::vector<contender> peers) {
        if (selected(name, argc, argv)) t.add(name, n, bytes, {"ours", std::move(ours)}, peers);
    }
};

contender memcpy_of(const void* src, void* dst, int64_t bytes) {
    return {"memcpy", [=] { copy_bytes(dst, src, size_t(bytes)); }};
}

template <class T>
void division(bench& b, const char* type, qor_data_format f, int (*div)(const T*, const T*, T*, int),
              int (*div_ip)(const T*, T*, int), void (*p256)(const T*, const T*, T*, int64_t),
              void (*p512)(const T*, const T*, T*, int64_t), void (*p256_ip)(const T*, T*, int64_t),
              void (*p512_ip)(const T*, T*, int64_t)) {
    const int64_t n = b.n;
    const int len = int(n);
    buffer<T> d(n), x(n), q(n), unit(n);
    fill_divisors(d, 1);
    fill_divisors(x, 2);
    // In place the dividends would drift with every call: divisors of magnitude 1 keep them still.
    std::mt19937 rng(3);
    for (int64_t i = 0; i < n; ++i) unit.data()[i] = rng() & 1 ? T(1) : T(-1);
    lent_array ad(d, f), ax(x, f), aq(q, f), au(unit, f);
    const double io = 3.0 * double(d.bytes());
    const contender cp = memcpy_of(x.data(), q.data(), x.bytes());
    const std::string t = type;
    b.row("krn_div_" + t, io, [&] { div(d.data(), x.data(), q.data(), len); },
          {{"loop256", [&] { p256(d.data(), x.data(), q.data(), n); }},
           {"loop512", [&] { p512(d.data(), x.data(), q.data(), n); }}, cp});
    b.row("qor_div " + t, io, [&] { qor_div(ad.h, ax.h, aq.h); },
          {{"loop256", [&] { p256(d.data(), x.data(), q.data(), n); }},
           {"loop512", [&] { p512(d.data(), x.data(), q.data(), n); }}, cp});
    b.row("krn_div_" + t + "_ip", io, [&] { div_ip(unit.data(), x.data(), len); },
          {{"loop256", [&] { p256_ip(unit.data(), x.data(), n); }},
           {"loop512", [&] { p512_ip(unit.data(), x.data(), n); }}, cp});
    b.row("qor_divI " + t, io, [&] { qor_divI(au.h, ax.h); },
          {{"loop256", [&] { p256_ip(unit.data(), x.data(), n); }},
           {"loop512", [&] { p512_ip(unit.data(), x.data(), n); }}, cp});
}

template <class T, class Kernel>
void squares(bench& b, const std::string& name, qor_data_format f, Kernel kernel,
             void (*p256)(const T*, T*, int64_t), void (*p512)(const T*, T*, int64_t), double lo, double hi) {
    const int64_t n = b.n;
    buffer<T> s(n), d(n);
    fill_random(s, 3, lo, hi);
    lent_array as(s, f), ad(d, f);
    const double io = 2.0 * double(s.bytes());
    const std::vector<contender> peers = {{"loop256", [&] { p256(s.data(), d.data(), n); }},
                                          {"loop512", [&] { p512(s.data(), d.data(), n); }},
                                          memcpy_of(s.data(), d.data(), s.bytes())};
    b.row("krn_sqr_" + name, io, [&] { kernel(s.data(), d.data(), int(n)); }, peers);
    b.row("qor_square " + name, io, [&] { qor_square(as.h, ad.h); }, peers);
}

template <class T>
void copies(bench& b, const std::string& name, qor_data_format f, int (*copy)(const T*, T*, int)) {
    const int64_t n = b.n;
    buffer<T> s(n), d(n);
    fill_random(s, 4, -100, 100);
    lent_array as(s, f), ad(d, f);
    const double io = 2.0 * double(s.bytes());
    const std::vector<contender> peers = {memcpy_of(s.data(), d.data(), s.bytes())};
    b.row("krn_copy_" + name, io, [&] { copy(s.data(), d.data(), int(n)); }, peers);
    b.row("qor_sub_array " + name, io, [&] { qor_sub_array(as.h, ad.h, 0, n); }, peers);
}

template <class T>
void extrema(bench& b, const std::string& name, qor_data_format f, int (*mm)(const T*, int, T*, T*),
             void (*p256)(const T*, int64_t, T*, T*), void (*p512)(const T*, int64_t, T*, T*), double lo, double hi) {
    const int64_t n = b.n;
    buffer<T> s(n), d(n);
    fill_random(s, 5, lo, hi);
    lent_array as(s, f);
    T mn, mx;
    float fmn, fmx;
    const double io = double(s.bytes());
    const std::vector<contender> peers = {{"loop256", [&] { p256(s.data(), n, &mn, &mx); }},
                                          {"loop512", [&] { p512(s.data(), n, &mn, &mx); }},
                                          memcpy_of(s.data(), d.data(), s.bytes())};
    b.row("krn_min_max_" + name, io, [&] { mm(s.data(), int(n), &mn, &mx); }, peers);
    b.row("qor_min_max " + name, io, [&] { fmn = 1e30f, fmx = -1e30f; qor_min_max(as.h, &fmn, &fmx); }, peers);
}

template <class S, class D, class Kernel>
void conversion(bench& b, const std::string& name, qor_data_format sf, qor_data_format df, Kernel kernel,
                void (*p256)(const S*, D*, int64_t), void (*p512)(const S*, D*, int64_t), double lo, double hi) {
    const int64_t n = b.n;
    buffer<S> s(n);
    buffer<D> d(n);
    fill_random(s, 6, lo, hi);
    lent_array as(s, sf), ad(d, df);
    const double io = double(s.bytes() + d.bytes());
    const std::vector<contender> peers = {{"loop256", [&] { p256(s.data(), d.data(), n); }},
                                          {"loop512", [&] { p512(s.data(), d.data(), n); }},
                                          memcpy_of(s.data(), d.data(), std::min(s.bytes(), d.bytes()))};
    b.row("krn_convert_" + name, io, [&] { kernel(s.data(), d.data(), int(n)); }, peers);
    b.row("qor_convert " + name, io, [&] { qor_convert(as.h, ad.h); }, peers);
}

}  // namespace

int main(int argc, char** argv) {
    std::printf("processor level %d (ratio = peer time / our time; above 1 we are faster)\n",
                (krn_set_8u(0, nullptr, 0), process_level()));
    table t("division, square, copy, extrema, conversion");
    t.print_header();
    for (int64_t n : standard_sizes) {
        bench b{t, argc, argv, n};
        division<float>(b, "32f", qor_fmt_32f, krn_div_32f, krn_div_32f_ip, w256::div_32f, w512::div_32f,
                        w256::div_32f_ip, w512::div_32f_ip);
        division<double>(b, "64f", qor_fmt_64f, krn_div_64f, krn_div_64f_ip, w256::div_64f, w512::div_64f,
                         w256::div_64f_ip, w512::div_64f_ip);
        squares<float>(b, "32f", qor_fmt_32f, krn_sqr_32f, w256::sqr_32f, w512::sqr_32f, -1e3, 1e3);
        squares<double>(b, "64f", qor_fmt_64f, krn_sqr_64f, w256::sqr_64f, w512::sqr_64f, -1e3, 1e3);
        squares<uint16_t>(b, "16u", qor_fmt_16u,
                          [](const uint16_t* s, uint16_t* d, int len) { return krn_sqr_scaled_16u(s, d, len, 0); },
                          w256::sqr_16u, w512::sqr_16u, 0, 400);
        copies<int16_t>(b, "16s", qor_fmt_16s, krn_copy_16s);
        copies<float>(b, "32f", qor_fmt_32f, krn_copy_32f);
        copies<double>(b, "64f", qor_fmt_64f, krn_copy_64f);
        extrema<float>(b, "32f", qor_fmt_32f, krn_min_max_32f, w256::min_max_32f, w512::min_max_32f, -1e6, 1e6);
        extrema<uint16_t>(b, "16u", qor_fmt_16u, krn_min_max_16u, w256::min_max_16u, w512::min_max_16u, 0, 65535);
        conversion<uint8_t, uint16_t>(b, "8u16u", qor_fmt_8u, qor_fmt_16u,
            [](const uint8_t* s, uint16_t* d, int len) { return krn_convert_rows_8u16u(s, len, d, 2 * len, {len, 1}); },
            w256::cvt_8u16u, w512::cvt_8u16u, 0, 255);
        conversion<uint16_t, uint8_t>(b, "16u8u", qor_fmt_16u, qor_fmt_8u,
            [](const uint16_t* s, uint8_t* d, int len) { return krn_convert_rows_16u8u(s, 2 * len, d, len, {len, 1}); },
            w256::cvt_16u8u, w512::cvt_16u8u, 0, 600);
        conversion<int16_t, uint8_t>(b, "16s8u", qor_fmt_16s, qor_fmt_8u,
            [](const int16_t* s, uint8_t* d, int len) { return krn_convert_rows_16s8u(s, 2 * len, d, len, {len, 1}); },
            w256::cvt_16s8u, w512::cvt_16s8u, -300, 600);
        conversion<uint16_t, float>(b, "16u32f", qor_fmt_16u, qor_fmt_32f, krn_convert_16u32f, w256::cvt_16u32f,
                                    w512::cvt_16u32f, 0, 65535);
        conversion<int16_t, float>(b, "16s32f", qor_fmt_16s, qor_fmt_32f, krn_convert_16s32f, w256::cvt_16s32f,
                                   w512::cvt_16s32f, -32768, 32767);
        conversion<float, uint16_t>(b, "32f16u", qor_fmt_32f, qor_fmt_16u,
            [](const float* s, uint16_t* d, int len) { return krn_convert_32f16u(s, d, len, krn_round_truncate, 0); },
            w256::cvt_32f16u, w512::cvt_32f16u, -100, 70000);
    }
    return 0;
}
