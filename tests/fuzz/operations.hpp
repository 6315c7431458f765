// The fuzzer's decoding of its input and its table of operations: how each export's arguments
// are drawn and which statuses it may return.
#pragma once
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>

#include "qor_lib.h"

namespace qor::fuzz {

class input {
public:
    input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool done() const { return pos_ >= size_; }
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t word() { return uint16_t(byte() | (byte() << 8)); }
    // Element counts: mostly small, sometimes a few thousand, sometimes zero or negative.
    int64_t length() {
        const uint8_t kind = byte();
        if (kind < 160) return kind % 70;
        if (kind < 230) return word() % 4096;
        if (kind < 245) return -int64_t(byte());
        return 0;
    }
    // Float parameters: ordinary values, signed zeros, infinities, NaN, huge and tiny.
    float real() {
        static constexpr float pool[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 3.0f, -2.5f, 100.0f, 65535.0f, 70000.0f,
                                         1e-7f, 1e-40f, 1e30f, -1e30f, 3.4e38f, 1e10f};
        const uint8_t k = byte();
        if (k < 16) return pool[k];
        if (k < 20) return std::numeric_limits<float>::infinity() * (k & 1 ? -1.0f : 1.0f);
        if (k < 24) return std::numeric_limits<float>::quiet_NaN();
        return float(int(k) - 140) / 8.0f;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

inline uint8_t format_bytes(qor_data_format f) {
    static constexpr uint8_t table[16] = {0, 1, 2, 2, 4, 4, 4, 8, 8, 8, 0, 0, 0, 0, 0, 0};
    return uint32_t(f) < 16 ? table[f] : 0;
}

struct operation {
    const char* name;
    int handles;
    qor_status (*call)(const qor_handle* h, input& in);
    std::initializer_list<int> statuses;  // besides 0 and the handle statuses -6 and -32
    bool may_return(qor_status st) const {
        if (st == qor_ok || st == qor_err_handle || st == qor_err_invalid) return true;
        for (int s : statuses)
            if (s == st) return true;
        return false;
    }
};

const operation& pick_operation(uint8_t selector);
std::string take_output();

}  // namespace qor::fuzz
