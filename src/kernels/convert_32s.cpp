// Signed 32-bit integers to single precision, rounded to nearest: the integer samples of the
// Gaussian fit take this road before their logarithm.
#include <cstdint>
#include <cstring>

#include "kernels/level.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::QOR_LEVEL_NS {
namespace {

#if QOR_LEVEL >= 5
constexpr int lanes = 16;
#elif QOR_LEVEL >= 3
constexpr int lanes = 8;
#else
constexpr int lanes = 4;
#endif
typedef int32_t vi __attribute__((vector_size(4 * lanes)));
typedef float vf __attribute__((vector_size(4 * lanes)));

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
