#include <atomic>
#include <cstring>
#include <new>
#include <unordered_map>

#include "frame/formats.hpp"
#include "frame/platform.hpp"
#include "kernels/kernels.hpp"
#include "qor_lib.h"

namespace {

using qor::frame::format_bytes;

// Buffers that operator= made two or more arrays claim, with the number of extra claims. Each
// release by a claimant drops one claim; the last one frees the buffer. The table is almost
// always empty, so ordinary releases see one relaxed load and no lock.
class shared_claims {
public:
    bool add_claim(void* buffer) noexcept {
        guard g(lock_);
        try {
            ++extra_[buffer];
        } catch (const std::bad_alloc&) {
            return false;
        }
        entries_.store(extra_.size(), std::memory_order_release);
        return true;
    }
    // True when the caller was the last claimant and must free the buffer.
    bool drop_claim(void* buffer) noexcept {
        if (entries_.load(std::memory_order_acquire) == 0) return true;
        guard g(lock_);
        auto it = extra_.find(buffer);
        if (it == extra_.end()) return true;
        if (--it->second == 0) extra_.erase(it);
        entries_.store(extra_.size(), std::memory_order_release);
        return false;
    }

private:
    struct guard {
        explicit guard(std::atomic_flag& f) : flag(f) {
            while (flag.test_and_set(std::memory_order_acquire)) {
            }
        }
        ~guard() { flag.clear(std::memory_order_release); }
        std::atomic_flag& flag;
    };
    std::atomic_flag lock_;
    std::atomic<size_t> entries_{0};
    std::unordered_map<void*, int> extra_;
};

// Never destroyed: arrays with static storage may still release buffers after it would be.
shared_claims& claims() {
    alignas(shared_claims) static unsigned char storage[sizeof(shared_claims)];
    static shared_claims* instance = new (storage) shared_claims;
    return *instance;
}

// Byte count of an array, or -1 when bytes x size does not fit in 64 bits.
int64_t byte_count(int64_t size, qor_data_format format) {
    int64_t n;
    return __builtin_mul_overflow(size, int64_t{format_bytes(format)}, &n) ? -1 : n;
}

// Element formats whose single elements set_value and get_value move.
int element_move_bytes(qor_data_format format) {
    switch (format) {
    case qor_fmt_8u: return 1;
    case qor_fmt_16u:
    case qor_fmt_16s: return 2;
    case qor_fmt_32f: return 4;
    default: return 0;
    }
}

}  // namespace

ary::ary() noexcept { clear_default(); }

ary::~ary() { destroy(); }

ary& ary::operator=(const ary& other) noexcept {
    if (this == &other) return *this;
    std::memcpy(static_cast<void*>(this), &other, sizeof(ary));
    // Both arrays now claim the buffer; if the claim cannot be recorded, this copy only borrows.
    if (state == 1 && frame_buf && !claims().add_claim(frame_buf)) state = 2;
    return *this;
}

void ary::clear_default() noexcept {
    size = 0;
    data_type = qor_fmt_none;
    valid_bits = 0;
    frame_buf = nullptr;
    state = 0;
}

void ary::release_owned() noexcept {
    if (state == 1 && frame_buf && claims().drop_claim(frame_buf)) qor::krn::krn_aligned_free(frame_buf);
}

void ary::destroy() noexcept {
    release_owned();
    clear_default();
}

qor_status ary::init(int64_t new_size, qor_data_format format) noexcept {
    data_type = format;
    return init(new_size, format, static_cast<uint16_t>(8 * format_bytes(format)));
}

qor_status ary::init(int64_t new_size, qor_data_format format, uint16_t new_valid_bits) noexcept {
    if (state != 0) destroy();
    data_type = format;
    if (new_valid_bits > 8 * format_bytes(format)) return qor_err_valid_bits;
    valid_bits = new_valid_bits;
    size = new_size;
    const int64_t bytes = byte_count(new_size, format);
    void* buffer = bytes > 0 ? qor::krn::krn_aligned_malloc(bytes) : nullptr;
    if (!buffer) {
        clear_default();
        return qor_err_alloc;
    }
    frame_buf = buffer;
    clear_data();
    state = 1;
    return qor_ok;
}

qor_status ary::init_ext(qor_info* info) noexcept {
    if (state != 0) destroy();
    if (!info) {
        clear_default();
        qor::frame::report_invalid_parameter();
    } else {
        std::memcpy(static_cast<void*>(this), info, sizeof(qor_info));
    }
    state = 2;
    return qor_ok;
}

void ary::get_info(qor_info* info) const noexcept {
    if (!info) {
        qor::frame::report_invalid_parameter();
        return;
    }
    std::memcpy(info, static_cast<const void*>(this), sizeof(qor_info));
}

void ary::clear_data() noexcept {
    int64_t remaining = byte_count(size, data_type);
    auto* p = static_cast<uint8_t*>(frame_buf);
    // The fill kernel takes a signed 32-bit length: walk the buffer in pieces of at most 2^31 - 1.
    while (remaining > 0) {
        const int piece = remaining > INT32_MAX ? INT32_MAX : static_cast<int>(remaining);
        qor::krn::krn_set_8u(0, p, piece);
        p += piece;
        remaining -= piece;
    }
}

namespace qor::frame {

qor_status init_scratch(ary& a, int64_t size, qor_data_format format) noexcept {
    const int64_t bytes = byte_count(size, format);
    void* buffer = a.state == 0 && bytes > 0 ? krn::krn_aligned_malloc(bytes) : nullptr;
    if (!buffer) return a.init(size, format);  // the same outcome as init's, failure included
    a.size = size;
    a.data_type = format;
    a.valid_bits = static_cast<uint16_t>(8 * format_bytes(format));
    a.frame_buf = buffer;
    a.state = 1;
    return qor_ok;
}

}  // namespace qor::frame

uint8_t ary::get_data_bytes() const noexcept { return format_bytes(data_type); }

qor_status ary::set_value(int index, void* value) noexcept {
    const int n = element_move_bytes(data_type);
    if (n == 0) return qor_err_format;
    std::memcpy(static_cast<uint8_t*>(frame_buf) + int64_t{index} * n, value, size_t(n));
    return qor_ok;
}

qor_status ary::get_value(int index, void* value) const noexcept {
    const int n = element_move_bytes(data_type);
    if (n == 0) return qor_err_format;
    std::memcpy(value, static_cast<const uint8_t*>(frame_buf) + int64_t{index} * n, size_t(n));
    return qor_ok;
}

qor_status ary::is_valid() const noexcept { return state != 0 ? qor_ok : qor_err_invalid; }
int64_t ary::get_size() const noexcept { return size; }
uint16_t ary::get_valid_bits() const noexcept { return valid_bits; }
qor_data_format ary::get_data_type() const noexcept { return data_type; }
void* ary::get_frame_buf() const noexcept { return frame_buf; }
