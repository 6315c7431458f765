#include "fuzz/operations.hpp"

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
