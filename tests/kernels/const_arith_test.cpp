#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"
#include "support/const_arith_model.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using namespace qor::test;

namespace {

// A 64-byte aligned window of len elements at an element offset, with guard elements on both
// sides that must survive every call.
template <class T>
struct guarded {
    static constexpr int guard = 80;
    std::vector<T> store;
    T* data;
    int len;
    T canary;
    guarded(int n, int offset, T fill) : store(size_t(n) + 2 * guard + 64), len(n), canary(fill) {
        size_t i = 0;
        while (reinterpret_cast<uintptr_t>(store.data() + i) % 64) ++i;
        data = store.data() + i + guard + offset;
        std::fill(store.begin(), store.end(), fill);
    }
    bool guards_intact() const {
        for (const T* p = store.data(); p != store.data() + store.size(); ++p)
            if ((p < data || p >= data + len) && std::memcmp(p, &canary, sizeof(T)) != 0) return false;
        return true;
    }
};

template <class T>
bool same_bits(T a, T b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Inputs that put every special value into head, body and tail positions.
template <class T>
std::vector<T> float_inputs(int n, uint32_t seed) {
    const std::vector<T> special = special_values<T>();
    std::mt19937 rng(seed);
    std::uniform_real_distribution<T> dist(-1000, 1000);
    std::vector<T> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[size_t(i)] = (rng() % 3 == 0) ? special[rng() % special.size()] : dist(rng);
    return v;
}

// Lengths around every level's vector and unrolled-block sizes; offsets move the head.
const int lengths[] = {1, 2, 3, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 200, 1031};
const int offsets[] = {0, 3};

// Runs the four forms of one float operation (out of place, aliased, in place) against the model.
template <class T, class Out, class In, class Model>
void check_float_forms(Out out_fn, In in_fn, Model model, T val) {
    for (int len : lengths) {
        for (int off : offsets) {
            SCOPED_TRACE(::testing::Message() << "len " << len << " offset " << off << " val " << val);
            const std::vector<T> in = float_inputs<T>(len, uint32_t(len * 7 + off));
            guarded<T> src(len, (off * 3) % 7, T(-7)), dst(len, off, T(-9)), buf(len, off, T(-9));
            std::copy(in.begin(), in.end(), src.data);
            std::copy(in.begin(), in.end(), buf.data);
            ASSERT_EQ(out_fn(src.data, val, dst.data, len), krn_ok);
            ASSERT_EQ(in_fn(val, buf.data, len), krn_ok);
            for (int i = 0; i < len; ++i) {
                const T want = model(in[size_t(i)], val);
                ASSERT_TRUE(same_bits(dst.data[i], want)) << i << ": " << in[size_t(i)] << " -> " << dst.data[i];
                ASSERT_TRUE(same_bits(buf.data[i], want)) << i << ": " << in[size_t(i)] << " -> " << buf.data[i];
                ASSERT_TRUE(same_bits(src.data[i], in[size_t(i)]));
            }
            ASSERT_TRUE(dst.guards_intact() && buf.guards_intact() && src.guards_intact());
            // The destination may be the source itself.
            ASSERT_EQ(out_fn(src.data, val, src.data, len), krn_ok);
            for (int i = 0; i < len; ++i) ASSERT_TRUE(same_bits(src.data[i], model(in[size_t(i)], val))) << i;
        }
    }
}

// Every constant of the float tests: the shortcut values 1, +-0 and NaN payloads among them.
template <class T>
std::vector<T> float_constants() {
    std::vector<T> c = special_values<T>();
    c.push_back(T(-0.75));
    c.push_back(T(1) + std::numeric_limits<T>::epsilon());
    return c;
}

}  // namespace

TEST(ConstArithFloat, MultiplyAndAddMatchTheModelAtEveryLevel) {
    for_each_supported_level([](int level) {
        for (float v : float_constants<float>()) {
            check_float_forms<float>(krn_mul_const_32f_variant(level), krn_mul_const_32f_ip_variant(level),
                                     model_mul<float>, v);
            check_float_forms<float>(krn_add_const_32f_variant(level), krn_add_const_32f_ip_variant(level),
                                     model_add<float>, v);
        }
        for (double v : float_constants<double>()) {
            check_float_forms<double>(krn_mul_const_64f_variant(level), krn_mul_const_64f_ip_variant(level),
                                      model_mul<double>, v);
            check_float_forms<double>(krn_add_const_64f_variant(level), krn_add_const_64f_ip_variant(level),
                                      model_add<double>, v);
        }
    });
}

TEST(ConstArithFloat, ShortcutsCopyAndFillBitForBit) {
    // Independent of the model: times 1 and plus -0 keep -0 and a signalling NaN's payload (an
    // arithmetic operation would quiet it); times -0 gives +0 even for infinities and NaNs.
    std::vector<float> in(37, 2.5f), out(37);
    in[0] = -0.0f, in[1] = from_bits<float>(0x7F800123u), in[36] = -std::numeric_limits<float>::infinity();
    for_each_supported_level([&](int level) {
        ASSERT_EQ(krn_mul_const_32f_variant(level)(in.data(), 1.0f, out.data(), 37), krn_ok);
        EXPECT_EQ(std::memcmp(out.data(), in.data(), 37 * sizeof(float)), 0);
        ASSERT_EQ(krn_add_const_32f_ip_variant(level)(-0.0f, out.data(), 37), krn_ok);
        EXPECT_EQ(std::memcmp(out.data(), in.data(), 37 * sizeof(float)), 0);
        ASSERT_EQ(krn_mul_const_32f_variant(level)(in.data(), -0.0f, out.data(), 37), krn_ok);
        for (float v : out) EXPECT_EQ(bits_of(v), 0u);
    });
}

namespace {

// Calls every form of every kernel with bad operands; each must answer with its status and
// write nothing. Pointer checks come first, even when the length is also bad and even when the
// constant selects a shortcut.
template <class T, class Out, class In>
void check_arguments(Out out_fn, In in_fn, T val) {
    T src[4] = {1, 2, 3, 4};
    T dst[4] = {5, 6, 7, 8};
    for (int len : {0, -1, -2147483647 - 1, 4}) {
        EXPECT_EQ(out_fn(nullptr, val, dst, len), krn_err_null);
        EXPECT_EQ(out_fn(src, val, nullptr, len), krn_err_null);
        EXPECT_EQ(in_fn(val, nullptr, len), krn_err_null);
        if (len < 1) {
            EXPECT_EQ(out_fn(src, val, dst, len), krn_err_size);
            EXPECT_EQ(in_fn(val, dst, len), krn_err_size);
        }
    }
    EXPECT_EQ(dst[0], T(5));
    EXPECT_EQ(dst[3], T(8));
}

// The 16-bit kernels as (src, val, dst, len) and (val, buf, len) for one scale factor.
struct scaled_16u {
    krn_mul_const_scaled_16u_fn mul;
    krn_add_const_scaled_16u_fn add;
    krn_mul_const_scaled_16u_ip_fn mul_ip;
    krn_add_const_scaled_16u_ip_fn add_ip;
    explicit scaled_16u(int level)
        : mul(krn_mul_const_scaled_16u_variant(level)),
          add(krn_add_const_scaled_16u_variant(level)),
          mul_ip(krn_mul_const_scaled_16u_ip_variant(level)),
          add_ip(krn_add_const_scaled_16u_ip_variant(level)) {}
};

}  // namespace

TEST(ConstArithArguments, PointerBeforeLengthInEveryPath) {
    for_each_supported_level([](int level) {
        for (float v : {1.0f, 0.0f, -0.0f, 2.5f, std::numeric_limits<float>::quiet_NaN()}) {
            check_arguments<float>(krn_mul_const_32f_variant(level), krn_mul_const_32f_ip_variant(level), v);
            check_arguments<float>(krn_add_const_32f_variant(level), krn_add_const_32f_ip_variant(level), v);
            check_arguments<double>(krn_mul_const_64f_variant(level), krn_mul_const_64f_ip_variant(level), v);
            check_arguments<double>(krn_add_const_64f_variant(level), krn_add_const_64f_ip_variant(level), v);
        }
        const scaled_16u k(level);
        // Shortcut selectors: val 0 and 1, sf 0, above 17, below -15, 33 and beyond.
        for (int sf : {0, 1, 18, 33, 100, -16, -100})
            for (uint16_t val : {0, 1, 7}) {
                SCOPED_TRACE(::testing::Message() << "sf " << sf << " val " << val);
                const auto mul = [&](const uint16_t* s, uint16_t v, uint16_t* d, int n) { return k.mul(s, v, d, n, sf); };
                const auto add = [&](const uint16_t* s, uint16_t v, uint16_t* d, int n) { return k.add(s, v, d, n, sf); };
                const auto mul_ip = [&](uint16_t v, uint16_t* b, int n) { return k.mul_ip(v, b, n, sf); };
                const auto add_ip = [&](uint16_t v, uint16_t* b, int n) { return k.add_ip(v, b, n, sf); };
                check_arguments<uint16_t>(mul, mul_ip, val);
                check_arguments<uint16_t>(add, add_ip, val);
            }
    });
}

namespace {

// Runs all four 16-bit kernels on in[] for one (val, sf) and compares with the model.
void check_16u(const scaled_16u& k, const std::vector<uint16_t>& in, uint16_t val, int sf, int offset) {
    SCOPED_TRACE(::testing::Message() << "val " << val << " sf " << sf << " offset " << offset);
    const int n = int(in.size());
    guarded<uint16_t> src(n, (offset * 5) % 9, 0x5A5A), dst(n, offset, 0xA5A5), buf(n, offset, 0xA5A5);
    std::copy(in.begin(), in.end(), src.data);
    for (int add = 0; add < 2; ++add) {
        std::copy(in.begin(), in.end(), buf.data);
        ASSERT_EQ((add ? k.add : k.mul)(src.data, val, dst.data, n, sf), krn_ok);
        ASSERT_EQ((add ? k.add_ip : k.mul_ip)(val, buf.data, n, sf), krn_ok);
        for (int i = 0; i < n; ++i) {
            const uint64_t x = in[size_t(i)];
            const uint16_t want = model_scale_16u(add ? x + val : x * val, sf);
            ASSERT_EQ(dst.data[i], want) << (add ? "add " : "mul ") << x << " at " << i;
            ASSERT_EQ(buf.data[i], want) << (add ? "add " : "mul ") << x << " at " << i;
        }
        ASSERT_TRUE(dst.guards_intact() && buf.guards_intact() && src.guards_intact());
    }
}

std::vector<uint16_t> inputs_16u(int n, uint32_t seed) {
    static const uint16_t edge[] = {0, 1, 2, 3, 5, 7, 255, 256, 257, 32767, 32768, 40000, 65534, 65535};
    std::mt19937 rng(seed);
    std::vector<uint16_t> v(static_cast<size_t>(n));
    for (auto& x : v) x = (rng() % 2) ? edge[rng() % std::size(edge)] : uint16_t(rng());
    return v;
}

const uint16_t constants_16u[] = {0, 1, 2, 3, 7, 255, 256, 300, 4464, 32768, 65534, 65535};

}  // namespace

TEST(ConstArith16u, ModelWorkedValues) {
    // Saturation, ties to even (2.5, 3.5, 1.5, one half at sf 32), doubling up to the limit.
    const struct { uint64_t r; int sf; uint16_t want; } rows[] = {
        {70000, 0, 65535}, {90000, 0, 65535}, {21, 0, 21}, {5, 1, 2}, {7, 1, 4}, {6, 2, 2},
        {uint64_t{65535} * 65535, 32, 1}, {uint64_t{1} << 31, 32, 0}, {1, -15, 32768}, {2, -15, 65535}, {0, -40, 0}};
    for (auto [r, sf, want] : rows) EXPECT_EQ(model_scale_16u(r, sf), want) << r << " sf " << sf;
}

TEST(ConstArith16u, EveryScaleFactorAtEveryLevel) {
    for_each_supported_level([](int level) {
        const scaled_16u k(level);
        int round = 0;
        for (int sf = -20; sf <= 40; ++sf)
            for (uint16_t val : constants_16u) {
                ++round;
                check_16u(k, inputs_16u(lengths[round % std::size(lengths)], uint32_t(round)), val, sf, round % 4);
            }
    });
}

TEST(ConstArith16u, ExhaustiveInputsForBoundaryScaleFactors) {
    std::vector<uint16_t> all(65536);
    for (int i = 0; i < 65536; ++i) all[size_t(i)] = uint16_t(i);
    for_each_supported_level([&](int level) {
        const scaled_16u k(level);
        for (int sf : {-17, -16, -15, -1, 0, 1, 2, 15, 16, 17, 18, 31, 32, 33})
            for (uint16_t val : constants_16u) check_16u(k, all, val, sf, 1);
    });
}

TEST(ConstArithLarge, StreamingStoresGiveTheSameBits) {
    // Beyond the largest cache (16 MiB when it is unknown) the out-of-place kernels write with
    // non-temporal stores: source and destination of 16-bit elements together pass it here.
    const int64_t cache = qor::krn::cpu::largest_cache_size();
    const int n = int(std::max<int64_t>(cache, 16 << 20) / 4 + 37);
    std::vector<float> in = float_inputs<float>(n, 11), out(static_cast<size_t>(n));
    std::vector<uint16_t> in16 = inputs_16u(n, 12), out16(static_cast<size_t>(n));
    for_each_supported_level([&](int level) {
        ASSERT_EQ(krn_mul_const_32f_variant(level)(in.data() + 1, 1.25f, out.data() + 1, n - 1), krn_ok);
        for (int i = 1; i < n; ++i) ASSERT_TRUE(same_bits(out[size_t(i)], model_mul(in[size_t(i)], 1.25f))) << i;
        ASSERT_EQ(krn_add_const_scaled_16u_variant(level)(in16.data(), 999, out16.data(), n, 0), krn_ok);
        for (int i = 0; i < n; ++i) ASSERT_EQ(out16[size_t(i)], model_scale_16u(in16[size_t(i)] + 999u, 0)) << i;
    });
}

namespace {

template <class T, class Fused>
void check_fused(Fused fused) {
    const std::vector<T> special = special_values<T>();
    const std::vector<T> constants = {T(1), T(0), -T(0), T(-1.5), T(3.25), T(0.1), special[12], special[15],
                                      special[19], special[21], special[9]};
    for (int len : {1, 17, 129, 1031}) {
        const std::vector<T> in = float_inputs<T>(len, uint32_t(len));
        guarded<T> dst(len, 3, T(-9));
        for (T m : constants)
            for (T a : constants) {
                ASSERT_EQ(fused(in.data(), m, a, dst.data, len), krn_ok);
                for (int i = 0; i < len; ++i)
                    ASSERT_TRUE(same_bits(dst.data[i], model_add(model_mul(in[size_t(i)], m), a)))
                        << "mul " << m << " add " << a << " x " << in[size_t(i)] << " at " << i;
                ASSERT_TRUE(dst.guards_intact());
            }
    }
}

}  // namespace

TEST(ConstArithFused, MultiplyThenAddInOnePassEqualsTheTwoKernels) {
    for_each_supported_level([](int level) {
        check_fused<float>(krn_mul_add_const_32f_variant(level));
        check_fused<double>(krn_mul_add_const_64f_variant(level));
        const auto fused16 = krn_mul_add_const_scaled_16u_variant(level);
        for (int sf : {0, 1, -1, 18})
            for (uint16_t m : {0, 1, 2, 300, 65535})
                for (uint16_t a : {0, 1, 7, 65535})
                    for (int len : {1, 33, 130}) {
                        const std::vector<uint16_t> in = inputs_16u(len, uint32_t(len + m));
                        std::vector<uint16_t> out(in.size());
                        ASSERT_EQ(fused16(in.data(), m, a, out.data(), len, sf), krn_ok);
                        for (int i = 0; i < len; ++i)
                            ASSERT_EQ(out[size_t(i)],
                                      model_scale_16u(model_scale_16u(uint64_t(in[size_t(i)]) * m, sf) + a, sf))
                                << "mul " << m << " add " << a << " sf " << sf << " x " << in[size_t(i)];
                    }
        uint16_t buf[4] = {1, 2, 3, 4};
        float f[4] = {};
        EXPECT_EQ(fused16(nullptr, 2, 3, buf, 0, 0), krn_err_null);
        EXPECT_EQ(fused16(buf, 2, 3, buf, 0, 0), krn_err_size);
        EXPECT_EQ(krn_mul_add_const_32f_variant(level)(f, 2, 3, nullptr, -1), krn_err_null);
        EXPECT_EQ(krn_mul_add_const_64f_variant(level)(nullptr, 2, 3, nullptr, 1), krn_err_null);
        EXPECT_EQ(buf[0], 1);
    });
}
