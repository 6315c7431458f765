#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/levels.hpp"

using namespace qor::krn;

// Every length around the vector widths, with values that must round (beyond 2^24) and the
// extremes; the conversion is the nearest float, as a plain cast under the default rounding.
TEST(Convert32s, NearestFloatAtEveryLevelAndLength) {
    std::vector<int32_t> in;
    for (int32_t v : {0, 1, -1, 16777216, 16777217, -16777219, 16777219, 33554435, INT_MAX, INT_MIN, 123456789, -7})
        in.push_back(v);
    for (int i = 0; in.size() < 45; ++i) in.push_back(int32_t(uint32_t(i) * 2654435761u));
    qor::test::for_each_supported_level([&](int level) {
        for (int len = 1; len <= int(in.size()); ++len) {
            std::vector<float> out(in.size() + 1, -5.0f);
            ASSERT_EQ(krn_convert_32s_32f_variant(level)(in.data(), out.data(), len), krn_ok);
            for (int i = 0; i < len; ++i) ASSERT_EQ(out[size_t(i)], float(in[size_t(i)])) << len << " " << i;
            EXPECT_EQ(out[size_t(len)], -5.0f);
        }
        float f;
        EXPECT_EQ(krn_convert_32s_32f_variant(level)(nullptr, &f, 0), krn_err_null);
        EXPECT_EQ(krn_convert_32s_32f_variant(level)(in.data(), nullptr, 1), krn_err_null);
        EXPECT_EQ(krn_convert_32s_32f_variant(level)(in.data(), &f, 0), krn_err_size);
    });
}
