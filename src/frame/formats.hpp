// Element formats: byte sizes and the kernel layer's type codes.
#pragma once
#include <cstdint>

#include "qor_lib.h"

namespace qor::frame {

// Formats 10 to 15, and any number outside 0..15, have byte size 0, like qor_fmt_none.
constexpr uint8_t format_bytes(qor_data_format format) {
    constexpr uint8_t table[16] = {0, 1, 2, 2, 4, 4, 4, 8, 8, 8, 0, 0, 0, 0, 0, 0};
    const auto index = static_cast<uint32_t>(format);
    return index < 16 ? table[index] : 0;
}

// The number by which the histogram kernels name an element type; 0 for no format.
constexpr int kernel_type_code(qor_data_format format) {
    constexpr int table[10] = {0, 1, 5, 7, 13, 9, 11, 19, 15, 17};
    const auto index = static_cast<uint32_t>(format);
    return index < 10 ? table[index] : 0;
}

}  // namespace qor::frame
