#include "fuzz/operations.hpp"

#include <cstdlib>

namespace qor::fuzz {
namespace {

// Failure statuses of an element-wise operation on arrays of one format and length.
#define ELEMENTWISE {-1, -2, -4, -5}

const operation operations[] = {
    {"qor_div", 3, [](const qor_handle* h, input&) { return qor_div(h[0], h[1], h[2]); }, ELEMENTWISE},
    {"qor_divI", 2, [](const qor_handle* h, input&) { return qor_divI(h[0], h[1]); }, ELEMENTWISE},
    {"qor_square", 2, [](const qor_handle* h, input&) { return qor_square(h[0], h[1]); }, ELEMENTWISE},
    {"qor_sub_array", 2,
     [](const qor_handle* h, input& in) { return qor_sub_array(h[0], h[1], in.length(), in.length()); },
     {-1, -2, -4, -5, -7}},
    {"qor_min_max", 1,
     [](const qor_handle* h, input& in) {
         float lo = in.real(), hi = in.real();
         return qor_min_max(h[0], &lo, &hi);
     },
     {-1, -5}},
    {"qor_convert", 2, [](const qor_handle* h, input&) { return qor_convert(h[0], h[1]); }, {-1, -2, -5}},
    {"qor_ln", 2, [](const qor_handle* h, input&) { return qor_ln(h[0], h[1]); }, ELEMENTWISE},
    {"qor_lnI", 1, [](const qor_handle* h, input&) { return qor_lnI(h[0]); }, ELEMENTWISE},
    {"qor_log1p", 2, [](const qor_handle* h, input&) { return qor_log1p(h[0], h[1]); }, ELEMENTWISE},
    {"qor_log10", 2, [](const qor_handle* h, input&) { return qor_log10(h[0], h[1]); }, ELEMENTWISE},
    {"qor_scaleC", 2,
     [](const qor_handle* h, input& in) {
         const float factor = in.real(), offset = in.real();
         return qor_scaleC(h[0], h[1], factor, offset);
     },
     ELEMENTWISE},
    {"qor_scaleCI", 1,
     [](const qor_handle* h, input& in) {
         const float factor = in.real(), offset = in.real();
         return qor_scaleCI(h[0], factor, offset);
     },
     ELEMENTWISE},
    {"qor_gaussian_rand", 1,
     [](const qor_handle* h, input& in) {
         const float mean = in.real(), stdev = in.real();
         return qor_gaussian_rand(h[0], mean, stdev, uint32_t(in.word()) * 65599u);
     },
     {-1, -5, -8}},
    {"qor_sin_plot", 1,
     [](const qor_handle* h, input& in) {
         const float f = in.real(), a = in.real(), o = in.real(), p = in.real();
         return qor_sin_plot(h[0], f, a, o, p);
     },
     {-1, -5, -8}},
    {"qor_quadratic_plot", 1,
     [](const qor_handle* h, input& in) {
         const float a = in.real(), b = in.real(), c = in.real(), x0 = in.real(), dx = in.real();
         return qor_quadratic_plot(h[0], a, b, c, x0, dx);
     },
     {-1, -5, -8}},
    {"qor_gaussian_plot", 1,
     [](const qor_handle* h, input& in) {
         const float c = in.real(), w = in.real(), ht = in.real(), x0 = in.real(), dx = in.real();
         return qor_gaussian_plot(h[0], c, w, ht, x0, dx);
     },
     {-1, -5, -8}},
    {"qor_vector_slope", 1,
     [](const qor_handle* h, input& in) {
         const float offset = in.real(), slope = in.real();
         return qor_vector_slope(h[0], offset, slope);
     },
     {-1, -5}},
    {"qor_vector_tone", 1,
     [](const qor_handle* h, input& in) {
         const float m = in.real(), f = in.real(), p = in.real();
         return qor_vector_tone(h[0], m, f, p);
     },
     {-1, -5}},
    {"qor_dft_fwd", 2, [](const qor_handle* h, input&) { return qor_dft_fwd(h[0], h[1]); }, {-1, -2, -4, -5, -8}},
    {"qor_dft_fwdI", 1, [](const qor_handle* h, input&) { return qor_dft_fwdI(h[0]); }, {-1, -5, -8}},
    {"qor_histogram", 1,
     [](const qor_handle* h, input& in) {
         // The counts go into a guarded buffer of exactly nBins entries.
         const int32_t bins = int32_t(in.byte() % 40) - 2;
         const float lower = in.real(), upper = in.real();
         constexpr uint32_t guard = 0xC0FFEE11u;
         uint32_t counts[48];
         for (uint32_t& c : counts) c = guard;
         const qor_status st = qor_histogram(h[0], counts + 4, bins, lower, upper);
         const int used = bins > 0 ? bins : 0;
         for (int i = 0; i < 4; ++i)
             if (counts[i] != guard || counts[4 + used + i] != guard) std::abort();
         return st;
     },
     {-1, -5, -8}},
    {"qor_test_rand", 1,
     [](const qor_handle* h, input& in) {
         const float a = in.real(), b = in.real(), c = in.real();
         return qor_test_rand(h[0], a, b, c);
     },
     {-1, -5, -8}},
    {"qor_quadratic_fit", 2, [](const qor_handle* h, input&) { return qor_quadratic_fit(h[0], h[1]); },
     {-1, -2, -4, -5, -8}},
    {"qor_gaussian_fit", 1,
     [](const qor_handle* h, input& in) {
         const float x0 = in.real(), dx = in.real();
         float out[3];
         return qor_gaussian_fit(h[0], x0, dx, &out[0], &out[1], &out[2]);
     },
     {-1, -2, -4, -5, -8}},
    {"qor_sum", 1, [](const qor_handle* h, input&) { return qor_sum(h[0]); }, {}},
    {"qor_get_data_byte", 1,
     [](const qor_handle* h, input&) {
         uint8_t b;
         return qor_get_data_byte(h[0], &b);
     },
     {}},
};

}  // namespace

const operation& pick_operation(uint8_t selector) {
    return operations[selector % (sizeof operations / sizeof operations[0])];
}

}  // namespace qor::fuzz
