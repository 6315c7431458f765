#include "support/export_catalogue.hpp"

#include <cstring>

namespace qor::test {

qor_handle export_fixture::make(qor_data_format format, int64_t size) {
    qor_handle h = -1;
    qor_create_array(&h);
    owned_.push_back(h);
    if (format != qor_fmt_none) qor_init_array(h, size, format);
    void* buf = nullptr;
    qor_get_buf(h, &buf);
    for (int64_t i = 0; buf && i < size; ++i) {
        const double v = 1.0 + double(i % 11) * 0.75;  // positive, never zero
        switch (format) {
        case qor_fmt_32f: static_cast<float*>(buf)[i] = float(v); break;
        case qor_fmt_64f: static_cast<double*>(buf)[i] = v; break;
        case qor_fmt_16u: static_cast<uint16_t*>(buf)[i] = uint16_t(1 + i % 200); break;
        case qor_fmt_16s: static_cast<int16_t*>(buf)[i] = int16_t(i % 2 ? 1 + i : -1 - i); break;
        case qor_fmt_8u: static_cast<uint8_t*>(buf)[i] = uint8_t(1 + i); break;
        default: break;
        }
    }
    return h;
}

export_fixture::export_fixture() {
    f32a = make(qor_fmt_32f, n);
    f32b = make(qor_fmt_32f, n);
    f32c = make(qor_fmt_32f, n);
    f64a = make(qor_fmt_64f, n);
    f64b = make(qor_fmt_64f, n);
    f64c = make(qor_fmt_64f, n);
    u16a = make(qor_fmt_16u, n);
    u16b = make(qor_fmt_16u, n);
    s16a = make(qor_fmt_16s, n);
    u8a = make(qor_fmt_8u, n);
    f32_short = make(qor_fmt_32f, n - 5);
    empty = make(qor_fmt_none, 0);
    freed = make(qor_fmt_none, 0);
    qor_destroy_array(freed);
}

export_fixture::~export_fixture() {
    for (qor_handle h : owned_) qor_destroy_array(h);
}

std::vector<export_case> export_cases() {
    using F = export_fixture;
    std::vector<export_case> c;
    auto add = [&c](std::string name, std::function<qor_status(F&)> call, qor_status expected,
                    std::string report = {}) { c.push_back({std::move(name), std::move(call), expected, std::move(report)}); };
    const std::string warn_div_zero = "KRN function failed,return value 2.\n";

    // Lifecycle.
    add("create+destroy", [](F&) { qor_handle h; qor_create_array(&h); return qor_destroy_array(h); }, qor_ok);
    add("destroy freed", [](F& f) { return qor_destroy_array(f.freed); }, qor_err_invalid);
    add("destroy beyond", [](F&) { return qor_destroy_array(F::beyond); }, qor_err_handle);
    add("init", [](F& f) { return qor_init_array(f.empty, 8, qor_fmt_64f); }, qor_ok);
    add("init size 0", [](F& f) { return qor_init_array(f.empty, 0, qor_fmt_64f); }, qor_err_alloc);
    add("init_ex", [](F& f) {
        static float host[4];
        qor_info info{4, qor_fmt_32f, 32, host};
        return qor_init_array_ex(f.empty, &info);
    }, qor_ok);
    add("get_info", [](F& f) { qor_info i; return qor_get_info(f.f32a, &i); }, qor_ok);
    add("get_buf", [](F& f) { void* p; return qor_get_buf(f.f64a, &p); }, qor_ok);
    add("get_data_byte", [](F& f) { uint8_t b; return qor_get_data_byte(f.u16a, &b); }, qor_ok);
    add("sum", [](F& f) { return qor_sum(f.u8a); }, qor_ok);

    // Division.
    add("div 32f", [](F& f) { return qor_div(f.f32a, f.f32b, f.f32c); }, qor_ok);
    add("divI 32f", [](F& f) { return qor_divI(f.f32a, f.f32b); }, qor_ok);
    add("div by zero", [](F& f) {
        void* p;
        qor_get_buf(f.f64a, &p);
        static_cast<double*>(p)[3] = 0.0;
        return qor_div(f.f64a, f.f64b, f.f64c);
    }, qor_ok, warn_div_zero);
    add("div mismatch", [](F& f) { return qor_div(f.f32a, f.f64b, f.f32c); }, qor_err_format_mismatch);

    // Square, sub-array copy, extrema.
    add("square 16u", [](F& f) { return qor_square(f.u16a, f.u16b); }, qor_ok);
    add("square 64f", [](F& f) { return qor_square(f.f64a, f.f64b); }, qor_ok);
    add("square format", [](F& f) { return qor_square(f.u8a, f.u8a); }, qor_err_format);
    add("sub_array", [](F& f) { return qor_sub_array(f.f32a, f.f32_short, 3, 20); }, qor_ok);
    add("sub_array range", [](F& f) { return qor_sub_array(f.f32a, f.f32b, 30, 20); }, qor_err_range);
    add("min_max 32f", [](F& f) { float lo = 1e30f, hi = -1e30f; return qor_min_max(f.f32a, &lo, &hi); }, qor_ok);

    // Conversion.
    add("convert 16u->32f", [](F& f) { return qor_convert(f.u16a, f.f32a); }, qor_ok);
    add("convert 32f->16u", [](F& f) { return qor_convert(f.f32a, f.u16a); }, qor_ok);
    add("convert length", [](F& f) { return qor_convert(f.u16a, f.f32_short); }, qor_err_length);
    // Logarithms (the fixture holds positive values: no warnings).
    add("ln 32f", [](F& f) { return qor_ln(f.f32a, f.f32b); }, qor_ok);
    add("lnI 64f", [](F& f) { return qor_lnI(f.f64a); }, qor_ok);
    add("log1p 64f", [](F& f) { return qor_log1p(f.f64a, f.f64b); }, qor_ok);
    add("log10 32f", [](F& f) { return qor_log10(f.f32a, f.f32b); }, qor_ok);
    add("ln of zero", [](F& f) {
        void* p;
        qor_get_buf(f.f32a, &p);
        static_cast<float*>(p)[2] = 0.0f;
        return qor_ln(f.f32a, f.f32b);
    }, qor_ok, "KRN function failed,return value 7.\n");

    // Scaling.
    add("scaleC 32f", [](F& f) { return qor_scaleC(f.f32a, f.f32b, 2.5f, -1.0f); }, qor_ok);
    add("scaleC 16u", [](F& f) { return qor_scaleC(f.u16a, f.u16b, 3.0f, 7.0f); }, qor_ok);
    add("scaleCI 64f", [](F& f) { return qor_scaleCI(f.f64a, 0.1f, 0.0f); }, qor_ok);

    // Generators.
    add("gaussian_rand 32f", [](F& f) { return qor_gaussian_rand(f.f32a, 0.0f, 1.0f, 12345); }, qor_ok);
    add("gaussian_rand 16s", [](F& f) { return qor_gaussian_rand(f.s16a, 100.0f, 20.0f, 7); }, qor_ok);
    add("sin_plot", [](F& f) { return qor_sin_plot(f.f32a, 0.05f, 2.0f, 0.5f, 30.0f); }, qor_ok);
    add("quadratic_plot", [](F& f) { return qor_quadratic_plot(f.f32a, 0.5f, -1.0f, 2.0f, -3.0f, 0.25f); }, qor_ok);
    add("gaussian_plot", [](F& f) { return qor_gaussian_plot(f.f32a, 18.0f, 5.0f, 2.0f, 0.0f, 1.0f); }, qor_ok);
    add("vector_slope 32f", [](F& f) { return qor_vector_slope(f.f32a, 1.0f, 0.5f); }, qor_ok);
    add("vector_tone 64f", [](F& f) { return qor_vector_tone(f.f64a, 2.0f, 0.1f, 0.5f); }, qor_ok);
    add("vector_tone 16s", [](F& f) { return qor_vector_tone(f.s16a, 1000.0f, 0.2f, 0.0f); }, qor_ok);

    // Test signal and fits (the fixture's 32f arrays are long enough for the fits).
    add("test_rand", [](F& f) { return qor_test_rand(f.f32a, 0.5f, -3.0f, 10.0f); }, qor_ok);
    add("quadratic_fit", [](F& f) {
        qor_test_rand(f.f32a, 0.5f, -3.0f, 10.0f);
        return qor_quadratic_fit(f.f32a, f.f32b);
    }, qor_ok);
    add("gaussian_fit", [](F& f) {
        qor_gaussian_plot(f.f32a, 18.0f, 5.0f, 2.0f, 0.0f, 1.0f);
        float c, s, a;
        return qor_gaussian_fit(f.f32a, 0.0f, 1.0f, &c, &s, &a);
    }, qor_ok);

    // Spectrum and histogram.
    add("dft_fwd 32f", [](F& f) { return qor_dft_fwd(f.f32a, f.f32b); }, qor_ok);
    add("dft_fwdI 64f", [](F& f) { return qor_dft_fwdI(f.f64a); }, qor_ok);
    static uint32_t counts[10];
    add("histogram 32f", [](F& f) { return qor_histogram(f.f32a, counts, 10, 0.0f, 10.0f); }, qor_ok);
    add("histogram 16s", [](F& f) { return qor_histogram(f.s16a, counts, 4, -40.0f, 40.0f); }, qor_ok);
    return c;
}

}  // namespace qor::test
