// Signed 32-bit integers to single precision, rounded to nearest: the integer samples of the
// Gaussian fit take this road before their logarithm.
#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "kernels/level.hpp"
#include "kernels/runtime/cpu.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::QOR_LEVEL_NS {

#include "kernels/simd.hpp"

namespace {

using vf = simd::vec<float>;
constexpr int lanes = simd::lanes<float>;
using vi = simd::vec_of<int32_t, sizeof(vf)>;  // as wide as the floats (AVX converts at 32 bytes)

}  // namespace

int krn_convert_32s_32f(const int32_t* src, float* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    int i = 0;
    for (; i + lanes <= len; i += lanes) {
        vi x;
        std::memcpy(&x, src + i, sizeof x);
        const vf y = __builtin_convertvector(x, vf);
        std::memcpy(dst + i, &y, sizeof y);
    }
    for (; i < len; ++i) dst[i] = float(src[i]);
    return krn_ok;
}

}  // namespace qor::krn::QOR_LEVEL_NS
