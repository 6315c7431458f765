// The four-lane ramp accumulation, shared by the ramp kernels and the fused means of the fits.
// Included inside a level's namespace after simd.hpp, and after <cstring>, <cstdint> and <algorithm>.
#pragma once

// A ramp block of 16 values lives in native registers: four, two or one of them.
constexpr int ramp_reg_lanes = simd::lanes<float>;
constexpr int ramp_regs = 16 / ramp_reg_lanes;
typedef float vn __attribute__((vector_size(4 * ramp_reg_lanes)));
struct block16 {
    vn r[ramp_regs];
};

// The ramp b + i s as accumulated for a destination `head` elements short of a 16-byte boundary:
// a scalar head in four lanes, blocks of 16 elements from four running lane vectors, then a scalar
// tail continuing lane 0. Every addition is one rounded single-precision operation. The stream is
// resumable: emit() continues where the previous call stopped, so a consumer can take the ramp
// chunk by chunk and get the values one whole-array pass would write.
class ramp_stream {
public:
    ramp_stream(int64_t n, float b, float s, int64_t head)
        : b_(b), s_(s), p_{0.0f * s, 1.0f * s, 2.0f * s, 3.0f * s}, head_(std::min(head, n)), rest_(n - head_) {}

    // The number of scalar head elements before dst reaches a 16-byte boundary (all of n when the
    // address is not a multiple of the element size, so it never gets there).
    template <class T>
    static int64_t head_of(const T* dst, int64_t n) {
        const auto a = reinterpret_cast<uintptr_t>(dst);
        if (a % sizeof(T) != 0) return (a & 15) != 0 ? n : 0;
        return std::min<int64_t>(n, int64_t((16 - (a & 15)) & 15) / int64_t(sizeof(T)));
    }

    // The next count values, to put(p, value) one at a time and put_block(p, block16) sixteen.
    template <class T, class Put, class PutBlock>
    void emit(T* dst, int64_t count, Put put, PutBlock put_block) {
        for (; count > 0 && head_ > 0; --count, --head_) {
            put(dst++, p_[0] + b_);
            for (float& lane : p_) lane += s_;
        }
        if (count == 0) return;
        if (!started_) start_body();
        while (count > 0 && blocks_ > 0) {
            if (pos_ == 0 && count >= 16) {
                // Whole blocks, with the running lanes in registers.
                const int64_t run = std::min(blocks_, count / 16);
                block16 v = v_;
                for (int64_t k = 0; k < run; ++k, dst += 16) {
                    put_block(dst, v);
                    for (vn& r : v.r) r += step_;
                }
                v_ = v;
                count -= 16 * run;
                blocks_ -= run;
                if (blocks_ == 0) next_ = v_.r[0][0];
                continue;
            }
            float block[16];
            std::memcpy(block, v_.r, sizeof block);
            const int take = int(std::min<int64_t>(16 - pos_, count));
            for (int k = 0; k < take; ++k) put(dst++, block[pos_ + k]);
            count -= take;
            pos_ += take;
            if (pos_ == 16) {
                pos_ = 0;
                next_block();
            }
        }
        for (; count > 0; --count) {
            put(dst++, next_);
            next_ += s_;
        }
    }

private:
    void start_body() {
        started_ = true;
        next_ = p_[0] + b_;
        if (rest_ < 16) return;
        float d = s_ + s_;
        d = d + d;
        float e = d + d;
        e = e + e;
        float first[16];
        for (int j = 0; j < 4; ++j) {
            for (int k = 0; k < 4; ++k) first[4 * j + k] = p_[k] + b_;
            if (j < 3)
                for (float& lane : p_) lane += d;
        }
        std::memcpy(v_.r, first, sizeof first);
        for (int i = 0; i < ramp_reg_lanes; ++i) step_[i] = e;  // a broadcast, not 0 + e (-0 stays)
        blocks_ = rest_ / 16;
    }
    void next_block() {
        for (vn& r : v_.r) r += step_;
        if (--blocks_ == 0) next_ = v_.r[0][0];
    }

    float b_, s_;
    float p_[4];
    int64_t head_, rest_;
    bool started_ = false;
    int64_t blocks_ = 0;
    int pos_ = 0;
    block16 v_{};
    vn step_{};
    float next_ = 0.0f;
};

// The whole ramp of n values into dst.
template <class T, class Put, class PutBlock>
void ramp_accumulate(T* dst, int64_t n, float b, float s, Put put, PutBlock put_block) {
    ramp_stream(n, b, s, ramp_stream::head_of(dst, n)).emit(dst, n, put, put_block);
}
