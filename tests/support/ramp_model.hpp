// Scalar model of the four-lane ramp accumulation: element by element, the sums each lane
// accumulates, for a destination whose first `head` elements precede the 16-byte boundary.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace qor::test {

inline std::vector<float> ramp_model(int64_t n, int64_t head, float b, float s) {
    std::vector<float> out;
    float lane[4] = {0 * s, 1 * s, 2 * s, 3 * s};
    head = std::min(head, n);
    for (int64_t i = 0; i < head; ++i) {
        out.push_back(lane[0] + b);
        for (float& l : lane) l = l + s;
    }
    int64_t rest = n - head;
    float next = lane[0] + b;
    if (rest >= 16) {
        const float four = (s + s) + (s + s);
        const float sixteen = (four + four) + (four + four);
        float block[16];
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k) {
                float v = lane[k];
                for (int r = 0; r < j; ++r) v = v + four;
                block[4 * j + k] = v + b;
            }
        for (; rest >= 16; rest -= 16) {
            for (float& v : block) {
                out.push_back(v);
                v = v + sixteen;
            }
        }
        next = block[0];
    }
    for (; rest > 0; --rest) {
        out.push_back(next);
        next = next + s;
    }
    return out;
}

// The head length of a destination: elements before the first 16-byte boundary.
template <class T>
int64_t ramp_head(const T* p) {
    const auto misalign = reinterpret_cast<uintptr_t>(p) % 16;
    return misalign ? int64_t((16 - misalign) / sizeof(T)) : 0;
}

}  // namespace qor::test
