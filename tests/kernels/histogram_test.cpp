#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/histogram_model.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using qor::test::for_each_supported_level;
using qor::test::model_counts;
using qor::test::model_counts_16s;
using qor::test::model_float_levels;
using qor::test::model_int_levels;

namespace {

constexpr int t32f = 13, t16s = 7;
constexpr float inf = std::numeric_limits<float>::infinity();

template <class T>
T field(const std::vector<uint8_t>& spec, size_t offset) {
    T v;
    std::memcpy(&v, spec.data() + offset, sizeof v);
    return v;
}

// A one-channel specification, built as the worker builds it.
std::vector<uint8_t> make_spec(int type, float lower, float upper, int bins, int* status = nullptr) {
    const int levels = bins + 1;
    int spec_size = 0, work_size = 0;
    EXPECT_EQ(krn_histogram_get_size(type, {1, 1}, &levels, 1, 1, &spec_size, &work_size), krn_ok);
    std::vector<uint8_t> spec(static_cast<size_t>(spec_size));
    const int st = krn_histogram_init_uniform(type, &lower, &upper, &levels, 1, spec.data());
    if (status) *status = st;
    else EXPECT_EQ(st, krn_ok);
    return spec;
}

std::vector<uint32_t> count_32f(int level, const float* src, int n, const std::vector<uint8_t>& spec, int bins) {
    std::vector<uint32_t> counts(size_t(bins), 0xDEADBEEF);
    EXPECT_EQ(krn_histogram_32f_variant(level)(src, 4 * n, {n, 1}, counts.data(), spec.data(), nullptr), krn_ok);
    return counts;
}

std::vector<uint32_t> count_16s(int level, const std::vector<int16_t>& src, const std::vector<uint8_t>& spec,
                                int bins) {
    std::vector<uint32_t> counts(size_t(bins), 0xDEADBEEF);
    std::vector<uint8_t> work(4 * 65536, 0xA5);
    const int n = int(src.size());
    EXPECT_EQ(krn_histogram_16s_variant(level)(src.data(), 2 * n, {n, 1}, counts.data(), spec.data(), work.data()),
              krn_ok);
    return counts;
}

// Every level, its float neighbours on both sides, the values halfway between levels, the
// special values, subnormals and random samples over (and a little beyond) the range.
std::vector<float> edge_samples(const std::vector<float>& L, std::mt19937& rng) {
    std::vector<float> s;
    for (float l : L) {
        s.push_back(l);
        s.push_back(std::nextafter(l, -inf));
        s.push_back(std::nextafter(l, inf));
        s.push_back(std::nextafter(std::nextafter(l, inf), inf));
    }
    for (size_t k = 0; k + 1 < L.size(); ++k) s.push_back(L[k] + (L[k + 1] - L[k]) / 2);
    const float specials[] = {0.0f, -0.0f, inf, -inf, std::numeric_limits<float>::quiet_NaN(),
                              -std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::denorm_min(),
                              -std::numeric_limits<float>::denorm_min(), 1e-39f, -1e-39f,
                              std::numeric_limits<float>::min(), std::numeric_limits<float>::max(),
                              -std::numeric_limits<float>::max()};
    s.insert(s.end(), std::begin(specials), std::end(specials));
    uint32_t nan_payload = 0x7FC12345u;
    float payload_nan;
    std::memcpy(&payload_nan, &nan_payload, 4);
    s.push_back(payload_nan);
    const double lo = L.front(), hi = L.back();
    const double pad = std::isfinite(hi - lo) ? (hi - lo) * 0.05 : 0.0;
    std::uniform_real_distribution<double> dist(std::isfinite(lo) ? lo - pad : -1e30,
                                                std::isfinite(hi) ? hi + pad : 1e30);
    for (int i = 0; i < 3000; ++i) s.push_back(float(dist(rng)));
    std::shuffle(s.begin(), s.end(), rng);
    return s;
}

}  // namespace

TEST(HistogramSize, ChecksInOrderAndSizesByTypeAndChannels) {
    const int two[4] = {2, 2, 2, 2}, one[1] = {1};
    int spec = -1, work = -1;
    EXPECT_EQ(krn_histogram_get_size(t32f, {1, 1}, nullptr, 1, 1, &spec, &work), krn_err_null);
    EXPECT_EQ(krn_histogram_get_size(t32f, {1, 1}, two, 1, 1, nullptr, &work), krn_err_null);
    EXPECT_EQ(krn_histogram_get_size(t32f, {0, 1}, two, 0, 1, &spec, nullptr), krn_err_null);
    EXPECT_EQ(krn_histogram_get_size(t32f, {0, 1}, one, 2, 1, &spec, &work), krn_err_size);
    EXPECT_EQ(krn_histogram_get_size(t32f, {1, -3}, one, 2, 1, &spec, &work), krn_err_size);
    EXPECT_EQ(krn_histogram_get_size(t32f, {1, 1}, one, 2, 1, &spec, &work), krn_err_channels);
    EXPECT_EQ(krn_histogram_get_size(t32f, {1, 1}, one, 1, 1, &spec, &work), krn_err_levels);
    const int big[2] = {1 << 29, 1 << 29};  // 80 + 4 * 2^30 bytes does not fit a size
    EXPECT_EQ(krn_histogram_get_size(t32f, {1, 1}, big, 1, 1, &spec, &work), krn_err_levels);
    EXPECT_EQ(spec, -1);

    struct row {
        int type, channels, spec, work, status;
    };
    const int levels[4] = {257, 3, 5, 2};
    const row rows[] = {{13, 1, 80 + 4 * 257, 0, 0},          {7, 1, 80 + 4 * 257, 262144, 0},
                        {5, 3, 80 + 4 * 265, 786432, 0},      {1, 4, 80 + 4 * 267, 4096, 0},
                        {1, 3, 80 + 4 * 265, 3072, 0},        {7, 4, 80 + 4 * 267, 1048576, 0},
                        {19, 1, 80 + 4 * 257, 0, krn_err_data_type}, {0, 1, 80 + 4 * 257, 0, krn_err_data_type}};
    for (const row& r : rows) {
        spec = work = -1;
        EXPECT_EQ(krn_histogram_get_size(r.type, {5, 7}, levels, r.channels, 0, &spec, &work), r.status) << r.type;
        EXPECT_EQ(spec, r.spec) << r.type;
        EXPECT_EQ(work, r.work) << r.type;
    }
}

TEST(HistogramSpec, ChecksInOrder) {
    const float lo[3] = {0, 0, 5}, hi[3] = {1, 1, 5};
    const int levels[3] = {3, 3, 3}, few[3] = {3, 1, 3};
    uint8_t spec[200];
    EXPECT_EQ(krn_histogram_init_uniform(19, nullptr, hi, levels, 2, spec), krn_err_data_type);
    EXPECT_EQ(krn_histogram_init_uniform(t32f, nullptr, hi, levels, 1, spec), krn_err_null);
    EXPECT_EQ(krn_histogram_init_uniform(t16s, lo, nullptr, levels, 1, spec), krn_err_null);
    EXPECT_EQ(krn_histogram_init_uniform(1, lo, hi, nullptr, 1, spec), krn_err_null);
    EXPECT_EQ(krn_histogram_init_uniform(5, lo, hi, levels, 9, nullptr), krn_err_null);
    EXPECT_EQ(krn_histogram_init_uniform(t32f, lo, hi, few, 2, spec), krn_err_channels);
    EXPECT_EQ(krn_histogram_init_uniform(t32f, lo, hi, few, 3, spec), krn_err_levels);  // channel 1
    EXPECT_EQ(krn_histogram_init_uniform(t32f, lo, hi, levels, 3, spec), krn_err_level_range);  // channel 2
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(krn_histogram_init_uniform(t32f, &nan, hi, levels, 1, spec), krn_err_level_range);
    const float two = 2;
    EXPECT_EQ(krn_histogram_init_uniform(t32f, &two, hi, levels, 1, spec), krn_err_level_range);
}

TEST(HistogramSpec, LayoutOfThreeChannels) {
    const float lo[3] = {0, -10, 1e7f}, hi[3] = {4.5f, 10, 1e7f + 1};
    const int levels[3] = {5, 3, 4};
    int size = 0, work = 0;
    ASSERT_EQ(krn_histogram_get_size(t32f, {1, 1}, levels, 3, 1, &size, &work), krn_ok);
    ASSERT_EQ(size, 80 + 4 * 12);
    std::vector<uint8_t> spec(static_cast<size_t>(size));
    ASSERT_EQ(krn_histogram_init_uniform(t32f, lo, hi, levels, 3, spec.data()), krn_ok);
    EXPECT_EQ(field<int32_t>(spec, 0), 13);
    EXPECT_EQ(field<int32_t>(spec, 4), 3);
    EXPECT_EQ(field<int32_t>(spec, 8), 1);
    EXPECT_EQ(std::memcmp(spec.data() + 12, "hist", 4), 0);
    size_t at = 80;
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(field<int32_t>(spec, 16 + 4 * size_t(c)), levels[c]);
        EXPECT_EQ(field<float>(spec, 32 + 4 * size_t(c)), float((double(hi[c]) - lo[c]) / (levels[c] - 1)));
        EXPECT_EQ(field<const uint8_t*>(spec, 48 + 8 * size_t(c)), spec.data() + at);
        const std::vector<float> L = model_float_levels(lo[c], hi[c], levels[c] - 1);
        for (size_t k = 0; k < L.size(); ++k, at += 4) EXPECT_EQ(field<float>(spec, at), L[k]) << c << " " << k;
    }
    EXPECT_EQ(field<float>(spec, 84), 1.125f);  // the worked example's levels 0, 1.125, 2.25, ...
}

TEST(HistogramSpec, IntegerLevelsTruncateAndWarnBelowUnitStep) {
    int st = -1;
    std::vector<uint8_t> spec = make_spec(t16s, -3.7f, 6.2f, 2, &st);
    EXPECT_EQ(st, krn_ok);
    EXPECT_EQ(field<int32_t>(spec, 80), -3);
    EXPECT_EQ(field<int32_t>(spec, 84), 1);
    EXPECT_EQ(field<int32_t>(spec, 88), 6);
    // Bounds far outside 32 bits saturate; in-between levels follow the formula.
    for (auto [lo, hi, bins] : {std::tuple{-1e12f, 1e12f, 7}, {-40000.5f, 40000.5f, 1000}, {0.0f, 256.0f, 1000},
                                {-0.9f, 4.9f, 2}, {-inf, 0.0f, 3}}) {
        spec = make_spec(t16s, lo, hi, bins, &st);
        EXPECT_EQ(st, (double(hi) - lo) / bins < 1.0 ? krn_warn_level_step : krn_ok) << lo << " " << bins;
        const std::vector<int32_t> L = model_int_levels(lo, hi, bins);
        for (size_t k = 0; k < L.size(); ++k) EXPECT_EQ(field<int32_t>(spec, 80 + 4 * k), L[k]) << lo << " " << k;
    }
    make_spec(t32f, 0.0f, 1.0f, 1000, &st);
    EXPECT_EQ(st, krn_ok);  // the warning is for integer levels only
}

TEST(HistogramCounting, ChecksInOrder) {
    const std::vector<uint8_t> spec = make_spec(t32f, 0, 1, 2);
    std::vector<uint8_t> foreign = spec;
    foreign[13] = 'I';
    const float src[8] = {};
    const int16_t s16[8] = {};
    uint32_t counts[2];
    uint8_t work[4];
    for_each_supported_level([&](int level) {
        auto f = krn_histogram_32f_variant(level);
        auto s = krn_histogram_16s_variant(level);
        EXPECT_EQ(f(nullptr, 4, {1, 1}, counts, spec.data(), nullptr), krn_err_null);
        EXPECT_EQ(f(src, 4, {1, 1}, nullptr, spec.data(), nullptr), krn_err_null);
        EXPECT_EQ(f(src, 0, {0, 1}, counts, nullptr, nullptr), krn_err_null);
        EXPECT_EQ(s(s16, 2, {1, 1}, counts, spec.data(), nullptr), krn_err_null);
        EXPECT_EQ(f(src, 0, {0, 1}, counts, foreign.data(), nullptr), krn_err_size);
        EXPECT_EQ(s(s16, 0, {2, 0}, counts, foreign.data(), work), krn_err_size);
        EXPECT_EQ(f(src, 7, {2, 1}, counts, foreign.data(), nullptr), krn_err_step);
        EXPECT_EQ(s(s16, 3, {2, 1}, counts, foreign.data(), work), krn_err_step);
        counts[0] = counts[1] = 7;
        EXPECT_EQ(f(src, 8, {2, 1}, counts, foreign.data(), nullptr), krn_err_spec_tag);
        EXPECT_EQ(s(s16, 4, {2, 1}, counts, foreign.data(), work), krn_err_spec_tag);
        EXPECT_EQ(counts[0], 7u);  // refused calls write nothing
    });
}

TEST(HistogramCounting, WorkedExamples) {
    const float five[5] = {0, 1, 2, 3, 4};
    const float out[2] = {-1, 10};
    for_each_supported_level([&](int level) {
        EXPECT_EQ(count_32f(level, five, 5, make_spec(t32f, 0, 4, 4), 4), (std::vector<uint32_t>{1, 1, 1, 1}));
        EXPECT_EQ(count_32f(level, five, 5, make_spec(t32f, 0, 4.5f, 4), 4), (std::vector<uint32_t>{2, 1, 1, 1}));
        EXPECT_EQ(count_32f(level, out, 2, make_spec(t32f, 0, 5, 5), 5), (std::vector<uint32_t>(5, 0)));
        EXPECT_EQ(count_16s(level, {-3, -2, 0, 5}, make_spec(t16s, -3.7f, 6.2f, 2), 2),
                  (std::vector<uint32_t>{3, 1}));
    });
}

// Each sample in exactly the bin the levels say, for bin counts around the scan/search switch and
// well beyond, ranges that quantise the levels, and ranges at the ends of the float scale.
static void check_float_ranges(std::initializer_list<int> bin_counts) {
    struct range {
        float lower, upper;
    };
    const range ranges[] = {{0, 1},         {-5, 3.25f},       {1e7f, 1e7f + 1}, {-1e-3f, 1e-3f},
                            {1e-39f, 3e-39f}, {-3e38f, 3e38f}, {0.1f, 0.7f},     {-1, inf},
                            {-inf, 2},       {100, 100.0001f}};
    std::mt19937 rng(7);
    for (const range& r : ranges) {
        for (int bins : bin_counts) {
            const std::vector<float> L = model_float_levels(r.lower, r.upper, bins);
            const std::vector<float> samples = edge_samples(L, rng);
            const std::vector<uint8_t> spec = make_spec(t32f, r.lower, r.upper, bins);
            const std::vector<uint32_t> expected = model_counts(L, samples);
            for_each_supported_level([&](int level) {
                EXPECT_EQ(count_32f(level, samples.data(), int(samples.size()), spec, bins), expected)
                    << r.lower << ".." << r.upper << " bins " << bins;
            });
        }
    }
}

TEST(HistogramCounting, FloatBinsMatchTheDefinitionAtEveryLevel) { check_float_ranges({1, 2, 3, 7, 101, 102, 103}); }
TEST(HistogramCounting, FloatBinsMatchTheDefinitionLarge) { check_float_ranges({256, 1000, 4096}); }

TEST(HistogramCounting, FloatBinsLargeCountsAndRegions) {
    std::mt19937 rng(11);
    for (int bins : {20000, 200000}) {
        const std::vector<float> L = model_float_levels(-2, 2, bins);
        const std::vector<float> samples = edge_samples(L, rng);
        const std::vector<uint8_t> spec = make_spec(t32f, -2, 2, bins);
        const std::vector<uint32_t> expected = model_counts(L, samples);
        for_each_supported_level([&](int level) {
            EXPECT_EQ(count_32f(level, samples.data(), int(samples.size()), spec, bins), expected) << bins;
        });
    }
}

// Every start offset modulo a cache line, every length around the vector widths, and rows with
// gaps (which must not be read) or of one element.
TEST(HistogramCounting, FloatOffsetsLengthsAndRows) {
    const int bins = 103;
    const std::vector<float> L = model_float_levels(-1, 1, bins);
    std::mt19937 rng(3);
    std::vector<float> pool = edge_samples(L, rng);
    const std::vector<uint8_t> spec = make_spec(t32f, -1, 1, bins);
    for_each_supported_level([&](int level) {
        for (int offset = 0; offset < 16; ++offset) {
            for (int n : {1, 3, 4, 5, 8, 15, 16, 17, 31, 32, 33, 64, 100}) {
                const std::vector<float> part(pool.begin() + offset, pool.begin() + offset + n);
                EXPECT_EQ(count_32f(level, pool.data() + offset, n, spec, bins), model_counts(L, part))
                    << offset << " " << n;
            }
        }
        // 5 rows of 37 with a stride of 41: the 4 samples after each row are outside the region.
        std::vector<float> inside;
        for (int y = 0; y < 5; ++y) inside.insert(inside.end(), pool.begin() + 41 * y, pool.begin() + 41 * y + 37);
        std::vector<uint32_t> counts(static_cast<size_t>(bins));
        ASSERT_EQ(krn_histogram_32f_variant(level)(pool.data(), 41 * 4, {37, 5}, counts.data(), spec.data(), nullptr),
                  krn_ok);
        EXPECT_EQ(counts, model_counts(L, inside));
        ASSERT_EQ(krn_histogram_32f_variant(level)(pool.data(), 4, {1, 300}, counts.data(), spec.data(), nullptr),
                  krn_ok);
        EXPECT_EQ(counts, model_counts(L, std::vector<float>(pool.begin(), pool.begin() + 300)));
    });
}

// A copied specification works: the counting kernels do not depend on the stored pointer.
TEST(HistogramCounting, CopiedSpecification) {
    const std::vector<uint8_t> spec = make_spec(t32f, 0, 4.5f, 4);
    std::vector<uint8_t> copy(spec.size() + 64);
    std::memcpy(copy.data() + 16, spec.data(), spec.size());
    const float samples[6] = {0, 1.125f, 1.1249999f, 4.4f, 4.5f, 2.25f};
    uint32_t counts[4];
    ASSERT_EQ(krn_histogram_32f(samples, 24, {6, 1}, counts, copy.data() + 16, nullptr), krn_ok);
    EXPECT_EQ(std::vector<uint32_t>(counts, counts + 4), (std::vector<uint32_t>{2, 1, 1, 1}));
}

// Both 16-bit methods: equal bins by division below 65,536 samples with divisible end levels, the
// table otherwise. The levels -1.9 .. 3 over 2 bins are -1, 0, 3, where equal bins split at 1:
// the switch at 65,536 samples is visible in the counts.
TEST(HistogramCounting, ShortBinsSwitchToTheTableAtItsSize) {
    for (int n : {65535, 65536}) {
        std::vector<int16_t> samples(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) samples[size_t(i)] = int16_t(i % 7 - 1);
        const std::vector<int32_t> L = model_int_levels(-1.9f, 3.0f, 2);
        ASSERT_EQ(L, (std::vector<int32_t>{-1, 0, 3}));
        const std::vector<uint32_t> expected = model_counts_16s(L, samples);
        for_each_supported_level([&](int level) {
            EXPECT_EQ(count_16s(level, samples, make_spec(t16s, -1.9f, 3.0f, 2), 2), expected) << n;
        });
        const uint32_t per = uint32_t(n / 7);
        EXPECT_EQ(expected[0], n == 65535 ? 2 * per + 1 : per + 1);  // -1 and 0, or -1 alone
    }
}

static void check_16s_ranges(std::initializer_list<int> lengths) {
    struct range {
        float lower, upper;
        int bins;
    };
    const range ranges[] = {{-32768, 32768, 256},  {-32768, 32768, 65536}, {-40000, 40000, 100},
                            {-1e9f, 1e9f, 3},       {-100, 101, 201},      {-3.7f, 6.2f, 2},
                            {0.5f, 0.7f, 1},        {10, 11, 5},           {-50000, -40000, 10},
                            {-32769, 32767, 103},   {-1000, 1000, 101},    {-1000, 1000, 102},
                            {-1e6f, 1e6f, 1000},    {-30000, 30000, 7},    {-300, 300, 200},
                            {-21, 21, 6},           {-33000, 33000, 22},   {-32768, 32768, 2},
                            {-410, 410, 20}};  // width 41: its float reciprocal is below 1/41
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (const range& r : ranges) {
        const std::vector<int32_t> L = model_int_levels(r.lower, r.upper, r.bins);
        int st = 0;
        const std::vector<uint8_t> spec = make_spec(t16s, r.lower, r.upper, r.bins, &st);
        for (int n : lengths) {
            std::vector<int16_t> samples(static_cast<size_t>(n));
            for (auto& s : samples) s = int16_t(any(rng));
            for (size_t i = 0; i < samples.size() && i < L.size() * 3; i += 3) {
                // The levels themselves and their neighbours, clamped to the 16-bit range.
                const int32_t l = std::clamp<int32_t>(L[i / 3], -32767, 32766);
                samples[i] = int16_t(l);
                if (i + 1 < samples.size()) samples[i + 1] = int16_t(l - 1);
                if (i + 2 < samples.size()) samples[i + 2] = int16_t(l + 1);
            }
            if (n > 2) samples[0] = -32768, samples[1] = 32767;
            const std::vector<uint32_t> expected = model_counts_16s(L, samples);
            for_each_supported_level([&](int level) {
                EXPECT_EQ(count_16s(level, samples, spec, r.bins), expected) << r.lower << " " << r.bins << " n " << n;
            });
        }
    }
}

TEST(HistogramCounting, SixteenBitBinsMatchTheModelAtEveryLevel) { check_16s_ranges({1, 9, 1000, 20000}); }
TEST(HistogramCounting, SixteenBitBinsMatchTheModelLarge) { check_16s_ranges({65535, 65536, 70001}); }

TEST(HistogramCounting, SixteenBitRowsWithGaps) {
    std::vector<int16_t> pool(400);
    for (size_t i = 0; i < pool.size(); ++i) pool[i] = int16_t(int(i * 37 % 200) - 100);
    for (auto [lo, hi, bins] : {std::tuple{-100.0f, 100.0f, 8}, {-100.0f, 100.0f, 7}}) {
        const std::vector<uint8_t> spec = make_spec(t16s, lo, hi, bins);
        std::vector<int16_t> inside;
        for (int y = 0; y < 6; ++y) inside.insert(inside.end(), pool.begin() + 45 * y, pool.begin() + 45 * y + 40);
        const std::vector<uint32_t> expected = model_counts_16s(model_int_levels(lo, hi, bins), inside);
        for_each_supported_level([&](int level) {
            std::vector<uint32_t> counts(static_cast<size_t>(bins));
            std::vector<uint8_t> work(4 * 65536);
            ASSERT_EQ(krn_histogram_16s_variant(level)(pool.data(), 90, {40, 6}, counts.data(), spec.data(),
                                                       work.data()),
                      krn_ok);
            EXPECT_EQ(counts, expected) << bins;
        });
    }
}
