// Histogram counting. Every sample goes to the largest bin k whose lower level L[k] <= v, within
// [L[0], L[nBins]); the result never depends on the level of the processor.
//
// 32-bit floats: a vector estimate t = (v - L[0]) * (nBins / span) whose error, together with the
// levels' own distance from the ideal evenly spaced line, is bounded once per call by a margin m.
// When t lies more than m from an integer, floor(t) is the exact bin; the few lanes closer than m
// to an edge are settled by one comparison with the level at that edge. No gathers are needed.
// The bins of a block go to a small buffer and are then counted into interleaved copies.
// 16-bit integers: evenly divisible edges on short inputs take the bin by one division (done as
// a float reciprocal with an exact correction); otherwise each sample is counted once in a table
// of 65,536 16-bit counters, which is summed per bin before any counter could wrap.
#include <immintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "kernels/level.hpp"
#include "kernels/runtime/status.hpp"
#include "kernels/types.hpp"

namespace qor::krn::QOR_LEVEL_NS {

#include "kernels/histogram_detail.hpp"

namespace {

constexpr int vector_bytes = QOR_FLOAT_VECTOR_BYTES;
constexpr int lanes = vector_bytes / 4;

using vf = float __attribute__((vector_size(vector_bytes)));
using vi = int32_t __attribute__((vector_size(vector_bytes)));
using vs = int16_t __attribute__((vector_size(vector_bytes / 2)));
using vu = uint32_t __attribute__((vector_size(vector_bytes)));

// One bit per lane whose mask is set.
inline unsigned lane_bits(vi mask) {
#if QOR_LEVEL >= 5
    return _mm512_movepi32_mask((__m512i)mask);
#elif QOR_LEVEL >= 3
    return unsigned(_mm256_movemask_ps((__m256)mask));
#else
    return unsigned(_mm_movemask_ps((__m128)mask));
#endif
}

// Unaligned: levels, samples and counts sit at any float offset (a pointer of the vector type
// would promise the vector's alignment, and some compilers then use aligned loads).
template <class V>
V load(const void* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
// One element, from any address (16-bit samples may sit at odd ones).
template <class T>
T load(const T* p) {
    return load<T>(static_cast<const void*>(p));
}

// The spec as the counting kernels read it: channel 0's levels, always at their fixed offset,
// so a copied record still works (its stored pointer would not).
template <class Level>
struct levels {
    const Level* at;
    int bins;
};

template <class Level>
levels<Level> read_levels(const uint8_t* spec) {
    int32_t n;
    std::memcpy(&n, spec + hist::off_level_counts, 4);
    return {reinterpret_cast<const Level*>(spec + hist::off_levels), n - 1};
}

// Walks the region as runs of contiguous elements: one run when the rows touch.
template <class T, class Run>
void for_each_run(const T* src, int step, krn_size roi, Run&& run) {
    if (int64_t{step} == int64_t{roi.width} * int64_t(sizeof(T))) {
        run(src, int64_t{roi.width} * roi.height);
        return;
    }
    const char* row = reinterpret_cast<const char*>(src);
    for (int y = 0; y < roi.height; ++y, row += step) run(reinterpret_cast<const T*>(row), int64_t{roi.width});
}

template <class T>
int check_counting_args(const T* src, int step, krn_size roi, const uint32_t* counts, const uint8_t* spec) {
    if (!src || !counts || !spec) return krn_err_null;
    if (roi.width < 1 || roi.height < 1) return krn_err_size;
    if (int64_t{step} < int64_t{roi.width} * int64_t(sizeof(T))) return krn_err_step;
    if (std::memcmp(spec + hist::off_tag, hist::tag, 4) != 0) return krn_err_spec_tag;
    int32_t n;
    std::memcpy(&n, spec + hist::off_level_counts, 4);
    if (n < 2) return krn_err_levels;  // only a damaged record gets here
    return krn_ok;
}

// Counts of vectors whose lanes were sent to bin 0 as a stand-in for "not counted", taken back at
// the end. Lane counters are folded well before they could overflow.
struct stand_ins {
    vi fast_lanes{};  // minus the number of lanes counted for real, per lane
    int64_t lanes_sent = 0;
    int64_t real = 0;
    int pending = 0;
    void add(vi fast) {
        fast_lanes += fast;
        lanes_sent += lanes;
        if (++pending == (1 << 20)) fold();
    }
    void fold() {
        for (int j = 0; j < lanes; ++j) real -= fast_lanes[j];
        fast_lanes = vi{};
        pending = 0;
    }
    // What bin 0 received that it should not have.
    uint32_t excess() {
        fold();
        return uint32_t(lanes_sent - real);
    }
};

// The scatter is the bound: unrolled, with the indices read back in pairs to halve the loads.
inline void count_lanes(uint32_t* counts, vi index) {
    uint64_t pairs[lanes / 2];
    std::memcpy(pairs, &index, sizeof pairs);
#pragma GCC unroll 8
    for (int j = 0; j < lanes / 2; ++j) {
        ++counts[uint32_t(pairs[j])];
        ++counts[uint32_t(pairs[j] >> 32)];
    }
}

// ---- 32-bit float ----------------------------------------------------------------------------

// Largest k < bins with L[k] <= v, for non-decreasing levels and L[0] <= v < L[bins].
inline int search_bin(const float* L, int bins, float v) {
    int lo = 0, hi = bins;
    while (hi - lo > 1) {
        const int mid = lo + (hi - lo) / 2;
        if (L[mid] <= v)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

enum class float_method { estimate, search, literal };

// The estimate t = (v - L[0]) * scale is taken in fixed point, q = floor((v - L[0]) * scale * 2^shift)
// with the scale and its power of two rounded once: the bin floor(t) is q >> shift and the
// fraction's bits are q's low bits.
struct float_plan {
    const float* L;
    int bins;
    float lo, hi, scale;
    int shift;
    int32_t clear_from, clear_width;  // fractions in [from, from + width) are at least m from an edge
    float_method method;
};

using vd = double __attribute__((vector_size(vector_bytes)));
using vhalf = float __attribute__((vector_size(vector_bytes / 2)));
constexpr int dlanes = lanes / 2;

// Levels in order: no NaN, none falling.
bool levels_ordered(const float* L, int bins) {
    int k = 0;
    vi falling{};
    for (; k + lanes <= bins; k += lanes)
        falling |= ~(load<vf>(L + k) <= load<vf>(L + k + 1));
    if (lane_bits(falling)) return false;
    for (; k < bins; ++k)
        if (!(L[k] <= L[k + 1])) return false;
    return true;
}

// The levels' largest distance from the evenly spaced line, in bins: the same value at every
// level, since each term is computed alike and the maximum is exact.
double levels_stray(const float* L, int bins, double lo, double scale) {
    vd top{}, index{};
    for (int j = 0; j < dlanes; ++j) index[j] = j;
    int k = 0;
    for (; k + dlanes <= bins + 1; k += dlanes, index += dlanes) {
        vd d = (__builtin_convertvector(load<vhalf>(L + k), vd) - lo) * scale - index;
        d = d < 0 ? -d : d;
        top = top < d ? d : top;
    }
    double stray = 0;
    for (int j = 0; j < dlanes; ++j) stray = std::max(stray, top[j]);
    for (; k <= bins; ++k) stray = std::max(stray, std::fabs((double(L[k]) - lo) * scale - k));
    return stray;
}

float_plan plan_floats(levels<float> lv) {
    float_plan p{lv.at, lv.bins, lv.at[0], lv.at[lv.bins], 0.0f, 0, 0, 0, float_method::literal};
    if (!levels_ordered(lv.at, lv.bins)) return p;  // a NaN or falling level: apply the definition as is
    p.method = float_method::search;
    const double span = double(p.hi) - double(p.lo);
    if (!(span <= FLT_MAX) || lv.bins > (1 << 17)) return p;
    const double scale = lv.bins / span;
    // Three roundings of the float estimate (difference, scale, product), relative 2^-24 each, on
    // a value at most bins; twice that bound, plus slack for the double arithmetic of the stray.
    const double margin = levels_stray(lv.at, lv.bins, p.lo, scale) + 6.0 * (lv.bins + 1) * 0x1p-24 + 0x1p-20;
    if (margin > 0.25) return p;
    // (bins + 1) * 2^shift <= 2^30 keeps q inside int32 (t stays below bins + m).
    int shift = 0;
    while ((int64_t{lv.bins} + 1) << (shift + 1) <= (int64_t{1} << 30)) ++shift;
    const double one = std::ldexp(1.0, shift);
    p.scale = float(scale * one);
    if (!(p.scale >= FLT_MIN && p.scale <= FLT_MAX)) return p;  // the bound needs a normal scale
    p.shift = shift;
    p.clear_from = int32_t(std::ceil(margin * one));
    p.clear_width = int32_t(std::floor((1.0 - margin) * one)) - p.clear_from;
    p.method = float_method::estimate;
    return p;
}

inline bool in_range(const float_plan& p, float v) { return v >= p.lo && v < p.hi; }

// The definition applied literally, for levels that are not in order.
inline int literal_bin(const float_plan& p, float v) {
    for (int k = p.bins - 1; k >= 0; --k)
        if (p.L[k] <= v) return k;
    return -1;
}

// Where the counts go while samples are counted: up to four interleaved copies on the stack,
// so a run of samples in one bin does not wait on its own stores, plus a bin for skipped samples;
// or, for bin counts too large for the stack, the counts themselves with bin 0 standing in for
// the skipped samples (taken back at the end).
struct tally {
    static constexpr int room = 8192;
    uint32_t local[room];
    uint32_t* copy[4];
    int copies;
    int32_t trash;
    int64_t sent = 0;  // samples sent to the trash bin
    bool direct;

    tally(uint32_t* counts, int bins) : copies(bins < 1024 ? 4 : bins < 2048 ? 2 : bins < room ? 1 : 0) {
        direct = copies == 0;
        if (direct) {
            trash = 0;
            for (auto& c : copy) c = counts;
            return;
        }
        trash = bins;
        const int stride = bins + 1;
        std::memset(local, 0, sizeof(uint32_t) * size_t(copies) * size_t(stride));
        for (int j = 0; j < 4; ++j) copy[j] = local + (j % copies) * stride;
    }
    // Adds the copies into the counts, which hold any counts of other methods.
    void finish(uint32_t* counts, int bins) {
        if (direct) {
            counts[0] -= uint32_t(sent);
            return;
        }
        int k = 0;
        for (; k + lanes <= bins; k += lanes) {
            vi sum = load<vi>(counts + k);
            for (int c = 0; c < copies; ++c) sum += load<vi>(copy[c] + k);
            std::memcpy(counts + k, &sum, sizeof sum);
        }
        for (; k < bins; ++k)
            for (int c = 0; c < copies; ++c) counts[k] += copy[c][k];
    }
};

void count_floats_scalar(const float_plan& p, const float* src, int64_t n, uint32_t* counts) {
    for (int64_t i = 0; i < n; ++i) {
        const float v = load(src + i);
        if (!in_range(p, v)) continue;
        const int k = p.method == float_method::literal ? literal_bin(p, v) : search_bin(p.L, p.bins, v);
        if (k >= 0) ++counts[k];
    }
}

// The bin of an in-range sample whose estimate lies within m of an edge: with e the nearest
// integer to t, the bin is e - 1 or e, told apart by one comparison.
inline uint32_t bin_near_edge(const float_plan& p, float v) {
    const int32_t q = int32_t((v - p.lo) * p.scale);  // the vector lane's value, computed alike
    const int32_t e = std::clamp<int32_t>((q >> p.shift) + ((q >> (p.shift - 1)) & 1), 0, p.bins);
    return uint32_t(e - 1 + (v >= p.L[e]));
}

// Bins of a block of samples (a multiple of the lanes) into index; skipped samples get the bin
// trash. Returns how many they were.
int estimate_bins(const float_plan& p, const float* src, int n, int32_t trash, uint32_t* index) {
    int skipped = 0;
#if QOR_LEVEL >= 5
    const __m512 lo = _mm512_set1_ps(p.lo), hi = _mm512_set1_ps(p.hi), scale = _mm512_set1_ps(p.scale);
    const __m512i from = _mm512_set1_epi32(p.clear_from), width = _mm512_set1_epi32(p.clear_width);
    const __m512i frac_mask = _mm512_set1_epi32((1 << p.shift) - 1), dump = _mm512_set1_epi32(trash);
    const __m512i q_end = _mm512_set1_epi32(int32_t(uint32_t(p.bins) << p.shift));
    const __m512i shift = _mm512_set1_epi32(p.shift);
    for (int i = 0; i < n; i += lanes) {
        const __m512 v = _mm512_loadu_ps(src + i);
        const __mmask16 in = _mm512_mask_cmp_ps_mask(_mm512_cmp_ps_mask(v, lo, _CMP_GE_OQ), v, hi, _CMP_LT_OQ);
        const __m512i q = _mm512_maskz_cvttps_epi32(in, _mm512_mul_ps(_mm512_sub_ps(v, lo), scale));
        const __m512i frac = _mm512_and_si512(q, frac_mask);
        const __mmask16 fast = _mm512_mask_cmplt_epu32_mask(_mm512_mask_cmplt_epu32_mask(in, q, q_end),
                                                            _mm512_sub_epi32(frac, from), width);
        _mm512_storeu_si512(index + i, _mm512_mask_srlv_epi32(dump, fast, q, shift));
        if (unsigned near = _kandn_mask16(fast, in)) {
            do {
                const int j = __builtin_ctz(near);
                index[i + j] = bin_near_edge(p, load(src + i + j));
                near &= near - 1;
            } while (near);
        }
        skipped += lanes - __builtin_popcount(in);
    }
#else
    const vf lo = vf{} + p.lo, hi = vf{} + p.hi, scale = vf{} + p.scale;
    const vi from = vi{} + p.clear_from, frac_mask = vi{} + ((1 << p.shift) - 1), dump = vi{} + trash;
    const vu width = vu{} + uint32_t(p.clear_width), q_end = vu{} + (uint32_t(p.bins) << p.shift);
    for (int i = 0; i < n; i += lanes) {
        const vf v = load<vf>(src + i);
        const vi in = (v >= lo) & (v < hi);
        const vi q = __builtin_convertvector((vf)((vi)((v - lo) * scale) & in), vi);  // skipped lanes: 0
        const vi fast = in & ((vu)((q & frac_mask) - from) < width) & ((vu)q < q_end);
        const vi bin = fast ? q >> p.shift : dump;
        std::memcpy(index + i, &bin, sizeof bin);
        if (unsigned near = lane_bits(in & ~fast)) {
            do {
                const int j = __builtin_ctz(near);
                index[i + j] = bin_near_edge(p, load(src + i + j));
                near &= near - 1;
            } while (near);
        }
        skipped += lanes - __builtin_popcount(lane_bits(in));
    }
#endif
    return skipped;
}

// Counts the samples in blocks: bins into a small buffer, then counted across the copies. Short
// blocks keep the array streaming in while the counts are updated.
void count_floats_estimated(const float_plan& p, const float* src, int64_t n, tally& t) {
    constexpr int block = 256;
    uint32_t index[block];
    int64_t i = 0;
    while (i + lanes <= n) {
        const int m = int(std::min<int64_t>(block, (n - i) / lanes * lanes));
        t.sent += estimate_bins(p, src + i, m, t.trash, index);
        uint32_t *c0 = t.copy[0], *c1 = t.copy[1], *c2 = t.copy[2], *c3 = t.copy[3];
        for (int j = 0; j < m; j += 4) {
            ++c0[index[j]];
            ++c1[index[j + 1]];
            ++c2[index[j + 2]];
            ++c3[index[j + 3]];
        }
        i += m;
    }
    count_floats_scalar(p, src + i, n - i, t.copy[0]);
}

// ---- 16-bit signed -----------------------------------------------------------------------------

// Equal bins of width w from L[0]: bin (v - L[0]) / w.
void count_divided_scalar(const int16_t* src, int64_t n, int64_t first, int64_t last, int64_t width, uint32_t* counts) {
    for (int64_t i = 0; i < n; ++i) {
        const int64_t v = load(src + i);
        if (v >= first && v < last) ++counts[(v - first) / width];
    }
}

// The same with a float reciprocal: differences and widths below 2^21 keep every product exact and
// the estimate within one of the quotient, which the two comparisons correct.
void count_divided_vector(const int16_t* src, int64_t n, int32_t first, int32_t last, int32_t width, uint32_t* counts) {
    const vi lo = vi{} + first, hi = vi{} + last;
    const vf w = vf{} + float(width), reciprocal = vf{} + 1.0f / float(width);
    stand_ins sent;
    int64_t i = 0;
    for (; i + lanes <= n; i += lanes) {
        const vi v = __builtin_convertvector(load<vs>(src + i), vi);
        const vi in = (v >= lo) & (v < hi);
        const vf x = __builtin_convertvector((v - lo) & in, vf);
        vi q = __builtin_convertvector(x * reciprocal, vi);
        q += (__builtin_convertvector(q, vf) * w > x);  // a true comparison is -1
        q -= (__builtin_convertvector(q + 1, vf) * w <= x);
        count_lanes(counts, q & in);
        sent.add(in);
    }
    counts[0] -= sent.excess();
    count_divided_scalar(src + i, n - i, first, last, width, counts);
}

// Counters indexed by the signed sample from the table's middle: the index needs no arithmetic.
void count_table(const int16_t* src, int64_t n, uint16_t* table) {
    uint16_t* middle = table + 32768;
    int64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const int16_t a = load(src + i), b = load(src + i + 1), c = load(src + i + 2), d = load(src + i + 3);
        ++middle[a];
        ++middle[b];
        ++middle[c];
        ++middle[d];
    }
    for (; i < n; ++i) ++middle[load(src + i)];
}

// The largest of the 65,536 counters.
inline int64_t largest_counter(const uint16_t* table) {
    using vw = uint16_t __attribute__((vector_size(vector_bytes)));
    constexpr int wide = vector_bytes / 2;
    vw top{};
    for (int v = 0; v < hist::table_counters; v += wide) {
        const vw x = load<vw>(table + v);
        top = top < x ? x : top;
    }
    uint16_t largest = 0;
    for (int j = 0; j < wide; ++j) largest = std::max(largest, top[j]);
    return largest;
}

// Sum of table[from .. to).
inline uint32_t sum_counters(const uint16_t* table, int64_t from, int64_t to) {
    using vh = uint16_t __attribute__((vector_size(vector_bytes / 2)));
    vu acc{};
    int64_t v = from;
    for (; v + lanes <= to; v += lanes)
        acc += __builtin_convertvector(load<vh>(table + v), vu);
    uint32_t sum = 0;
    if (to - from >= lanes)
        for (int j = 0; j < lanes; ++j) sum += acc[j];
    for (; v < to; ++v) sum += table[v];
    return sum;
}

inline int64_t clamp_level(int32_t level) { return std::clamp<int64_t>(level, -32768, 32768); }

}  // namespace

int krn_histogram_32f(const float* src, int srcStep, krn_size roi, uint32_t* counts, const uint8_t* spec,
                      uint8_t* /*work*/) {
    if (int st = check_counting_args(src, srcStep, roi, counts, spec)) return st;
    const float_plan plan = plan_floats(read_levels<float>(spec));
    std::memset(counts, 0, sizeof(uint32_t) * size_t(plan.bins));
    if (plan.method != float_method::estimate) {
        for_each_run(src, srcStep, roi, [&](const float* p, int64_t n) { count_floats_scalar(plan, p, n, counts); });
        return krn_ok;
    }
    tally t(counts, plan.bins);
    for_each_run(src, srcStep, roi, [&](const float* p, int64_t n) { count_floats_estimated(plan, p, n, t); });
    t.finish(counts, plan.bins);
    return krn_ok;
}

int krn_histogram_16s(const int16_t* src, int srcStep, krn_size roi, uint32_t* counts, const uint8_t* spec,
                      uint8_t* work) {
    if (!work) return krn_err_null;
    if (int st = check_counting_args(src, srcStep, roi, counts, spec)) return st;
    const levels<int32_t> lv = read_levels<int32_t>(spec);
    std::memset(counts, 0, sizeof(uint32_t) * size_t(lv.bins));
    const int64_t first = lv.at[0], last = lv.at[lv.bins];
    const int64_t span = last - first;
    if (span % lv.bins == 0 && int64_t{roi.width} * roi.height < hist::table_counters) {
        const int64_t width = span / lv.bins;
        if (width == 0) return krn_ok;  // L[0] == L[nBins]: no sample lies in between
        const bool exact_in_float = first >= -(1 << 20) && first <= (1 << 20) && width <= (1 << 20);
        for_each_run(src, srcStep, roi, [&](const int16_t* p, int64_t n) {
            if (exact_in_float)
                count_divided_vector(p, n, int32_t(first), int32_t(last), int32_t(width), counts);
            else
                count_divided_scalar(p, n, first, last, width, counts);
        });
        return krn_ok;
    }
    // 16-bit counters: half the table, twice as likely to be in the nearest cache. A cleared table
    // can take 65,536 samples: a counter wraps only if all are one value (to 0, every other
    // counter 0), which is mended by hand. Later the largest counter tells the room left, and
    // only when that is small are the counters added into the bins and cleared.
    auto* table = reinterpret_cast<uint16_t*>(work);
    auto clear = [&] { std::memset(table, 0, sizeof *table * hist::table_counters); };
    auto add_to_bins = [&] {
        for (int k = 0; k < lv.bins; ++k)
            counts[k] += sum_counters(table, clamp_level(lv.at[k]) + 32768, clamp_level(lv.at[k + 1]) + 32768);
    };
    constexpr int64_t cleared = 65536, least = 4096;
    int64_t room = cleared;
    bool fresh = true;
    int32_t last_value = 0;  // the last sample counted
    // A full fresh table that wrapped: its one value gets its 65,536 samples, and the table is clear.
    auto mended = [&] {
        if (!fresh || room != 0 || table[last_value + 32768] != 0) return false;
        for (int k = 0; k < lv.bins; ++k)
            if (clamp_level(lv.at[k]) <= last_value && last_value < clamp_level(lv.at[k + 1]))
                counts[k] += uint32_t{1} << 16;
        room = cleared;
        return true;
    };
    auto make_room = [&] {
        if (mended()) return;
        fresh = false;
        room = 65535 - largest_counter(table);
        if (room < least) {
            add_to_bins();
            clear();
            room = cleared, fresh = true;
        }
    };
    clear();
    for_each_run(src, srcStep, roi, [&](const int16_t* p, int64_t n) {
        while (n > 0) {
            if (room == 0) make_room();
            const int64_t part = std::min(n, room);
            count_table(p, part, table);
            last_value = load(p + part - 1);
            p += part, n -= part, room -= part;
        }
    });
    mended();
    add_to_bins();
    return krn_ok;
}

}  // namespace qor::krn::QOR_LEVEL_NS
