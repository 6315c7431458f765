#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/elementwise.hpp"
#include "support/histogram_model.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using namespace qor::test;

namespace {

constexpr int t32f = 13, t16s = 7;
constexpr float inf = std::numeric_limits<float>::infinity(), qnan = std::numeric_limits<float>::quiet_NaN();
using counts_t = std::vector<uint32_t>;

template <class T>
T field(const std::vector<uint8_t>& spec, size_t offset) {
    T v;
    std::memcpy(&v, spec.data() + offset, sizeof v);
    return v;
}

// A one-channel specification, built as the worker builds it.
std::vector<uint8_t> make_spec(int type, float lower, float upper, int bins, int expect = krn_ok) {
    const int levels = bins + 1;
    int spec_size = 0, work_size = 0;
    EXPECT_EQ(krn_histogram_get_size(type, {1, 1}, &levels, 1, 1, &spec_size, &work_size), krn_ok);
    std::vector<uint8_t> spec(static_cast<size_t>(spec_size));
    EXPECT_EQ(krn_histogram_init_uniform(type, &lower, &upper, &levels, 1, spec.data()), expect);
    return spec;
}

// Counts through one level's variant, as one row or as rows of `width` every `stride` elements.
template <class T>
counts_t count(int level, const T* src, int n, const std::vector<uint8_t>& spec, int width = 0, int stride = 0) {
    counts_t counts(static_cast<size_t>(field<int32_t>(spec, 16) - 1), 0xDEADBEEF);
    std::vector<uint8_t> work(4 * 65536, 0xA5);
    const krn_size roi = width ? krn_size{width, n} : krn_size{n, 1};
    const int step = int(sizeof(T)) * (width ? stride : n);
    int st;
    if constexpr (sizeof(T) == 4)
        st = krn_histogram_32f_variant(level)(src, step, roi, counts.data(), spec.data(), nullptr);
    else st = krn_histogram_16s_variant(level)(src, step, roi, counts.data(), spec.data(), work.data());
    EXPECT_EQ(st, krn_ok);
    return counts;
}

// Every level, its float neighbours on both sides, the midpoints, special values (a NaN with a
// payload among them), subnormals, and random samples over the range and a little beyond.
std::vector<float> edge_samples(const std::vector<float>& L, std::mt19937& rng) {
    std::vector<float> s = special_values<float>();
    for (size_t k = 0; k < L.size(); ++k) {
        const float up = std::nextafter(L[k], inf);
        s.insert(s.end(), {L[k], std::nextafter(L[k], -inf), up, std::nextafter(up, inf)});
        if (k + 1 < L.size()) s.push_back(L[k] + (L[k + 1] - L[k]) / 2);
    }
    const double lo = L.front(), hi = L.back(), pad = std::isfinite(hi - lo) ? (hi - lo) * 0.05 : 0.0;
    std::uniform_real_distribution<double> dist(std::isfinite(lo) ? lo - pad : -1e30,
                                                std::isfinite(hi) ? hi + pad : 1e30);
    for (int i = 0; i < 3000; ++i) s.push_back(float(dist(rng)));
    std::shuffle(s.begin(), s.end(), rng);
    return s;
}

}  // namespace

TEST(HistogramSpec, SizeQueryChecksInOrderAndSizes) {
    const int two[4] = {2, 2, 2, 2}, one[1] = {1}, big[2] = {1 << 29, 1 << 29};
    int spec = -1, work = -1;
    EXPECT_EQ(krn_histogram_get_size(t32f, {1, 1}, nullptr, 1, 1, &spec, &work), krn_err_null);
    EXPECT_EQ(krn_histogram_get_size(t32f, {0, 1}, two, 0, 1, &spec, nullptr), krn_err_null);
    EXPECT_EQ(krn_histogram_get_size(t32f, {0, 1}, one, 2, 1, &spec, &work), krn_err_size);
    EXPECT_EQ(krn_histogram_get_size(t32f, {1, -3}, one, 2, 1, &spec, &work), krn_err_size);
    EXPECT_EQ(krn_histogram_get_size(t32f, {1, 1}, one, 2, 1, &spec, &work), krn_err_channels);
    EXPECT_EQ(krn_histogram_get_size(t32f, {1, 1}, one, 1, 1, &spec, &work), krn_err_levels);
    EXPECT_EQ(krn_histogram_get_size(t32f, {1, 1}, big, 1, 1, &spec, &work), krn_err_levels);  // > 2^31 bytes
    EXPECT_EQ(spec, -1);
    const int levels[4] = {257, 3, 5, 2};
    for (auto [type, channels, spec_want, work_want, status] :
         {std::tuple{13, 1, 80 + 4 * 257, 0, 0}, {7, 1, 1108, 262144, 0}, {5, 3, 1140, 786432, 0}, {1, 4, 1148, 4096, 0},
          {1, 3, 1140, 3072, 0}, {7, 4, 1148, 1048576, 0}, {19, 1, 1108, 0, -59}, {0, 1, 1108, 0, -59}}) {
        spec = work = -1;
        EXPECT_EQ(krn_histogram_get_size(type, {5, 7}, levels, channels, 0, &spec, &work), status) << type;
        EXPECT_TRUE(spec == spec_want && work == work_want) << type << ": " << spec << " " << work;
    }
}

TEST(HistogramSpec, InitChecksInOrderAndLevelsOfThreeChannels) {
    const float lo[3] = {0, -10, 1e7f}, hi[3] = {4.5f, 10, 1e7f + 1}, two = 2, one = 1;
    const int levels[3] = {5, 3, 4}, few[3] = {5, 1, 4};
    std::vector<uint8_t> spec(80 + 4 * 12);
    EXPECT_EQ(krn_histogram_init_uniform(19, nullptr, hi, levels, 2, spec.data()), krn_err_data_type);
    EXPECT_EQ(krn_histogram_init_uniform(t32f, nullptr, hi, levels, 1, spec.data()), krn_err_null);
    EXPECT_EQ(krn_histogram_init_uniform(t16s, lo, nullptr, levels, 1, spec.data()), krn_err_null);
    EXPECT_EQ(krn_histogram_init_uniform(1, lo, hi, nullptr, 1, spec.data()), krn_err_null);
    EXPECT_EQ(krn_histogram_init_uniform(5, lo, hi, levels, 9, nullptr), krn_err_null);
    EXPECT_EQ(krn_histogram_init_uniform(t32f, lo, hi, few, 2, spec.data()), krn_err_channels);
    EXPECT_EQ(krn_histogram_init_uniform(t32f, lo, hi, few, 3, spec.data()), krn_err_levels);  // channel 1
    EXPECT_EQ(krn_histogram_init_uniform(t32f, &qnan, hi, levels, 1, spec.data()), krn_err_level_range);
    EXPECT_EQ(krn_histogram_init_uniform(t32f, &two, &one, levels, 1, spec.data()), krn_err_level_range);

    // Each channel's levels from the double-precision formula, after the 80-byte header.
    ASSERT_EQ(krn_histogram_init_uniform(t32f, lo, hi, levels, 3, spec.data()), krn_ok);
    size_t at = 80;
    for (size_t c = 0; c < 3; ++c)
        for (float l : model_float_levels(lo[c], hi[c], levels[c] - 1)) {
            EXPECT_EQ(field<float>(spec, at), l) << c;
            at += 4;
        }
}

TEST(HistogramSpec, IntegerLevelsTruncateSaturateAndWarnBelowUnitStep) {
    for (auto [lo, hi, bins] : {std::tuple{-3.7f, 6.2f, 2}, {-1e12f, 1e12f, 7}, {-40000.5f, 40000.5f, 1000},
                                {0.0f, 256.0f, 1000}, {-1.9f, 3.0f, 2}, {-inf, 0.0f, 3}}) {
        const std::vector<uint8_t> spec = make_spec(t16s, lo, hi, bins, (double(hi) - lo) / bins < 1.0 ? krn_warn_level_step : krn_ok);
        const std::vector<int32_t> L = model_int_levels(lo, hi, bins);
        for (size_t k = 0; k < L.size(); ++k) EXPECT_EQ(field<int32_t>(spec, 80 + 4 * k), L[k]) << lo << " " << k;
    }
    make_spec(t32f, 0.0f, 1.0f, 1000, krn_ok);  // the warning is for integer levels only
}

TEST(HistogramCounting, ChecksInOrder) {
    std::vector<uint8_t> spec = make_spec(t32f, 0, 1, 2);
    spec[13] = 'I';
    const float f32[8] = {};
    const int16_t s16[8] = {};
    uint32_t counts[2] = {7, 7};
    uint8_t work[4];
    for_each_supported_level([&](int level) {
        auto f = krn_histogram_32f_variant(level);
        auto s = krn_histogram_16s_variant(level);
        EXPECT_EQ(f(nullptr, 4, {1, 1}, counts, spec.data(), nullptr), krn_err_null);
        EXPECT_EQ(f(f32, 4, {1, 1}, nullptr, spec.data(), nullptr), krn_err_null);
        EXPECT_EQ(f(f32, 0, {0, 1}, counts, nullptr, nullptr), krn_err_null);
        EXPECT_EQ(s(s16, 2, {1, 1}, counts, spec.data(), nullptr), krn_err_null);
        EXPECT_EQ(f(f32, 0, {0, 1}, counts, spec.data(), nullptr), krn_err_size);
        EXPECT_EQ(s(s16, 0, {2, 0}, counts, spec.data(), work), krn_err_size);
        EXPECT_EQ(f(f32, 7, {2, 1}, counts, spec.data(), nullptr), krn_err_step);
        EXPECT_EQ(s(s16, 3, {2, 1}, counts, spec.data(), work), krn_err_step);
        EXPECT_EQ(f(f32, 8, {2, 1}, counts, spec.data(), nullptr), krn_err_spec_tag);
        EXPECT_EQ(s(s16, 4, {2, 1}, counts, spec.data(), work), krn_err_spec_tag);
        EXPECT_EQ(counts[0], 7u);  // refused calls write nothing
    });
}

TEST(HistogramCounting, WorkedExamplesAndACopiedSpecification) {
    const float five[5] = {0, 1, 2, 3, 4}, out[2] = {-1, 10};
    const int16_t ints[4] = {-3, -2, 0, 5};
    // The counting kernels read the levels at their offset, not through the stored pointer, which
    // here points at the original's levels, since spoilt.
    std::vector<uint8_t> spec = make_spec(t32f, 0, 4.5f, 4);
    const std::vector<uint8_t> moved = spec;
    std::fill(spec.begin() + 80, spec.end(), uint8_t(0xFF));
    for_each_supported_level([&](int level) {
        EXPECT_EQ(count(level, five, 5, make_spec(t32f, 0, 4, 4)), (counts_t{1, 1, 1, 1}));
        EXPECT_EQ(count(level, five, 5, moved), (counts_t{2, 1, 1, 1}));
        EXPECT_EQ(count(level, out, 2, make_spec(t32f, 0, 5, 5)), counts_t(5, 0));
        EXPECT_EQ(count(level, ints, 4, make_spec(t16s, -3.7f, 6.2f, 2)), (counts_t{3, 1}));
    });
}

// Each sample's bin at every level against the model's counts.
template <class T>
void expect_counts(const std::vector<T>& samples, const std::vector<uint8_t>& spec, const counts_t& want) {
    for_each_supported_level(
        [&](int level) { EXPECT_EQ(count(level, samples.data(), int(samples.size()), spec), want); });
}

// Each sample in exactly the bin the levels say, for bin counts around the scan/search switch and
// beyond, ranges that quantise the levels, and ranges at the ends of the float scale.
void check_float_ranges(const std::vector<std::pair<float, float>>& ranges, std::initializer_list<int> bins_list) {
    std::mt19937 rng(7);
    for (auto [lower, upper] : ranges)
        for (int bins : bins_list) {
            SCOPED_TRACE(::testing::Message() << lower << ".." << upper << " bins " << bins);
            const std::vector<float> L = model_float_levels(lower, upper, bins), samples = edge_samples(L, rng);
            expect_counts(samples, make_spec(t32f, lower, upper, bins), model_counts(L, samples));
        }
}
const std::vector<std::pair<float, float>> float_ranges = {
    {0, 1}, {-5, 3.25f}, {1e7f, 1e7f + 1}, {-1e-3f, 1e-3f}, {1e-39f, 3e-39f},
    {-3e38f, 3e38f}, {0.1f, 0.7f}, {-1, inf}, {-inf, 2}, {100, 100.0001f}};
TEST(HistogramCounting, FloatBinsMatchTheDefinitionAtEveryLevel) {
    check_float_ranges(float_ranges, {1, 2, 3, 7, 101, 102, 103});
}
TEST(HistogramCounting, FloatBinsMatchTheDefinitionLarge) {
    check_float_ranges(float_ranges, {256, 1000, 1500, 4096});  // four, two and one copies of the counts
    check_float_ranges({{-2, 2}}, {20000, 150000});             // beyond 2^17 bins: a search per sample
}

// Every start offset within a cache line, lengths around the vector widths, rows with gaps that
// must not be read (of both types), and rows of one element.
TEST(HistogramCounting, OffsetsLengthsAndRows) {
    const std::vector<float> L = model_float_levels(-1, 1, 103);
    std::mt19937 rng(3);
    const std::vector<float> pool = edge_samples(L, rng);
    const std::vector<uint8_t> spec = make_spec(t32f, -1, 1, 103);
    std::vector<float> inside;
    for (size_t y = 0; y < 5; ++y) inside.insert(inside.end(), pool.begin() + 41 * y, pool.begin() + 41 * y + 37);
    std::vector<int16_t> pool16(400), inside16;
    for (size_t i = 0; i < pool16.size(); ++i) pool16[i] = int16_t(int(i * 37 % 200) - 100);
    for (size_t y = 0; y < 6; ++y) inside16.insert(inside16.end(), pool16.begin() + 45 * y, pool16.begin() + 45 * y + 40);
    for_each_supported_level([&](int level) {
        for (int offset = 0; offset < 16; ++offset) {
            for (int n : {1, 3, 4, 5, 8, 15, 16, 17, 31, 32, 33, 64, 100}) {
                const std::vector<float> part(pool.begin() + offset, pool.begin() + offset + n);
                EXPECT_EQ(count(level, pool.data() + offset, n, spec), model_counts(L, part)) << offset << " " << n;
            }
        }
        EXPECT_EQ(count(level, pool.data(), 5, spec, 37, 41), model_counts(L, inside));
        EXPECT_EQ(count(level, pool.data(), 300, spec, 1, 1),
                  model_counts(L, std::vector<float>(pool.begin(), pool.begin() + 300)));
        for (int bins : {8, 7}) {  // 16-bit equal bins, and the table
            const counts_t want = model_counts_16s(model_int_levels(-100, 100, bins), inside16);
            EXPECT_EQ(count(level, pool16.data(), 6, make_spec(t16s, -100, 100, bins), 40, 45), want) << bins;
        }
    });
}

// Both 16-bit methods. The levels -1.9 .. 3 over 2 bins are -1, 0, 3 while equal bins from L[0]
// split at 1, so the switch to the table at 65,536 samples shows in the counts. The table's
// counters are 16 bits wide: one value filling a fresh table wraps, and a value that dominates
// longer streams makes the table spill into the bins (-32768 .. 32768 over 3: not divisible).
TEST(HistogramCounting, SixteenBitTableSwitchAndCountersNeverLoseCounts) {
    for (auto [lo, hi, bins] : {std::tuple{-1.9f, 3.0f, 2}, {-32768.0f, 32768.0f, 3}}) {
        const std::vector<int32_t> L = model_int_levels(lo, hi, bins);
        const std::vector<uint8_t> spec = make_spec(t16s, lo, hi, bins);
        for (int n : {65535, 65536, 65537, 131072, 200000}) {
            for (int value : {-32768, 7, 32767, 99}) {  // 99: the cycle -1 .. 5
                std::vector<int16_t> samples(static_cast<size_t>(n), int16_t(value));
                for (size_t i = 0; value == 99 && i < samples.size(); ++i) samples[i] = int16_t(i % 7 - 1);
                if (n == 200000)
                    for (size_t i = 0; i < samples.size(); i += 100) samples[i] = int16_t(i * 7919);
                SCOPED_TRACE(::testing::Message() << lo << " " << n << " " << value);
                expect_counts(samples, spec, model_counts_16s(L, samples));
            }
        }
    }
}

static void check_16s_ranges(std::initializer_list<int> lengths) {
    // The last: width 41, where 1/41 rounds down in float.
    const std::tuple<float, float, int> ranges[] = {
        {-32768, 32768, 256}, {-32768, 32768, 65536}, {-40000, 40000, 100}, {-1e9f, 1e9f, 3},  {-100, 101, 201},
        {-3.7f, 6.2f, 2},     {0.5f, 0.7f, 1},        {10, 11, 5},          {-50000, -40000, 10}, {-32769, 32767, 103},
        {-1000, 1000, 101},   {-1000, 1000, 102},     {-1e6f, 1e6f, 1000},  {-30000, 30000, 7}, {-300, 300, 200},
        {-21, 21, 6},         {-33000, 33000, 22},    {-32768, 32768, 2},   {-410, 410, 20}};
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (auto [lower, upper, bins] : ranges) {
        const std::vector<int32_t> L = model_int_levels(lower, upper, bins);
        const std::vector<uint8_t> spec = make_spec(t16s, lower, upper, bins, double(upper) - lower < bins ? 48 : 0);
        for (int n : lengths) {
            std::vector<int16_t> samples(static_cast<size_t>(n));
            for (auto& s : samples) s = int16_t(any(rng));
            for (size_t i = 0; i + 2 < samples.size() && i < L.size() * 3; i += 3) {  // levels and neighbours
                const int32_t l = std::clamp<int32_t>(L[i / 3], -32767, 32766);
                samples[i] = int16_t(l), samples[i + 1] = int16_t(l - 1), samples[i + 2] = int16_t(l + 1);
            }
            if (n > 2) samples[0] = -32768, samples[1] = 32767;
            SCOPED_TRACE(::testing::Message() << lower << " " << bins << " n " << n);
            expect_counts(samples, spec, model_counts_16s(L, samples));
        }
    }
}
TEST(HistogramCounting, SixteenBitBinsMatchTheModelAtEveryLevel) { check_16s_ranges({1, 9, 1000, 20000}); }
TEST(HistogramCounting, SixteenBitBinsMatchTheModelLarge) { check_16s_ranges({65535, 65536, 70001}); }
