// The shared driver of element-wise kernel tests: special inputs, a bit-exact comparison over
// lengths and destination offsets with guarded neighbours, and the refusal checks of the
// (src, dst, len) kernels.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/bits.hpp"

namespace qor::test {

// Zeros, infinities, NaNs of both kinds with and without payloads, subnormals, range ends and a
// few ordinary values.
template <class T>
std::vector<T> special_values() {
    using L = std::numeric_limits<T>;
    using B = bits_t<T>;
    const B sign = B{1} << (sizeof(B) * 8 - 1), qnan = bits_of(L::quiet_NaN());
    return {T(0), -T(0), T(1), -T(1), T(2), T(0.5), T(3.25), -T(1e3), T(0.1), T(-7.5),
            L::infinity(), -L::infinity(), L::max(), -L::max(), L::min(), -L::min(),
            L::denorm_min(), -L::denorm_min(), L::min() - L::denorm_min(), L::min() / 3,
            from_bits<T>(qnan | 0x123), from_bits<T>(sign | qnan | 0x77),
            from_bits<T>((qnan & ~quiet_bit<T>) | 0x5),  // signalling
            L::quiet_NaN(), from_bits<T>(sign | qnan)};
}

// Mostly ordinary values of every magnitude, with special ones mixed in.
template <class T>
std::vector<T> mixed_values(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    const std::vector<T> sp = special_values<T>();
    std::uniform_real_distribution<double> mant(-2, 2);
    std::uniform_int_distribution<int> expo(std::numeric_limits<T>::min_exponent - 24,
                                            std::numeric_limits<T>::max_exponent);
    std::vector<T> v(n);
    for (auto& x : v) x = gen() % 8 == 0 ? sp[gen() % sp.size()] : T(std::ldexp(mant(gen), expo(gen)));
    return v;
}

template <class T>
bool same_bits(T a, T b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Lengths around every level's vector width and unrolled block.
inline const std::vector<int> block_lengths = {1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 129, 200};

// For every length and for first = 0..3 (or fewer offsets), call(first, n, dst) runs the kernel on the inputs
// [first, first + n) into dst, which lies `first` elements past a 64-byte boundary. Every element
// must equal want(first + k) (bit for bit unless `same` says otherwise) and nothing around dst may
// change. A call returning a status must return 0; one returning nothing checks its own.
template <class Out, class Call, class Want, class Same = bool (*)(Out, Out)>
void expect_elementwise(Call&& call, Want&& want, const std::vector<int>& lengths = block_lengths,
                        Same same = same_bits<Out>, int offsets = 4) {
    constexpr int guard = 64 / int(sizeof(Out)) + 4;
    int longest = 0;
    for (int n : lengths) longest = std::max(longest, n);
    std::vector<Out> store(size_t(longest + 2 * guard + 64 / sizeof(Out) + 4));
    Out* base = store.data();
    while (reinterpret_cast<uintptr_t>(base) % 64) ++base;
    base += guard;
    for (int first = 0; first < offsets; ++first)
        for (int n : lengths) {
            SCOPED_TRACE(::testing::Message() << "length " << n << ", offset " << first);
            std::memset(static_cast<void*>(store.data()), 0xA5, store.size() * sizeof(Out));
            Out* dst = base + first;
            if constexpr (std::is_void_v<decltype(call(first, n, dst))>) {
                call(first, n, dst);
            } else {
                ASSERT_EQ(call(first, n, dst), krn::krn_ok);
            }
            for (int k = 0; k < n; ++k) {
                const Out w = want(size_t(first + k));
                ASSERT_TRUE(same(dst[k], w)) << "element " << k << ": got " << +dst[k] << ", want " << +w;
            }
            const auto untouched = [](const Out* from, const Out* to) {
                return std::all_of(reinterpret_cast<const uint8_t*>(from), reinterpret_cast<const uint8_t*>(to),
                                   [](uint8_t b) { return b == 0xA5; });
            };
            ASSERT_TRUE(untouched(store.data(), dst) && untouched(dst + n, store.data() + store.size()))
                << "written outside the destination";
        }
}

// A (src, dst, len) kernel refuses null pointers and lengths below 1, pointers first unless the
// length is looked at first, and writes nothing then.
template <class S, class D>
void expect_refusals(int (*k)(const S*, D*, int), bool length_first = false) {
    S s[2] = {};
    D d[2] = {D(7), D(7)};
    EXPECT_EQ(k(nullptr, d, 1), krn::krn_err_null);
    EXPECT_EQ(k(s, nullptr, 1), krn::krn_err_null);
    EXPECT_EQ(k(nullptr, d, 0), length_first ? krn::krn_err_size : krn::krn_err_null);
    EXPECT_EQ(k(s, d, 0), krn::krn_err_size);
    EXPECT_EQ(k(s, d, -1), krn::krn_err_size);
    EXPECT_TRUE(d[0] == D(7) && d[1] == D(7));
}

// The same for (src1, src2, dst, len) kernels.
template <class S, class D>
void expect_refusals(int (*k)(const S*, const S*, D*, int)) {
    S s[2] = {};
    D d[2] = {D(7), D(7)};
    EXPECT_EQ(k(nullptr, s, d, 0), krn::krn_err_null);
    EXPECT_EQ(k(s, nullptr, d, 1), krn::krn_err_null);
    EXPECT_EQ(k(s, s, nullptr, 1), krn::krn_err_null);
    EXPECT_EQ(k(s, s, d, 0), krn::krn_err_size);
    EXPECT_EQ(k(s, s, d, -1), krn::krn_err_size);
    EXPECT_TRUE(d[0] == D(7) && d[1] == D(7));
}

}  // namespace qor::test
