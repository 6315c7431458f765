/* A tour of qor_lib from a C host: one short section per group of operations, on small arrays
 * whose numbers can be checked by eye. */
#include <math.h>
#include <stdio.h>

#include "qor_lib.h"

static const char* format_name(qor_data_format f) {
    static const char* names[] = {"none", "8u", "16u", "16s", "32f", "32u", "32s", "64f", "64u", "64s"};
    return (unsigned)f < 10 ? names[f] : "?";
}

static void section(const char* title) { printf("\n== %s\n", title); }

/* An array borrowing the host's buffer: the library reads and writes the host's memory. */
static qor_handle lend(void* buf, int64_t n, qor_data_format f) {
    static const uint16_t bits[] = {0, 8, 16, 16, 32, 32, 32, 64, 64, 64};
    qor_info info;
    qor_handle h = -1;
    info.size = n;
    info.data_type = f;
    info.valid_bits = bits[f];
    info.frame_buf = buf;
    if (qor_create_array(&h) != qor_ok || qor_init_array_ex(h, &info) != qor_ok) printf("cannot lend a buffer\n");
    return h;
}

static void show_f32(const char* label, const float* v, int n) {
    printf("  %-28s", label);
    for (int i = 0; i < n; ++i) printf(" %9.4g", v[i]);
    printf("\n");
}

static void show_u(const char* label, const void* v, int n, int bytes) {
    printf("  %-28s", label);
    for (int i = 0; i < n; ++i) printf(" %6u", bytes == 1 ? ((const uint8_t*)v)[i] : ((const uint16_t*)v)[i]);
    printf("\n");
}

static void show_status(const char* label, qor_status st) { printf("  %-28s status %d\n", label, st); }

static void describe(const char* what, qor_handle h) {
    qor_info info;
    uint8_t bytes = 0;
    qor_status st = qor_get_info(h, &info);
    if (st != qor_ok) {
        printf("  %-28s handle %d: status %d\n", what, h, st);
        return;
    }
    qor_get_data_byte(h, &bytes);
    printf("  %-28s handle %d: %lld x %s (%u bytes, %u valid bits)%s\n", what, h, (long long)info.size,
           format_name(info.data_type), bytes, info.valid_bits,
           info.frame_buf && ((uintptr_t)info.frame_buf & 63) == 0 ? ", 64-byte aligned" : "");
}

static void arrays(void) {
    static double host_samples[256];
    qor_handle owned, lent, spare;
    section("Arrays: handles, owned and borrowed buffers");
    qor_create_array(&owned);
    qor_create_array(&spare);
    describe("created, not initialised", owned);
    qor_init_array(owned, 1000, qor_fmt_32f);
    describe("owned, zero-filled", owned);
    lent = lend(host_samples, 256, qor_fmt_64f);
    describe("borrowing the host's buffer", lent);
    show_status("16u array of 0 elements", qor_init_array(spare, 0, qor_fmt_16u));
    show_status("a handle never made", qor_destroy_array(77));
    qor_destroy_array(spare);
    qor_destroy_array(lent);
    qor_destroy_array(owned);
    show_status("destroyed twice", qor_destroy_array(owned));
}

static void division(void) {
    float num[5] = {1, -6, 2.5f, 7, 0}, den[5] = {4, 3, 0, -0.0f, 0}, quo[5];
    qor_handle a = lend(den, 5, qor_fmt_32f), b = lend(num, 5, qor_fmt_32f), c = lend(quo, 5, qor_fmt_32f);
    section("Division: c = b / a (a zero divisor only warns)");
    show_f32("b", num, 5);
    show_f32("a", den, 5);
    show_status("qor_div(a, b, c)", qor_div(a, b, c));
    show_f32("c", quo, 5);
    qor_destroy_array(c);
    qor_destroy_array(b);
    qor_destroy_array(a);
}

static void square_copy_extrema(void) {
    float x[6] = {-3, 0.5f, 2, NAN, 10, -0.25f}, sq[6], part[3];
    uint16_t u[4] = {3, 255, 256, 1000}, usq[4];
    float lo = INFINITY, hi = -INFINITY;
    qor_handle hx = lend(x, 6, qor_fmt_32f), hs = lend(sq, 6, qor_fmt_32f), hp = lend(part, 3, qor_fmt_32f);
    qor_handle hu = lend(u, 4, qor_fmt_16u), hus = lend(usq, 4, qor_fmt_16u);
    section("Square, sub-array copy and extrema");
    show_f32("x", x, 6);
    qor_square(hx, hs);
    show_f32("x^2", sq, 6);
    qor_square(hu, hus);
    show_u("16u u", u, 4, 2);
    show_u("u^2 (saturated)", usq, 4, 2);
    qor_sub_array(hx, hp, 2, 3);
    show_f32("x[2..4]", part, 3);
    show_status("x[5..7] (out of range)", qor_sub_array(hx, hp, 5, 3));
    qor_min_max(hx, &lo, &hi);
    printf("  %-28s min %g, max %g (NaN ignored)\n", "extrema of x", lo, hi);
    qor_destroy_array(hus);
    qor_destroy_array(hu);
    qor_destroy_array(hp);
    qor_destroy_array(hs);
    qor_destroy_array(hx);
}

static void conversion(void) {
    float f[6] = {-2, 0.99f, 1.5f, 300.7f, 70000, NAN};
    uint16_t u[6];
    uint8_t b[6];
    int16_t s[6] = {-300, -1, 0, 1, 255, 256};
    qor_handle hf = lend(f, 6, qor_fmt_32f), hu = lend(u, 6, qor_fmt_16u), hb = lend(b, 6, qor_fmt_8u);
    qor_handle hs = lend(s, 6, qor_fmt_16s);
    section("Format conversion (saturating)");
    show_f32("32f", f, 6);
    qor_convert(hf, hu);
    show_u("-> 16u (toward zero)", u, 6, 2);
    qor_convert(hu, hb);
    show_u("-> 8u", b, 6, 1);
    printf("  %-28s", "16s");
    for (int i = 0; i < 6; ++i) printf(" %6d", s[i]);
    printf("\n");
    qor_convert(hs, hb);
    show_u("-> 8u (clamped)", b, 6, 1);
    show_status("16s -> 32f into 16u", qor_convert(hs, hu));
    qor_destroy_array(hs);
    qor_destroy_array(hb);
    qor_destroy_array(hu);
    qor_destroy_array(hf);
}

static void logarithms(void) {
    float x[6] = {1, 2.718281828f, 10, 1000, 0, -1}, y[6];
    qor_handle hx = lend(x, 6, qor_fmt_32f), hy = lend(y, 6, qor_fmt_32f);
    section("Logarithms (out-of-domain elements only warn)");
    show_f32("x", x, 6);
    qor_ln(hx, hy);
    show_f32("ln x", y, 6);
    qor_log10(hx, hy);
    show_f32("log10 x", y, 6);
    qor_log1p(hx, hy);
    show_f32("ln(1 + x)", y, 6);
    qor_destroy_array(hy);
    qor_destroy_array(hx);
}

static void scaling(void) {
    float x[5] = {0, 1, 2, 3, 4};
    uint16_t u[4] = {0, 100, 20000, 60000};
    qor_handle hx = lend(x, 5, qor_fmt_32f), hu = lend(u, 4, qor_fmt_16u);
    section("Scaling: x * factor + offset");
    show_f32("x", x, 5);
    qor_scaleCI(hx, 2.5f, -1);
    show_f32("x * 2.5 - 1", x, 5);
    show_u("16u u", u, 4, 2);
    qor_scaleCI(hu, 3, 7);
    show_u("u * 3 + 7 (saturated)", u, 4, 2);
    qor_destroy_array(hu);
    qor_destroy_array(hx);
}

static void generators(void) {
    float g[6], c[6];
    qor_handle hg = lend(g, 6, qor_fmt_32f), hc = lend(c, 6, qor_fmt_32f);
    section("Random numbers, curves, ramps and tones");
    qor_gaussian_rand(hg, 10, 2, 1234);
    show_f32("normal, mean 10, sd 2", g, 6);
    qor_sin_plot(hc, 0.125f, 2, 0, 90);
    show_f32("2 sin(2pi i/8 + 90 deg)", c, 6);
    qor_quadratic_plot(hc, 1, -2, 1, 0, 0.5f);
    show_f32("(x - 1)^2, x = i/2", c, 6);
    qor_gaussian_plot(hc, 2.5f, 1, 4, 0, 1);
    show_f32("bell: centre 2.5, width 1", c, 6);
    qor_vector_slope(hc, 5, -0.5f);
    show_f32("ramp 5 - i/2", c, 6);
    qor_vector_tone(hc, 3, 0.25f, 0);
    show_f32("3 cos(2pi i/4)", c, 6);
    qor_destroy_array(hc);
    qor_destroy_array(hg);
}

static void spectrum_and_histogram(void) {
    float x[16], amp[16], noise[1000];
    uint32_t counts[8];
    qor_handle hx = lend(x, 16, qor_fmt_32f), ha = lend(amp, 16, qor_fmt_32f), hn = lend(noise, 1000, qor_fmt_32f);
    section("Spectrum and histogram");
    qor_vector_tone(hx, 1.5f, 0.1875f, 0);  /* 3 cycles in 16 samples */
    for (int i = 0; i < 16; ++i) x[i] += 0.25f; /* and a constant */
    qor_dft_fwd(hx, ha);
    show_f32("amplitudes 0..7", amp, 8);
    qor_gaussian_rand(hn, 0, 1, 99);
    qor_histogram(hn, counts, 8, -4, 4);
    printf("  %-28s", "1000 normal numbers in 8 bins");
    for (int i = 0; i < 8; ++i) printf(" %5u", counts[i]);
    printf("\n");
    qor_destroy_array(hn);
    qor_destroy_array(ha);
    qor_destroy_array(hx);
}

static void fits(void) {
    static float signal[300], bell[41];
    float coef[4], centre = 0, sigma = 0, amplitude = 0;
    qor_handle hs = lend(signal, 300, qor_fmt_32f), hc = lend(coef, 4, qor_fmt_32f), hb = lend(bell, 41, qor_fmt_32f);
    section("Fits");
    qor_test_rand(hs, 0.01f, -2, 30);
    qor_quadratic_fit(hs, hc);
    printf("  %-28s a %.5f, b %.4f, c %.3f\n", "0.01x^2 - 2x + 30 + noise", coef[0], coef[1], coef[2]);
    /* The fit models 1 + y as a bell: sampled out to 2.5 widths, this one is within 0.2% of it. */
    qor_gaussian_plot(hb, 1, 0.5f, 500, -0.25f, 0.0625f);
    qor_gaussian_fit(hb, -0.25f, 0.0625f, &centre, &sigma, &amplitude);
    printf("  %-28s centre %.3f, sigma %.3f, amplitude %.1f\n", "bell 1, 0.5, 500", centre, sigma, amplitude);
    qor_destroy_array(hb);
    qor_destroy_array(hc);
    qor_destroy_array(hs);
}

int main(void) {
    printf("qor_lib demo: every status is printed as a number; 0 is success.\n");
    arrays();
    division();
    square_copy_extrema();
    logarithms();
    conversion();
    scaling();
    generators();
    spectrum_and_histogram();
    fits();
    return 0;
}
