#include "fuzz/operations.hpp"

#include <array>
#include <cstdlib>

namespace qor::fuzz {
namespace {

using H = const qor_handle*;

// Float parameters, drawn in order.
template <size_t N>
std::array<float, N> reals(input& in) {
    std::array<float, N> r;
    for (float& v : r) v = in.real();
    return r;
}

// Failure statuses of an element-wise operation on arrays of one format and length, and of the
// operations whose kernels may refuse, on one array and on two.
#define ELEMENTWISE {-1, -2, -4, -5}
#define ONE_ARRAY {-1, -5, -8}
#define TWO_ARRAYS {-1, -2, -4, -5, -8}

const operation operations[] = {
    {"qor_div", 3, [](H h, input&) { return qor_div(h[0], h[1], h[2]); }, ELEMENTWISE},
    {"qor_divI", 2, [](H h, input&) { return qor_divI(h[0], h[1]); }, ELEMENTWISE},
    {"qor_square", 2, [](H h, input&) { return qor_square(h[0], h[1]); }, ELEMENTWISE},
    {"qor_sub_array", 2,
     [](H h, input& in) {
         const int64_t offset = in.length(), count = in.length();
         return qor_sub_array(h[0], h[1], offset, count);
     },
     {-1, -2, -4, -5, -7}},
    {"qor_min_max", 1,
     [](H h, input& in) {
         auto r = reals<2>(in);
         return qor_min_max(h[0], &r[0], &r[1]);
     },
     {-1, -5}},
    {"qor_convert", 2, [](H h, input&) { return qor_convert(h[0], h[1]); }, {-1, -2, -5}},
    {"qor_ln", 2, [](H h, input&) { return qor_ln(h[0], h[1]); }, ELEMENTWISE},
    {"qor_lnI", 1, [](H h, input&) { return qor_lnI(h[0]); }, ELEMENTWISE},
    {"qor_log1p", 2, [](H h, input&) { return qor_log1p(h[0], h[1]); }, ELEMENTWISE},
    {"qor_log10", 2, [](H h, input&) { return qor_log10(h[0], h[1]); }, ELEMENTWISE},
    {"qor_scaleC", 2, [](H h, input& in) { auto r = reals<2>(in); return qor_scaleC(h[0], h[1], r[0], r[1]); },
     ELEMENTWISE},
    {"qor_scaleCI", 1, [](H h, input& in) { auto r = reals<2>(in); return qor_scaleCI(h[0], r[0], r[1]); },
     ELEMENTWISE},
    {"qor_gaussian_rand", 1,
     [](H h, input& in) {
         auto r = reals<2>(in);
         return qor_gaussian_rand(h[0], r[0], r[1], uint32_t(in.word()) * 65599u);
     },
     ONE_ARRAY},
    {"qor_sin_plot", 1, [](H h, input& in) { auto r = reals<4>(in); return qor_sin_plot(h[0], r[0], r[1], r[2], r[3]); },
     ONE_ARRAY},
    {"qor_quadratic_plot", 1,
     [](H h, input& in) { auto r = reals<5>(in); return qor_quadratic_plot(h[0], r[0], r[1], r[2], r[3], r[4]); },
     ONE_ARRAY},
    {"qor_gaussian_plot", 1,
     [](H h, input& in) { auto r = reals<5>(in); return qor_gaussian_plot(h[0], r[0], r[1], r[2], r[3], r[4]); },
     ONE_ARRAY},
    {"qor_vector_slope", 1, [](H h, input& in) { auto r = reals<2>(in); return qor_vector_slope(h[0], r[0], r[1]); },
     {-1, -5}},
    {"qor_vector_tone", 1, [](H h, input& in) { auto r = reals<3>(in); return qor_vector_tone(h[0], r[0], r[1], r[2]); },
     {-1, -5}},
    {"qor_dft_fwd", 2, [](H h, input&) { return qor_dft_fwd(h[0], h[1]); }, TWO_ARRAYS},
    {"qor_dft_fwdI", 1, [](H h, input&) { return qor_dft_fwdI(h[0]); }, ONE_ARRAY},
    {"qor_histogram", 1,
     [](H h, input& in) {
         // The counts go into a guarded buffer of exactly nBins entries.
         const int32_t bins = int32_t(in.byte() % 40) - 2;
         const auto r = reals<2>(in);
         constexpr uint32_t guard = 0xC0FFEE11u;
         uint32_t counts[48];
         for (uint32_t& c : counts) c = guard;
         const qor_status st = qor_histogram(h[0], counts + 4, bins, r[0], r[1]);
         const int used = bins > 0 ? bins : 0;
         for (int i = 0; i < 4; ++i)
             if (counts[i] != guard || counts[4 + used + i] != guard) std::abort();
         return st;
     },
     ONE_ARRAY},
    {"qor_test_rand", 1, [](H h, input& in) { auto r = reals<3>(in); return qor_test_rand(h[0], r[0], r[1], r[2]); },
     ONE_ARRAY},
    {"qor_quadratic_fit", 2, [](H h, input&) { return qor_quadratic_fit(h[0], h[1]); }, TWO_ARRAYS},
    {"qor_gaussian_fit", 1,
     [](H h, input& in) {
         const auto r = reals<2>(in);
         float out[3];
         return qor_gaussian_fit(h[0], r[0], r[1], &out[0], &out[1], &out[2]);
     },
     TWO_ARRAYS},
    {"qor_sum", 1, [](H h, input&) { return qor_sum(h[0]); }, {}},
    {"qor_get_data_byte", 1, [](H h, input&) { uint8_t b; return qor_get_data_byte(h[0], &b); }, {}},
};

}  // namespace

const operation& pick_operation(uint8_t selector) {
    return operations[selector % (sizeof operations / sizeof operations[0])];
}

}  // namespace qor::fuzz
