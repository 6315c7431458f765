// Ramps and tones. Both generate a deterministic signal without evaluating its formula per
// element: the ramps accumulate in four single-precision lanes, the tones run recurrences between
// exactly computed cosines. The ramps' rounding is fixed, so every level writes the same bits.
#include <cstdint>
#include <cstring>

#include "kernels/level.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::QOR_LEVEL_NS {
namespace {

typedef float v16f __attribute__((vector_size(64)));
typedef int32_t v16i __attribute__((vector_size(64)));
typedef uint16_t v16u16 __attribute__((vector_size(32)));

// The four-lane accumulation: a scalar head up to a 16-byte boundary, blocks of 16 elements from
// four running lane vectors, then a scalar tail continuing lane 0. put(p, v) stores one value,
// put_block(p, V) sixteen. Every addition is one rounded single-precision operation.
template <class T, class Put, class PutBlock>
void ramp_accumulate(T* dst, int64_t n, float b, float s, Put put, PutBlock put_block) {
    float p[4] = {0.0f * s, 1.0f * s, 2.0f * s, 3.0f * s};
    while ((reinterpret_cast<uintptr_t>(dst) & 15) != 0 && n > 0) {
        put(dst++, p[0] + b);
        for (float& lane : p) lane += s;
        --n;
    }
    float next = p[0] + b;
    if (n >= 16) {
        float d = s + s;
        d = d + d;
        float e = d + d;
        e = e + e;
        v16f v;
        for (int j = 0; j < 4; ++j) {
            for (int k = 0; k < 4; ++k) v[4 * j + k] = p[k] + b;
            if (j < 3)
                for (float& lane : p) lane += d;
        }
        v16f step;  // a broadcast, not 0 + e, which would lose the sign of -0
        for (int i = 0; i < 16; ++i) step[i] = e;
        for (; n >= 16; n -= 16, dst += 16) {
            put_block(dst, v);
            v += step;
        }
        next = v[0];
    }
    for (; n > 0; --n) {
        put(dst++, next);
        next += s;
    }
}

// A ramp value shifted by -32768, rounded to nearest even and limited to the signed 16-bit range,
// then shifted back: 0 .. 65535. NaN is limited to the bottom. The magic constant rounds exactly
// for every value in range.
constexpr float round_magic = 12582912.0f;  // 1.5 * 2^23

inline uint16_t shifted_to_16u(float v) {
    v = v >= -32768.0f ? v : -32768.0f;
    v = v <= 32767.0f ? v : 32767.0f;
    v = (v + round_magic) - round_magic;
    return uint16_t(int32_t(v) + 32768);
}

inline void shifted_block_to_16u(uint16_t* dst, v16f v) {
    const v16f lo = v16f{} - 32768.0f, hi = v16f{} + 32767.0f;
    v = v >= lo ? v : lo;
    v = v <= hi ? v : hi;
    v = (v + round_magic) - round_magic;
    const v16i i = __builtin_convertvector(v, v16i) + 32768;
    const v16u16 u = __builtin_convertvector(i, v16u16);
    std::memcpy(dst, &u, sizeof u);
}

// Elements the ramp leaves at its saturated ends: 0x0000 or 0xFFFF, filled in bulk.
inline void fill_16u(uint16_t* dst, int64_t n, bool top) {
    if (n > 0) std::memset(dst, top ? 0xFF : 0x00, size_t(n) * sizeof(uint16_t));
}

// How many leading elements an index bound t covers: 0 below 0 (and for NaN), 2^31 - 1 above 2^31.
inline int64_t count_of(float t) {
    if (t > 2147483648.0f) return 2147483647;
    if (!(t >= 0.0f)) return 0;
    return int64_t(t);
}

}  // namespace

int krn_vector_slope_32f(float* dst, int len, float offset, float slope) {
    if (!dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    ramp_accumulate(
        dst, len, offset, slope, [](float* p, float v) { *p = v; },
        [](float* p, const v16f& v) { std::memcpy(p, &v, sizeof v); });
    return krn_ok;
}

int krn_vector_slope_16u(uint16_t* dst, int len, float offset, float slope) {
    if (!dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (slope == 0.0f) {
        // Halves round away from zero here: offset + 0.5 truncated.
        uint16_t v = 0;
        if (offset > 0.0f) {
            float t = offset + 0.5f;
            t = t < 65535.0f ? t : 65535.0f;
            v = uint16_t(int32_t(t));
        }
        if (v == 0 || v == 0xFFFF) {
            fill_16u(dst, len, v != 0);
        } else {
            for (int i = 0; i < len; ++i) dst[i] = v;
        }
        return krn_ok;
    }
    // Indices where the ramp leaves 0 .. 65535.
    const float r = 1.0f / slope;
    const float t0 = (-offset) * r + 1.0f;
    const float t1 = (65535.0f - offset) * r + 1.0f;
    int64_t end = len, lead;
    if (slope > 0.0f) {
        if (t1 >= 0.0f && t1 <= 2147483648.0f) {
            const int64_t h = int64_t(t1);
            if (h >= 1 && h <= len - 1) {
                fill_16u(dst + h, len - h, true);
                end = h;
            }
        }
        lead = count_of(t0) < end ? count_of(t0) : end;
        fill_16u(dst, lead, false);
    } else {
        const int64_t h = count_of(t0);
        if (h >= 1 && h <= len - 1) {
            fill_16u(dst + h, len - h, false);
            end = h;
        }
        lead = count_of(t1) < end ? count_of(t1) : end;
        fill_16u(dst, lead, true);
    }
    if (end > lead) {
        const float b = (offset + float(lead) * slope) - 32768.0f;
        ramp_accumulate(
            dst + lead, end - lead, b, slope, [](uint16_t* p, float v) { *p = shifted_to_16u(v); },
            [](uint16_t* p, const v16f& v) { shifted_block_to_16u(p, v); });
    }
    return krn_ok;
}

}  // namespace qor::krn::QOR_LEVEL_NS
