// The constant-arithmetic kernels and the scaling operations beside a plain -O3 -march=native loop
// of the same arithmetic and beside memcpy/memset of the same bytes.
//   qor_bench_const_arith [filter...] [--levels]
// A filter keeps the cases whose name contains it; --levels adds a table of every level's variants.
#include <cstdint>
#include <cstdio>
#include <string>

#include "const_arith_peers.hpp"
#include "harness.hpp"
#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"
#include "qor_lib.h"

#ifdef QOR_BENCH_VOLK
#include <volk/volk.h>
#endif

using namespace qor::bench;
using namespace qor::krn;

namespace {

// Moderate values (no subnormals, no overflow on the first passes); xorshift, as filling 16M
// elements with a heavier generator would dominate a filtered run.
template <class T>
void fill_random(const buffer<T>& b, uint32_t seed) {
    uint32_t x = seed * 2654435761u + 1;
    for (int64_t i = 0; i < b.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        if constexpr (sizeof(T) == 2)
            b.data()[i] = T(x & 0x3FFF);
        else
            b.data()[i] = T(x % 20000) / T(64) - T(150);
    }
}

// A registry array of n elements of one format, with its buffer.
struct context {
    int argc;
    char** argv;
    bool wanted(const std::string& name) const { return selected(name, argc, argv); }
};

// VOLK's versions of the single-precision kernels, where it has them (it has no 64f or 16u ones).
template <class T>
std::vector<contender> volk_peers([[maybe_unused]] bool add, [[maybe_unused]] const T* s, [[maybe_unused]] T v,
                                  [[maybe_unused]] T* d, [[maybe_unused]] int64_t n) {
#ifdef QOR_BENCH_VOLK
    if constexpr (sizeof(T) == 4) {
        const unsigned points = unsigned(n);
        if (add) return {{"volk", [=] { volk_32f_s32f_add_32f(d, s, v, points); }}};
        return {{"volk", [=] { volk_32f_s32f_multiply_32f(d, s, v, points); }}};
    }
#endif
    return {};
}

std::vector<contender> operator+(std::vector<contender> a, const std::vector<contender>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The four kernels of one float type at one size.
template <class T, class Mul, class Add, class MulIp, class AddIp, class PMul, class PAdd, class PMulIp, class PAddIp>
void float_rows(table& t, const context& c, const char* type, int64_t n, Mul mul, Add add, MulIp mul_ip,
                AddIp add_ip, PMul pmul, PAdd padd, PMulIp pmul_ip, PAddIp padd_ip) {
    buffer<T> src(n), dst(n);
    fill_random(src, 1);
    fill_random(dst, 2);
    const int len = int(n);
    const double io = 2.0 * double(src.bytes());
    const contender copy{"memcpy", [&] { copy_bytes(dst.data(), src.data(), size_t(src.bytes())); }};
    const contender set{"memset", [&] { set_bytes(dst.data(), 0, size_t(dst.bytes())); }};
    const T v = T(1.5), a = T(0.25);
    const std::string k = std::string("krn_");
    if (c.wanted(k + "mul_const_" + type))
        t.add(k + "mul_const_" + type, n, io, {"ours", [&] { mul(src.data(), v, dst.data(), len); }},
              std::vector<contender>{{"loop", [&] { pmul(src.data(), v, dst.data(), n); }}, copy} +
                  volk_peers<T>(false, src.data(), v, dst.data(), n));
    if (c.wanted(k + "add_const_" + type))
        t.add(k + "add_const_" + type, n, io, {"ours", [&] { add(src.data(), a, dst.data(), len); }},
              std::vector<contender>{{"loop", [&] { padd(src.data(), a, dst.data(), n); }}, copy} +
                  volk_peers<T>(true, src.data(), a, dst.data(), n));
    // In place, repeated: x * 1.5 grows to infinity, which costs x86 nothing extra.
    if (c.wanted(k + "mul_const_" + type + "_ip"))
        t.add(k + "mul_const_" + type + "_ip", n, io, {"ours", [&] { mul_ip(v, dst.data(), len); }},
              std::vector<contender>{{"loop", [&] { pmul_ip(v, dst.data(), n); }}, set} +
                  volk_peers<T>(false, dst.data(), v, dst.data(), n));
    if (c.wanted(k + "add_const_" + type + "_ip"))
        t.add(k + "add_const_" + type + "_ip", n, io, {"ours", [&] { add_ip(a, dst.data(), len); }},
              std::vector<contender>{{"loop", [&] { padd_ip(a, dst.data(), n); }}, set} +
                  volk_peers<T>(true, dst.data(), a, dst.data(), n));
    // The shortcuts: times 0 is a fill, times 1 a copy.
    if (c.wanted(k + "mul_const_" + type + " x0"))
        t.add(k + "mul_const_" + type + " x0", n, double(src.bytes()),
              {"ours", [&] { mul(src.data(), T(0), dst.data(), len); }}, {set});
    if (c.wanted(k + "mul_const_" + type + " x1"))
        t.add(k + "mul_const_" + type + " x1", n, io, {"ours", [&] { mul(src.data(), T(1), dst.data(), len); }},
              {copy});
}

void rows_16u(table& t, const context& c, int64_t n) {
    buffer<uint16_t> src(n), dst(n);
    fill_random(src, 3);
    fill_random(dst, 4);
    const int len = int(n);
    const double io = 2.0 * double(src.bytes());
    const contender copy{"memcpy", [&] { copy_bytes(dst.data(), src.data(), size_t(src.bytes())); }};
    const contender set{"memset", [&] { set_bytes(dst.data(), 0, size_t(dst.bytes())); }};
    if (c.wanted("krn_mul_const_scaled_16u"))
        t.add("krn_mul_const_scaled_16u", n, io, {"ours", [&] { krn_mul_const_scaled_16u(src.data(), 3, dst.data(), len, 0); }},
              {{"loop", [&] { peer::mul_16u(src.data(), 3, dst.data(), n); }}, copy});
    if (c.wanted("krn_add_const_scaled_16u"))
        t.add("krn_add_const_scaled_16u", n, io, {"ours", [&] { krn_add_const_scaled_16u(src.data(), 7, dst.data(), len, 0); }},
              {{"loop", [&] { peer::add_16u(src.data(), 7, dst.data(), n); }}, copy});
    if (c.wanted("krn_mul_const_scaled_16u_ip"))
        t.add("krn_mul_const_scaled_16u_ip", n, io, {"ours", [&] { krn_mul_const_scaled_16u_ip(3, dst.data(), len, 0); }},
              {{"loop", [&] { peer::mul_16u_ip(3, dst.data(), n); }}, set});
    if (c.wanted("krn_add_const_scaled_16u_ip"))
        t.add("krn_add_const_scaled_16u_ip", n, io, {"ours", [&] { krn_add_const_scaled_16u_ip(7, dst.data(), len, 0); }},
              {{"loop", [&] { peer::add_16u_ip(7, dst.data(), n); }}, set});
    if (c.wanted("krn_mul_const_scaled_16u sf=1"))
        t.add("krn_mul_const_scaled_16u sf=1", n, io,
              {"ours", [&] { krn_mul_const_scaled_16u(src.data(), 3, dst.data(), len, 1); }}, {copy});
}

// The exported operations: qor_scaleC and qor_scaleCI on registry arrays.
template <class T>
void scale_rows(table& t, const context& c, int64_t n, qor_data_format format, const char* type, float f, float o) {
    registry_array src(n, format), dst(n, format);
    T* s = src.buf<T>();
    T* d = dst.buf<T>();
    for (int64_t i = 0; i < n; ++i) s[i] = T(i % 1000);
    const double io = 2.0 * double(n) * sizeof(T);
    const auto loop = [=]() {
        if constexpr (sizeof(T) == 4) peer::scale_32f(s, f, o, d, n);
        else if constexpr (sizeof(T) == 8) peer::scale_64f(s, f, o, d, n);
        else peer::scale_16u(s, uint16_t(f), uint16_t(o), d, n);
    };
    const auto loop_ip = [=]() {
        if constexpr (sizeof(T) == 4) peer::scale_32f(d, f, o, d, n);
        else if constexpr (sizeof(T) == 8) peer::scale_64f(d, f, o, d, n);
        else peer::scale_16u(d, uint16_t(f), uint16_t(o), d, n);
    };
    const contender copy{"memcpy", [&] { copy_bytes(d, s, size_t(n) * sizeof(T)); }};
    const std::string name = std::string("qor_scaleC ") + type;
    if (c.wanted(name))
        t.add(name, n, io, {"ours", [&] { qor_scaleC(src.h, dst.h, f, o); }}, {{"loop", loop}, copy});
    if (c.wanted(std::string("qor_scaleCI ") + type))
        t.add(std::string("qor_scaleCI ") + type, n, io, {"ours", [&] { qor_scaleCI(dst.h, f, o); }},
              {{"loop", loop_ip}, copy});
}

// The fixed cost of one call: dispatch, and the export's handle and operand checks.
void call_overhead(const context& c) {
    table t("one element: the cost of dispatch and of an exported call (ns per call)");
    t.print_header();
    buffer<float> src(16), dst(16);
    fill_random(src, 5);
    const krn_mul_const_32f_fn direct = krn_mul_const_32f_variant(process_level());
    registry_array a(1, qor_fmt_32f), b(1, qor_fmt_32f);
    const contender loop{"loop", [&] { peer::mul_32f(src.data(), 1.5f, dst.data(), 1); }};
    if (c.wanted("1 element"))
    {
        t.add("krn_mul_const_32f (dispatch)", 1, 8, {"ours", [&] { krn_mul_const_32f(src.data(), 1.5f, dst.data(), 1); }},
              {loop});
        t.add("krn_mul_const_32f (level variant)", 1, 8, {"ours", [&] { direct(src.data(), 1.5f, dst.data(), 1); }},
              {loop});
        t.add("qor_scaleC 32f (export)", 1, 8, {"ours", [&] { qor_scaleC(a.h, b.h, 1.5f, 0.0f); }}, {loop});
        t.add("qor_scaleCI 32f x1.5+0.25 (export)", 1, 8, {"ours", [&] { qor_scaleCI(b.h, 1.5f, 0.25f); }}, {loop});
    }
}

// One kernel at every level this processor supports, beside the same loop.
void level_rows(const context& c) {
    table t("every level's variant (65,536 and 16,777,216 elements)");
    t.print_header();
    for (int64_t n : {int64_t{65536}, int64_t{16777216}}) {
        buffer<float> src(n), dst(n);
        buffer<uint16_t> s16(n), d16(n);
        fill_random(src, 6);
        fill_random(s16, 7);
        for (int level = 0; level <= cpu::detect_level(); ++level) {
            const auto mul = krn_mul_const_32f_variant(level);
            const auto mul16 = krn_mul_const_scaled_16u_variant(level);
            const std::string l = " l" + std::to_string(level);
            if (c.wanted("krn_mul_const_32f" + l))
                t.add("krn_mul_const_32f" + l, n, 8.0 * double(n), {"ours", [&] { mul(src.data(), 1.5f, dst.data(), int(n)); }},
                      {{"loop", [&] { peer::mul_32f(src.data(), 1.5f, dst.data(), n); }}});
            if (c.wanted("krn_mul_const_scaled_16u" + l))
                t.add("krn_mul_const_scaled_16u" + l, n, 4.0 * double(n),
                      {"ours", [&] { mul16(s16.data(), 3, d16.data(), int(n), 0); }},
                      {{"loop", [&] { peer::mul_16u(s16.data(), 3, d16.data(), n); }}});
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const context c{argc, argv};
    bool levels = false;
    for (int i = 1; i < argc; ++i) levels |= std::string(argv[i]) == "--levels";
    float warm = 0;
    krn_mul_const_32f_ip(1.5f, &warm, 1);  // choose the level before anything is timed
    std::printf("processor level %d, largest cache %lld bytes; ratio = peer time / our time (above 1: ours faster)\n",
                process_level(), static_cast<long long>(cpu::largest_cache_size()));
    for (int64_t n : standard_sizes) {
        table t("constant arithmetic and scaling, " + std::to_string(n) + " elements");
        t.print_header();
        float_rows<float>(t, c, "32f", n, krn_mul_const_32f, krn_add_const_32f, krn_mul_const_32f_ip,
                          krn_add_const_32f_ip, peer::mul_32f, peer::add_32f, peer::mul_32f_ip, peer::add_32f_ip);
        float_rows<double>(t, c, "64f", n, krn_mul_const_64f, krn_add_const_64f, krn_mul_const_64f_ip,
                           krn_add_const_64f_ip, peer::mul_64f, peer::add_64f, peer::mul_64f_ip, peer::add_64f_ip);
        rows_16u(t, c, n);
        scale_rows<float>(t, c, n, qor_fmt_32f, "32f x1.5+0.25", 1.5f, 0.25f);
        scale_rows<double>(t, c, n, qor_fmt_64f, "64f x1.5+0.25", 1.5f, 0.25f);
        scale_rows<uint16_t>(t, c, n, qor_fmt_16u, "16u x3+7", 3.0f, 7.0f);
        scale_rows<float>(t, c, n, qor_fmt_32f, "32f x1.5", 1.5f, 0.0f);
    }
    call_overhead(c);
    if (levels) level_rows(c);
    return 0;
}
