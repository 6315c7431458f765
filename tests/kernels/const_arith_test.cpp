#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"
#include "support/arith_models.hpp"
#include "support/elementwise.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using namespace qor::test;

namespace {

// Every form refuses null pointers before bad lengths, whatever shortcut the constant selects,
// and writes nothing.
template <class T, class Out, class In>
void check_arguments(Out out_fn, In in_fn, T val) {
    T src[4] = {1, 2, 3, 4}, dst[4] = {5, 6, 7, 8};
    for (int len : {0, -2147483647 - 1, 4}) {
        EXPECT_EQ(out_fn(nullptr, val, dst, len), krn_err_null);
        EXPECT_EQ(out_fn(src, val, nullptr, len), krn_err_null);
        EXPECT_EQ(in_fn(val, nullptr, len), krn_err_null);
        if (len < 1) {
            EXPECT_EQ(out_fn(src, val, dst, len), krn_err_size);
            EXPECT_EQ(in_fn(val, dst, len), krn_err_size);
        }
    }
    EXPECT_TRUE(dst[0] == T(5) && dst[3] == T(8));
}

// One float operation in its three forms (out of place, onto its own source, in place) against
// the model, for every constant: the shortcut values 1, +-0 and NaN payloads among them.
template <class T, class Out, class In, class Model>
void check_float_forms(Out out_fn, In in_fn, Model model) {
    std::vector<T> constants = special_values<T>();
    constants.push_back(T(1) + std::numeric_limits<T>::epsilon());
    const std::vector<T> in = mixed_values<T>(300, 7);
    for (T val : constants) {
        SCOPED_TRACE(::testing::Message() << "constant " << val);
        const auto want = [&](size_t i) { return model(in[i], val); };
        expect_elementwise<T>([&](int f, int n, T* d) { return out_fn(in.data() + f, val, d, n); }, want);
        for (bool onto_source : {true, false})
            expect_elementwise<T>([&](int f, int n, T* d) {
                std::copy(in.begin() + f, in.begin() + f + n, d);
                return onto_source ? out_fn(d, val, d, n) : in_fn(val, d, n);
            }, want);
        check_arguments<T>(out_fn, in_fn, val);
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

// The four 16-bit kernels for one constant and scale factor, over the given lengths.
void check_16u(int level, const std::vector<uint16_t>& in, uint16_t val, int sf, const std::vector<int>& lengths,
               int offsets = 4) {
    SCOPED_TRACE(::testing::Message() << "val " << val << " sf " << sf);
    for (bool add : {false, true}) {
        const auto want = [&](size_t i) {
            return model_scale_16u(add ? uint64_t(in[i]) + val : uint64_t(in[i]) * val, sf);
        };
        const auto out_fn = add ? krn_add_const_scaled_16u_variant(level) : krn_mul_const_scaled_16u_variant(level);
        const auto in_fn =
            add ? krn_add_const_scaled_16u_ip_variant(level) : krn_mul_const_scaled_16u_ip_variant(level);
        expect_elementwise<uint16_t>([&](int f, int n, uint16_t* d) { return out_fn(in.data() + f, val, d, n, sf); },
                                     want, lengths, same_bits<uint16_t>, offsets);
        expect_elementwise<uint16_t>([&](int f, int n, uint16_t* d) {
            std::copy(in.begin() + f, in.begin() + f + n, d);
            return in_fn(val, d, n, sf);
        }, want, lengths, same_bits<uint16_t>, offsets);
        if (offsets == 4)
            check_arguments<uint16_t>(
                [&](const uint16_t* s, uint16_t v, uint16_t* d, int n) { return out_fn(s, v, d, n, sf); },
                [&](uint16_t v, uint16_t* b, int n) { return in_fn(v, b, n, sf); }, val);
    }
}

}  // namespace

TEST(ConstArithFloat, MultiplyAndAddMatchTheModelAtEveryLevel) {
    for_each_supported_level([](int level) {
        check_float_forms<float>(krn_mul_const_32f_variant(level), krn_mul_const_32f_ip_variant(level),
                                 model_mul<float>);
        check_float_forms<float>(krn_add_const_32f_variant(level), krn_add_const_32f_ip_variant(level),
                                 model_add<float>);
        check_float_forms<double>(krn_mul_const_64f_variant(level), krn_mul_const_64f_ip_variant(level),
                                  model_mul<double>);
        check_float_forms<double>(krn_add_const_64f_variant(level), krn_add_const_64f_ip_variant(level),
                                  model_add<double>);
    });
}

// Every scale factor from -20 to 40 and beyond (the shortcut selectors: 0, above 17, below -15,
// 33 and more) with every constant.
TEST(ConstArith16u, EveryScaleFactorAtEveryLevel) {
    const std::vector<uint16_t> in = inputs_16u(300, 1);
    std::vector<int> factors(61);
    std::iota(factors.begin(), factors.end(), -20);
    factors.insert(factors.end(), {100, -100});
    for_each_supported_level([&](int level) {
        int round = 0;
        for (int sf : factors)
            for (uint16_t val : constants_16u) {
                const int len = block_lengths[size_t(++round) % block_lengths.size()];
                check_16u(level, in, val, sf, {len, len + 1});
            }
    });
}

TEST(ConstArith16u, ExhaustiveInputsForBoundaryScaleFactors) {
    std::vector<uint16_t> all(65540);
    for (size_t i = 0; i < all.size(); ++i) all[i] = uint16_t(i - 3);
    for_each_supported_level([&](int level) {
        for (int sf : {-17, -16, -15, -1, 0, 1, 2, 15, 16, 17, 18, 31, 32, 33})
            for (uint16_t val : constants_16u) check_16u(level, all, val, sf, {65536}, 2);
    });
}

// Beyond the largest cache (16 MiB when it is unknown) the out-of-place kernels write with
// non-temporal stores: source and destination of 16-bit elements together pass it here.
TEST(ConstArithLarge, StreamingStoresGiveTheSameBits) {
    const int n = int(std::max<int64_t>(qor::krn::cpu::largest_cache_size(), 16 << 20) / 4 + 37);
    const std::vector<float> in = mixed_values<float>(size_t(n), 11);
    const std::vector<uint16_t> in16 = inputs_16u(n, 12);
    for_each_supported_level([&](int level) {
        expect_elementwise<float>(
            [&](int f, int len, float* d) { return krn_mul_const_32f_variant(level)(in.data() + f, 1.25f, d, len); },
            [&](size_t i) { return model_mul(in[i], 1.25f); }, {n - 4});
        expect_elementwise<uint16_t>(
            [&](int f, int len, uint16_t* d) {
                return krn_add_const_scaled_16u_variant(level)(in16.data() + f, 999, d, len, 0);
            },
            [&](size_t i) { return model_scale_16u(in16[i] + 999u, 0); }, {n - 4});
    });
}

TEST(ConstArithFused, MultiplyThenAddInOnePassEqualsTheTwoKernels) {
    const auto check = [](auto fused, auto sample) {
        using T = decltype(sample);
        const std::vector<T> sp = special_values<T>(), in = mixed_values<T>(1100, 3);
        for (T m : {T(1), T(0), -T(0), T(-1.5), sp[10], sp[12], sp[18], sp[20], sp[22]})
            for (T a : {T(1), T(0), -T(0), T(3.25), sp[10], sp[16], sp[20], sp[22]}) {
                SCOPED_TRACE(::testing::Message() << "mul " << m << " add " << a);
                expect_elementwise<T>([&](int f, int n, T* d) { return fused(in.data() + f, m, a, d, n); },
                                      [&](size_t i) { return model_add(model_mul(in[i], m), a); }, {1, 17, 129, 1031});
            }
        T buf[2] = {};
        EXPECT_EQ(fused(buf, 2, 3, nullptr, -1), krn_err_null);
        EXPECT_EQ(fused(buf, 2, 3, buf, 0), krn_err_size);
    };
    for_each_supported_level([&](int level) {
        check(krn_mul_add_const_32f_variant(level), 0.0f);
        check(krn_mul_add_const_64f_variant(level), 0.0);
        const auto fused16 = krn_mul_add_const_scaled_16u_variant(level);
        const std::vector<uint16_t> in = inputs_16u(140, 9);
        for (int sf : {0, 1, -1, 18})
            for (uint16_t m : {0, 1, 2, 300, 65535})
                for (uint16_t a : {0, 1, 7, 65535}) {
                    SCOPED_TRACE(::testing::Message() << "mul " << m << " add " << a << " sf " << sf);
                    expect_elementwise<uint16_t>(
                        [&](int f, int n, uint16_t* d) { return fused16(in.data() + f, m, a, d, n, sf); },
                        [&](size_t i) { return model_scale_16u(model_scale_16u(uint64_t(in[i]) * m, sf) + a, sf); },
                        {1, 33, 130});
                }
        uint16_t buf[2] = {1, 2};
        EXPECT_EQ(fused16(nullptr, 2, 3, buf, 0, 0), krn_err_null);
        EXPECT_EQ(fused16(buf, 2, 3, buf, 0, 0), krn_err_size);
    });
}
