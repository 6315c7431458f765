#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "ops/logs.hpp"
#include "support/capture.hpp"
#include "support/levels.hpp"

using qor::test::stdout_of;

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float qnan = std::numeric_limits<float>::quiet_NaN();

// A registered array with the given values (or just a length and format).
struct handle_array {
    qor_handle h = -1;
    handle_array(int64_t n, qor_data_format fmt) {
        EXPECT_EQ(qor_create_array(&h), qor_ok);
        if (n > 0) {
            EXPECT_EQ(qor_init_array(h, n, fmt), qor_ok);
        } else {  // an empty array that holds data can only be lent
            static double lent[1];
            qor_info info{n, fmt, 8, lent};
            EXPECT_EQ(qor_init_array_ex(h, &info), qor_ok);
        }
    }
    template <class T>
    explicit handle_array(std::vector<T> v) : handle_array(int64_t(v.size()), sizeof(T) == 4 ? qor_fmt_32f : qor_fmt_64f) {
        std::memcpy(data<T>(), v.data(), v.size() * sizeof(T));
    }
    ~handle_array() { qor_destroy_array(h); }
    template <class T>
    T* data() const {
        void* p = nullptr;
        qor_get_buf(h, &p);
        return static_cast<T*>(p);
    }
};

template <class T>
std::vector<uint64_t> bits_of(const T* p, size_t n) {
    std::vector<uint64_t> out;
    for (size_t i = 0; i < n; ++i) {
        uint64_t b = 0;
        std::memcpy(&b, p + i, sizeof(T));
        out.push_back(b);
    }
    return out;
}

std::string line(int status) { return "KRN function failed,return value " + std::to_string(status) + ".\n"; }

}  // namespace

TEST(LogOps, WarningsArePrintedAndPassedOver) {
    {
        handle_array a(std::vector<float>{1.0f, 0.0f, -1.0f}), b(3, qor_fmt_32f);
        qor_status st = -1;
        EXPECT_EQ(stdout_of([&] { st = qor_ln(a.h, b.h); }), line(8));
        EXPECT_EQ(st, qor_ok);
        EXPECT_EQ(b.data<float>()[0], 0.0f);
        EXPECT_EQ(b.data<float>()[1], -inf);
        EXPECT_EQ(std::bit_cast<uint32_t>(b.data<float>()[2]), 0xFFC00000u);
    }
    const struct {
        std::vector<float> in;
        qor_status (*op)(qor_handle, qor_handle);
        std::string printed;
    } rows[] = {
        {{-1.0f, 0.0f}, qor_ln, line(7)},
        {{-0.0f}, qor_ln, line(7)},
        {{qnan}, qor_ln, ""},
        {{100.0f, 0.0f}, qor_log10, line(18)},
        {{-1.0f, -2.0f}, qor_log1p, line(19)},
        {{-2.0f, -1.0f}, qor_log1p, line(18)},
    };
    for (const auto& r : rows) {
        handle_array a(r.in), b(int64_t(r.in.size()), qor_fmt_32f);
        qor_status st = -1;
        EXPECT_EQ(stdout_of([&] { st = r.op(a.h, b.h); }), r.printed);
        EXPECT_EQ(st, qor_ok);
    }
    handle_array a(std::vector<float>{100.0f, 0.0f}), b(2, qor_fmt_32f);
    stdout_of([&] { qor_log10(a.h, b.h); });
    EXPECT_EQ(b.data<float>()[0], 1.9999993f);
}

TEST(LogOps, ChecksInTheLibraryOrder) {
    handle_array f32(4, qor_fmt_32f), f64(4, qor_fmt_64f), shorter(3, qor_fmt_32f), u16(1, qor_fmt_16u),
        u16_empty(0, qor_fmt_16u), f32_empty(0, qor_fmt_32f);
    qor_handle blank;
    ASSERT_EQ(qor_create_array(&blank), qor_ok);
    for (auto op : {qor_ln, qor_log1p, qor_log10}) {
        EXPECT_EQ(op(-1, f32.h), qor_err_handle);
        EXPECT_EQ(op(f32.h, 100000), qor_err_handle);
        EXPECT_EQ(op(blank, f32.h), qor_err_invalid);
        EXPECT_EQ(op(f32.h, blank), qor_err_invalid);
        EXPECT_EQ(op(f32.h, f64.h), qor_err_format_mismatch);
        EXPECT_EQ(op(shorter.h, f64.h), qor_err_format_mismatch);
        EXPECT_EQ(op(f32.h, shorter.h), qor_err_length);
        EXPECT_EQ(op(u16_empty.h, u16_empty.h), qor_ok);
        EXPECT_EQ(op(u16.h, u16.h), qor_err_format);
    }
    EXPECT_EQ(qor_lnI(-3), qor_err_handle);
    EXPECT_EQ(qor_lnI(blank), qor_err_invalid);
    EXPECT_EQ(qor_lnI(u16_empty.h), qor_ok);
    EXPECT_EQ(qor_lnI(u16.h), qor_err_format);
    EXPECT_EQ(qor_lnI(f32_empty.h), qor_ok);
    qor_destroy_array(blank);
    EXPECT_EQ(qor_lnI(blank), qor_err_invalid);
}

// With a small chunk limit: one report line per chunk that warned, and the same results as one
// call over the whole array, at every level.
TEST(LogOps, OneReportPerWarningChunk) {
    std::vector<double> in(10, 2.5);
    in[1] = 0.0;  // chunk 0: singularity
    in[9] = -4;   // chunk 2: domain
    ary src, dst, whole;
    ASSERT_EQ(src.init(10, qor_fmt_64f), qor_ok);
    ASSERT_EQ(dst.init(10, qor_fmt_64f), qor_ok);
    ASSERT_EQ(whole.init(10, qor_fmt_64f), qor_ok);
    std::memcpy(src.frame_buf, in.data(), sizeof(double) * 10);
    qor::test::for_each_supported_level([&](int level) {
        const qor::ops::log_kernels ln{qor::krn::krn_ln_32f_variant(level), qor::krn::krn_ln_64f_variant(level)};
        qor_status st = -1;
        EXPECT_EQ(stdout_of([&] { st = qor::ops::log_worker(src, dst, ln, 4); }), line(7) + line(8));
        EXPECT_EQ(st, qor_ok);
        stdout_of([&] { qor::ops::log_worker(src, whole, ln, 100); });
        EXPECT_EQ(std::memcmp(dst.frame_buf, whole.frame_buf, 80), 0);

        const qor::ops::log_kernels l10{qor::krn::krn_log10_32f_variant(level), qor::krn::krn_log10_64f_variant(level)};
        EXPECT_EQ(stdout_of([&] { qor::ops::log_worker(src, dst, l10, 3); }), line(18) + line(19));

        std::memcpy(dst.frame_buf, in.data(), sizeof(double) * 10);
        const qor::ops::log_inplace_kernels ip{qor::krn::krn_ln_32f_ip_variant(level), qor::krn::krn_ln_64f_ip_variant(level)};
        EXPECT_EQ(stdout_of([&] { qor::ops::ln_inplace_worker(dst, 5, ip); }), line(7) + line(8));
        EXPECT_EQ(std::memcmp(dst.frame_buf, whole.frame_buf, 80), 0);
    });
}

// qor_ln(a, a) is qor_lnI(a), specials included.
TEST(LogOps, AliasedDestinationEqualsInPlace) {
    std::vector<float> f;
    std::vector<double> d;
    for (int i = 0; i < 37; ++i) {
        f.push_back(std::ldexp(1.0f + float(i) / 37, i - 18));
        d.push_back(std::ldexp(1.0 + double(i) / 37, 3 * i - 50));
    }
    f[5] = -0.0f, f[11] = -3, f[20] = qnan, f[33] = 0x1p-130f;
    d[2] = 0.0, d[36] = -std::numeric_limits<double>::infinity();
    handle_array fa(f), fb(f), da(d), db(d);
    stdout_of([&] {
        EXPECT_EQ(qor_ln(fa.h, fa.h), qor_ok);
        EXPECT_EQ(qor_lnI(fb.h), qor_ok);
        EXPECT_EQ(qor_ln(da.h, da.h), qor_ok);
        EXPECT_EQ(qor_lnI(db.h), qor_ok);
    });
    EXPECT_EQ(bits_of(fa.data<float>(), f.size()), bits_of(fb.data<float>(), f.size()));
    EXPECT_EQ(bits_of(da.data<double>(), d.size()), bits_of(db.data<double>(), d.size()));
}
