// Accuracy sweeps of (src, dst, len) kernels whose results do not depend on the level: every level
// the host supports gives the baseline's bits, so one measurement against a reference covers all.
#pragma once
#include <gtest/gtest.h>

#include <immintrin.h>
#include <optional>
#include <vector>

#include "support/elementwise.hpp"
#include "support/levels.hpp"

namespace qor::test {

// Runs variant(level) over `in` at every supported level and returns the baseline's results; each
// level must give their bits, and the status if one is given. With `caller`, the kernels run under
// that control word, which must come back exactly.
template <class T, class U>
std::vector<U> same_bits_at_every_level(int (*(*variant)(int))(const T*, U*, int), const std::vector<T>& in,
                                        std::optional<int> status = {}, unsigned caller = 0) {
    std::vector<U> first, out(in.size());
    for_each_supported_level([&](int level) {
        const unsigned saved = _mm_getcsr();
        if (caller) _mm_setcsr(caller);
        const int st = variant(level)(in.data(), out.data(), int(in.size()));
        const unsigned after = _mm_getcsr();
        _mm_setcsr(saved);
        EXPECT_TRUE(!caller || after == caller) << std::hex << after;
        EXPECT_TRUE(!status || st == *status) << "status " << st;
        if (level == 0) first = out;
        for (size_t i = 0; i < in.size(); ++i)
            ASSERT_TRUE(same_bits(out[i], first[i])) << std::hexfloat << "input " << in[i] << ": " << out[i];
    });
    return first;
}

}  // namespace qor::test
