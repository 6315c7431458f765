#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include "kernels/kernels.hpp"
#include "kernels/random_state.hpp"
#include "support/bits.hpp"
#include "support/levels.hpp"
#include "support/random_model.hpp"

namespace ours {
#include "kernels/random_ln.hpp"
}

using namespace qor::krn;
using qor::test::bits_of;
using qor::test::for_each_supported_level;
using qor::test::libc_ln;
using qor::test::model_gauss;

namespace {

double lib_ln(double s) { return ours::ln_scalar(s); }

// One type's record, kernels and rounding, so every test runs over the three Gaussian types alike.
template <class T>
struct gauss_kind {
    static constexpr bool f32 = std::is_same_v<T, float>, f64 = std::is_same_v<T, double>;
    using state = std::conditional_t<f32, krn_rand_gauss_state_32f,
                                     std::conditional_t<f64, krn_rand_gauss_state_64f, krn_rand_gauss_state_16s>>;
    static int init(state* s, double mean, double sd, uint32_t seed) {
        if constexpr (f32) return krn_rand_gauss_init_32f(s, float(mean), float(sd), seed);
        else if constexpr (f64) return krn_rand_gauss_init_64f(s, mean, sd, seed);
        else return krn_rand_gauss_init_16s(s, int16_t(mean), int16_t(sd), seed);
    }
    static auto variant(int level) {
        if constexpr (f32) return krn_rand_gauss_32f_variant(level);
        else if constexpr (f64) return krn_rand_gauss_64f_variant(level);
        else return krn_rand_gauss_16s_variant(level);
    }
    static T round(double v) {
        if constexpr (f32 || f64) return T(v);
        else return qor::test::model_round_16s(v);
    }
};

// Runs the kernel of one level over consecutive pieces of one state and compares the whole
// against the model (with our logarithm: bit for bit for every type).
template <class T>
void expect_sequence(int level, uint32_t seed, double mean, double sd, std::vector<int> pieces) {
    using K = gauss_kind<T>;
    typename K::state st;
    ASSERT_EQ(K::init(&st, mean, sd, seed), krn_ok);
    model_gauss<lib_ln> model(seed, static_cast<double>(st.mean), static_cast<double>(st.stdev));
    int offset = 0;
    for (int n : pieces) {
        std::vector<T> got(n + 1, T(7));
        ASSERT_EQ(K::variant(level)(got.data(), n, &st), krn_ok);
        EXPECT_EQ(got[n], T(7)) << "wrote past the end";
        const std::vector<double> want = model.next(n);
        for (int i = 0; i < n; ++i) {
            const T w = K::round(want[i]);
            if (std::memcmp(&got[i], &w, sizeof(T)) != 0) {
                ADD_FAILURE() << "element " << offset + i << " of seed " << seed << ": " << +got[i] << " vs " << +w;
                return;
            }
        }
        offset += n;
        EXPECT_EQ(st.run.no_spare, model.spare ? 0 : 1);
    }
    EXPECT_TRUE(st.run.r1 == model.k.r1 && st.lcg == model.k.L && bits_of(st.run.factor) == bits_of(model.factor) &&
                st.run.w1 == model.w1 && st.run.w2 == model.w2);
}

}  // namespace

TEST(RandomUniform, ModelAndDegenerateRangesAtEveryLevel) {
    for_each_supported_level([](int level) {
        const auto uniform = krn_rand_uniform_32f_variant(level);
        krn_rand_uniform_state_32f st;
        ASSERT_EQ(krn_rand_uniform_init_32f(&st, -5.0f, 5.0f, 60138), krn_ok);
        std::vector<float> got(2000);
        int done = 0;  // odd pieces across the batch and vector boundaries continue one sequence
        for (int n : {4, 1, 2, 3, 509, 512, 513, 7})
            ASSERT_EQ(uniform(got.data() + std::exchange(done, done + n), n, &st), krn_ok);
        const std::vector<float> want = qor::test::model_uniform(60138, -5.0f, 5.0f, done);
        for (int i = 0; i < done; ++i) ASSERT_TRUE(got[i] == want[i] && got[i] >= -5.0f && got[i] <= 5.0f) << i;
        // A degenerate range gives its value; a reversed one the mirrored sequence.
        krn_rand_uniform_init_32f(&st, 2.5f, 2.5f, 3);
        ASSERT_EQ(uniform(got.data(), 100, &st), krn_ok);
        EXPECT_EQ(std::count(got.begin(), got.begin() + 100, 2.5f), 100);
        krn_rand_uniform_init_32f(&st, 1.0f, -1.0f, 3);
        ASSERT_EQ(uniform(got.data(), 100, &st), krn_ok);
        const std::vector<float> mirrored = qor::test::model_uniform(3, -1.0f, 1.0f, 100);
        for (int i = 0; i < 100; ++i) EXPECT_EQ(got[i], -mirrored[i]);
    });
}

TEST(RandomGauss, SequencesMatchTheModelForEveryTypeAndSaturate) {
    for_each_supported_level([](int level) {
        for (uint32_t seed : {0u, 1u, 60138u, 0xFFFFFFFFu}) {
            expect_sequence<float>(level, seed, 0.25, 1.5, {2000});
            expect_sequence<float>(level, seed, -3.0, 0.5, {1999});
            expect_sequence<double>(level, seed, 1.0, 2.0, {1001});
            expect_sequence<double>(level, seed, 0.0, -1.0, {1000});
            expect_sequence<int16_t>(level, seed, 100, 2000, {777});
        }
        // Lengths around the vector width and the batch, each split into pieces: a pending spare
        // carries over with its own multiplication order.
        expect_sequence<double>(level, 5, 0.1, 3.3, {1, 1, 1, 2, 3, 5, 8, 13, 511, 512, 513, 1, 2});
        expect_sequence<float>(level, 6, 0.1, 3.3, {3, 1, 7, 2, 1025, 4});
        expect_sequence<int16_t>(level, 7, -40, 9, {5, 5, 1, 600});
        expect_sequence<int16_t>(level, 11, 0, 30000, {4001});  // saturates at both ends
        // A zero deviation gives the mean.
        krn_rand_gauss_state_16s st;
        std::vector<int16_t> got(99);
        krn_rand_gauss_init_16s(&st, -25536, 0, 11);
        ASSERT_EQ(krn_rand_gauss_16s_variant(level)(got.data(), 99, &st), krn_ok);
        EXPECT_EQ(std::count(got.begin(), got.end(), int16_t(-25536)), 99);
    });
}

TEST(RandomGauss, AgreesWithTheLibraryLogarithm) {
    // Single-precision and 16-bit elements do not see the last bit of the logarithm: the whole
    // sequence equals the model run with the C library's.
    krn_rand_gauss_state_32f st;
    krn_rand_gauss_init_32f(&st, 0.0f, 1.0f, 60138);
    std::vector<float> got(20000);
    ASSERT_EQ(krn_rand_gauss_32f(got.data(), int(got.size()), &st), krn_ok);
    model_gauss<libc_ln> model(60138, 0.0, 1.0);
    const std::vector<double> want = model.next(int(got.size()));
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], float(want[i])) << i;
}

TEST(RandomGauss, RefusalsWriteNothingAndKeepTheState) {
    for_each_supported_level([](int level) {
        const auto gauss = krn_rand_gauss_32f_variant(level);
        const auto uniform = krn_rand_uniform_32f_variant(level);
        krn_rand_gauss_state_32f st;
        krn_rand_uniform_state_32f uni;
        krn_rand_gauss_state_64f g64;
        krn_rand_gauss_init_32f(&st, 0.0f, 1.0f, 3), krn_rand_uniform_init_32f(&uni, 0, 1, 3);
        krn_rand_gauss_init_64f(&g64, 0, 1, 3);
        float dst[4] = {9, 9, 9, 9}, one[1];
        ASSERT_EQ(gauss(one, 1, &st), krn_ok);  // leaves a spare
        const krn_rand_gauss_state_32f before = st;
        EXPECT_EQ(gauss(nullptr, 0, &st), krn_err_null);
        EXPECT_EQ(gauss(dst, 4, nullptr), krn_err_null);
        EXPECT_EQ(gauss(dst, 0, &st), krn_err_size);
        EXPECT_EQ(gauss(dst, -3, &st), krn_err_size);
        EXPECT_EQ(std::memcmp(&before, &st, sizeof st), 0);
        EXPECT_EQ(krn_rand_gauss_get_size_16s(nullptr), krn_err_null);
        EXPECT_EQ(krn_rand_gauss_init_32f(nullptr, 0, 1, 0), krn_err_null);
        EXPECT_EQ(krn_rand_uniform_init_32f(nullptr, 0, 1, 0), krn_err_null);
        // Every generator refuses the others' records, the uniform one included.
        EXPECT_EQ(gauss(dst, 4, reinterpret_cast<krn_rand_gauss_state_32f*>(&uni)), krn_err_context);
        EXPECT_EQ(uniform(dst, 4, reinterpret_cast<krn_rand_uniform_state_32f*>(&st)), krn_err_context);
        EXPECT_EQ(krn_rand_gauss_16s_variant(level)(reinterpret_cast<int16_t*>(dst), 4,
                                                    reinterpret_cast<krn_rand_gauss_state_16s*>(&g64)),
                  krn_err_context);
        EXPECT_EQ(uniform(nullptr, 4, &uni), krn_err_null);
        EXPECT_EQ(uniform(dst, 0, &uni), krn_err_size);
        EXPECT_TRUE(dst[0] == 9 && dst[1] == 9 && dst[2] == 9 && dst[3] == 9);
    });
}

TEST(RandomLogarithm, MatchesExtendedPrecisionLarge) {
    // Against the x87 extended logarithm: the result must be the double nearest to it wherever
    // that is not within 2^-9 ulp of a tie, and never more than one ulp off.
    std::mt19937_64 gen(42);
    int misrounded = 0, checked = 0;
    auto check = [&](double s) {
        const long double ref = std::log(static_cast<long double>(s)), got = lib_ln(s), nearest = double(ref);
        const long double ulp = std::nextafter(std::fabs(double(nearest)), 1e300) - std::fabs(nearest);
        ASSERT_LE(std::fabs(got - ref) / ulp, 1.0L) << s;
        misrounded += got != nearest && std::fabs(std::fabs(nearest - ref) / ulp - 0.5L) > 0x1p-9L;
        ++checked;
    };
    for (int i = 0; i < 2000000; ++i) {
        const double s = std::ldexp(static_cast<double>(gen() >> 11), -53);  // [0, 1)
        if (s > 0) check(s);
        check(1.0 - std::ldexp(static_cast<double>(gen() >> 40), -60));      // just below 1
        check(std::ldexp(1.0 + std::ldexp(static_cast<double>(gen() >> 11), -53), -int(gen() % 63)));
    }
    for (double s : {0x1p-62, 0x1.fffffffffffffp-1, 0.5, 0.6875, 0x1.5fffffffffffp-1, 0x1.6p-1})
        check(s);
    EXPECT_EQ(misrounded, 0) << "of " << checked;
}
