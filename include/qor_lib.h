/* qor_lib: one-dimensional numeric array processing behind a plain C interface.
 *
 * The host creates arrays, which the library keeps in a registry and names by small integer
 * handles; it gives each one a length and an element format (or lends it a buffer of its own)
 * and calls operations on handles. Every function returns a qor_status: 0 on success, a
 * negative code on failure. A failed call changes nothing it was not asked to change.
 * Calls are not synchronised: the host serialises them, or at least never overlaps a create or
 * destroy with another call and never lets two calls use one array at the same time. */
#ifndef QOR_LIB_H
#define QOR_LIB_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(QOR_BUILDING)
#    define QOR_API __declspec(dllexport)
#  else
#    define QOR_API __declspec(dllimport)
#  endif
#else
#  define QOR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Element formats. Not ordered by width: the floats come before the integers of their size.
 * Any 32-bit value may arrive from a host; numbers without a format behave like qor_fmt_none. */
#ifdef __cplusplus
typedef enum qor_data_format : int32_t {
#else
typedef enum qor_data_format {
#endif
    qor_fmt_none = 0, /* no format, 0 bytes */
    qor_fmt_8u = 1,   /* 8-bit unsigned */
    qor_fmt_16u = 2,  /* 16-bit unsigned */
    qor_fmt_16s = 3,  /* 16-bit signed */
    qor_fmt_32f = 4,  /* 32-bit IEEE float */
    qor_fmt_32u = 5,  /* 32-bit unsigned */
    qor_fmt_32s = 6,  /* 32-bit signed */
    qor_fmt_64f = 7,  /* 64-bit IEEE float */
    qor_fmt_64u = 8,  /* 64-bit unsigned */
    qor_fmt_64s = 9   /* 64-bit signed */
} qor_data_format;

/* Result of every function: a signed 8-bit value. */
typedef int8_t qor_status;

#define qor_ok ((qor_status)0)                    /* success (also when a kernel only warned) */
#define qor_err_format ((qor_status)-1)           /* format or format combination not supported */
#define qor_err_length ((qor_status)-2)           /* operand arrays differ in element count */
#define qor_err_valid_bits ((qor_status)-3)       /* valid bits exceed 8 x the format's byte size */
#define qor_err_format_mismatch ((qor_status)-4)  /* operand arrays differ in element format */
#define qor_err_kernel ((qor_status)-5)           /* a numeric kernel failed (its status is printed) */
#define qor_err_handle ((qor_status)-6)           /* handle negative or beyond the registry */
#define qor_err_range ((qor_status)-7)            /* requested sub-range outside the source */
#define qor_err_alloc ((qor_status)-8)            /* allocation failed, size <= 0, or format of 0 bytes */
#define qor_err_invalid ((qor_status)-32)         /* freed handle, or array holding no data */

/* An array handle: an index into the library's registry. */
typedef int32_t qor_handle;

/* The description of an array: element count, format, meaningful bits per element, buffer. */
typedef struct qor_info {
    int64_t size;
    qor_data_format data_type;
    uint16_t valid_bits;
    void* frame_buf;
} qor_info;

/* ---- Array lifecycle ---------------------------------------------------------------------- */

/* Creates an empty array and writes its handle (the lowest free one). -8 if memory runs out. */
QOR_API qor_status qor_create_array(qor_handle* handle);
/* Destroys an array, releasing its buffer if the library owns it; the handle becomes free. */
QOR_API qor_status qor_destroy_array(qor_handle handle);
/* Gives the array an owned, 64-byte aligned, zero-filled buffer of size elements. */
QOR_API qor_status qor_init_array(qor_handle handle, int64_t size, qor_data_format format);
/* Makes the array borrow the buffer the record describes; the host keeps owning it.
 * A null record sets errno to EINVAL and leaves the array borrowing nothing. */
QOR_API qor_status qor_init_array_ex(qor_handle handle, qor_info* info);
/* Writes the array's description. A null record sets errno to EINVAL and writes nothing. */
QOR_API qor_status qor_get_info(qor_handle handle, qor_info* info);
/* Writes the array's buffer pointer. */
QOR_API qor_status qor_get_buf(qor_handle handle, void** buf);
/* Writes the byte size of one element of the array (0 when it has no format). */
QOR_API qor_status qor_get_data_byte(qor_handle handle, uint8_t* bytes);
/* Checks a handle and does nothing else. */
QOR_API qor_status qor_sum(qor_handle handle);

/* ---- Division ------------------------------------------------------------------------------ */
/* Arrays of qor_fmt_32f or qor_fmt_64f, all of one format and size; the first handle is always
 * the divisor. Quotients are correctly rounded IEEE quotients (under the caller's rounding
 * control) at every processor level, so results never depend on the processor. A zero divisor
 * is not an error: it prints the kernel report with the value 2 and the call returns 0. With a
 * zero divisor, a nonzero dividend gives an infinity with the IEEE sign (x / -0 = -x / +0).
 * Every NaN quotient (0/0, inf/inf, any NaN operand) is the positive quiet NaN (0x7FC00000,
 * 0x7FF8000000000000), whatever NaN went in. Order of checks: handles, data (-32), formats
 * (-4), sizes (-2), size 0 succeeds, then the format (-1). */

/* c[i] = b[i] / a[i]. c may be a or b (qor_div(a, b, b) is qor_divI(a, b)). */
QOR_API qor_status qor_div(qor_handle a, qor_handle b, qor_handle c);
/* b[i] = b[i] / a[i]. */
QOR_API qor_status qor_divI(qor_handle a, qor_handle b);

/* ---- Square, sub-array copy and extrema ---------------------------------------------------- */

/* b[i] = a[i]^2 for qor_fmt_16u (saturated at 65535: inputs from 256 up give 65535),
 * qor_fmt_32f and qor_fmt_64f (IEEE products); a and b of one format and size. b may be a. */
QOR_API qor_status qor_square(qor_handle a, qor_handle b);
/* dst[0 .. count-1] = src[offset .. offset+count-1] for 16u, 16s, 32f and 64f arrays of one
 * format; dst's later elements are left alone. Checks: handles, data (-32), formats (-4),
 * offset > src size or offset + count > src size (-7); count <= 0 succeeds; then, so nothing
 * outside a buffer is ever touched, a negative offset gives -7 and a count beyond dst's size -2;
 * last the format (-1). Overlapping runs of one array are moved as by memmove, in pieces of
 * under 2^31 bytes (a longer overlapping run moved toward the end is not defined). */
QOR_API qor_status qor_sub_array(qor_handle src, qor_handle dst, int64_t offset, int64_t count);
/* Merges a's smallest and largest elements (qor_fmt_16u or qor_fmt_32f) into *min and *max:
 * *min takes an element's value unless the element is greater, *max unless the element is
 * smaller, so a NaN held in either is replaced. Pass +inf and -inf (or NaNs) for the array's own
 * extremes. NaN elements are ignored (an all-NaN array merges as the quiet NaN), and -0 counts
 * below +0. The pointers are not checked. A size of 0 leaves both untouched. */
QOR_API qor_status qor_min_max(qor_handle a, float* min, float* max);

/* ---- Logarithms ---------------------------------------------------------------------------- */

/* Logarithms of qor_fmt_32f and qor_fmt_64f arrays. Out-of-domain elements are not failures:
 * zeros give -inf, values below the domain give the default NaN, NaNs stay (quieted), and the
 * warning is printed; the call still returns 0. The single-precision ln and log10 give the same
 * bits on every processor; the others are within one unit in the last place. */
/* dst[i] = ln(src[i]). dst may be src (qor_ln(a, a) is qor_lnI(a)). */
QOR_API qor_status qor_ln(qor_handle src, qor_handle dst);
/* a[i] = ln(a[i]). */
QOR_API qor_status qor_lnI(qor_handle handle);
/* dst[i] = ln(1 + src[i]), accurate for small |src[i]|; zeros keep their sign. */
QOR_API qor_status qor_log1p(qor_handle src, qor_handle dst);
/* dst[i] = log10(src[i]). */
QOR_API qor_status qor_log10(qor_handle src, qor_handle dst);

/* ---- Format conversion --------------------------------------------------------------------- */

/* dst = src converted element by element, for the pairs 8u->16u, 16u->8u (min(x, 255)),
 * 16s->8u (clamped to 0..255), 16u->32f, 16s->32f (exact) and 32f->16u (toward zero, saturated:
 * below 1, -0 and NaN give 0, from 65535 up and +inf give 65535). Checks: handles, data (-32),
 * sizes (-2), size 0 succeeds whatever the formats, then an unsupported pair (-1), before
 * anything is written. The caller's floating-point control state is left as it was. */
QOR_API qor_status qor_convert(qor_handle src, qor_handle dst);

/* ---- Scaling ------------------------------------------------------------------------------- */

/* dst = src * factor + offset, element by element, for 16u, 32f and 64f arrays; dst may be src. */
QOR_API qor_status qor_scaleC(qor_handle src, qor_handle dst, float factor, float offset);
/* The same in place: the array's elements become element * factor + offset. */
QOR_API qor_status qor_scaleCI(qor_handle handle, float factor, float offset);

/* ---- Random numbers and the test signal ---------------------------------------------------- */

/* Fills a 16s, 32f or 64f array with normal numbers of the given mean and standard deviation,
 * the same sequence for the same seed on every machine (16s: mean and deviation truncated). */
QOR_API qor_status qor_gaussian_rand(qor_handle handle, float mean, float stdev, uint32_t seed);
/* Fills a 32f array with a i^2 + b i + c plus uniform noise in [-5, 5] from a fixed seed: the
 * same array for the same arguments and length, test input for the quadratic fit. */
QOR_API qor_status qor_test_rand(qor_handle handle, float a, float b, float c);

/* ---- Curves -------------------------------------------------------------------------------- */

/* Fills a 32f array with amplitude * sin(2 pi frequency i + phase_deg pi / 180) + offset. */
QOR_API qor_status qor_sin_plot(qor_handle handle, float frequency, float amplitude, float offset, float phase_deg);
/* Fills a 32f array with (a x + b) x + c over the abscissae x = x0 + dx i. */
QOR_API qor_status qor_quadratic_plot(qor_handle handle, float a, float b, float c, float x0, float dx);
/* Fills a 32f array with height * exp(-(x - centre)^2 / (2 width^2)) over x = x0 + dx i. */
QOR_API qor_status qor_gaussian_plot(qor_handle handle, float centre, float width, float height, float x0, float dx);

/* ---- Ramps and tones ----------------------------------------------------------------------- */

/* Fills a 16u or 32f array with the ramp offset + slope * i (16u: rounded and saturated). */
QOR_API qor_status qor_vector_slope(qor_handle handle, float offset, float slope);
/* Fills a 16s, 32f or 64f array with magnitude * cos(2 pi rfreq i + phase), 0 <= rfreq < 0.5,
 * 0 <= phase < 2 pi (radians). */
QOR_API qor_status qor_vector_tone(qor_handle handle, float magnitude, float rfreq, float phase);

/* ---- Spectrum ------------------------------------------------------------------------------ */
/* Amplitude spectrum of a real 32f or 64f signal of N samples: |X[0]|/N, then 2|X[k]|/N.
 * A destination shorter than the source is refused with -2 before anything is written. */
QOR_API qor_status qor_dft_fwd(qor_handle src, qor_handle dst);
/* The amplitude spectrum written over the array's own samples. */
QOR_API qor_status qor_dft_fwdI(qor_handle src_dst);

/* ---- Histogram ----------------------------------------------------------------------------- */

/* Counts a 16s or 32f array into nBins equal bins from lower (inclusive) to upper (exclusive);
 * samples outside and NaN are not counted. counts receives nBins 32-bit counters. */
QOR_API qor_status qor_histogram(qor_handle handle, uint32_t* counts, int32_t nBins, float lower, float upper);

/* ---- Fits ---------------------------------------------------------------------------------- */

/* Fits y = a x^2 + b x + c to the 32f samples of source (x = 0, 1, 2, ...) by block differences
 * and writes a, b, c to elements 0..2 of destination (32f, at least 4 elements). */
QOR_API qor_status qor_quadratic_fit(qor_handle source, qor_handle destination);
/* Fits a Gaussian A exp(-(x - centre)^2 / (2 sigma^2)) to 1 + y, y the samples of a 32f, 32s or
 * 32u array on the grid x = x0 + dx i, through a parabola fitted to ln(1 + y); single precision.
 * The three outputs receive zeros when the fit fails after the handle check; a parabola opening
 * upward gives a NaN sigma with status 0. */
QOR_API qor_status qor_gaussian_fit(qor_handle handle, float x0, float dx, float* centre, float* sigma,
                                    float* amplitude);

/* The record's layout is part of the interface. */
#ifdef __cplusplus
#  define QOR_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#  define QOR_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
QOR_STATIC_ASSERT(sizeof(qor_info) == 24, "qor_info is 24 bytes");
QOR_STATIC_ASSERT(offsetof(qor_info, size) == 0 && offsetof(qor_info, data_type) == 8 &&
                      offsetof(qor_info, valid_bits) == 12 && offsetof(qor_info, frame_buf) == 16,
                  "qor_info field offsets");
QOR_STATIC_ASSERT(sizeof(qor_data_format) == 4, "formats are 32-bit");

#ifdef __cplusplus
} /* extern "C" */

/* One array: the four fields of qor_info, then the ownership state
 * (0 empty, 1 owning its buffer, 2 borrowing the host's). C++ hosts may use it directly. */
class QOR_API ary {
public:
    ary() noexcept;
    ~ary();
    /* Copies all five fields, state included; nothing is copied or released. When both copies
     * claim one owned buffer, the buffer is released once, by the last of them to let go. */
    ary& operator=(const ary& other) noexcept;

    /* Owned, zero-filled buffer; valid bits 8 x the format's byte size. */
    qor_status init(int64_t size, qor_data_format format) noexcept;
    /* Owned, zero-filled buffer; -3 if valid_bits exceed 8 x the byte size, -8 on failure. */
    qor_status init(int64_t size, qor_data_format format, uint16_t valid_bits) noexcept;
    /* Borrows the host buffer the record describes, taking its fields unchecked. Always 0. */
    qor_status init_ext(qor_info* info) noexcept;
    void get_info(qor_info* info) const noexcept;
    /* Zeroes the whole buffer (the host's too, when borrowing). */
    void clear_data() noexcept;
    uint8_t get_data_bytes() const noexcept;
    /* Move one element's bytes unchanged, for 8u, 16u, 16s and 32f arrays; -1 otherwise.
     * Neither the state nor the index is checked: the caller keeps 0 <= index < size. */
    qor_status set_value(int index, void* value) noexcept;
    qor_status get_value(int index, void* value) const noexcept;
    /* 0 when the array holds a description, -32 when empty. */
    qor_status is_valid() const noexcept;
    int64_t get_size() const noexcept;
    uint16_t get_valid_bits() const noexcept;
    qor_data_format get_data_type() const noexcept;
    void* get_frame_buf() const noexcept;

    int64_t size;
    qor_data_format data_type;
    uint16_t valid_bits;
    void* frame_buf;
    uint8_t state;

private:
    ary(const ary&) = delete;
    void clear_default() noexcept;
    void destroy() noexcept;
    void release_owned() noexcept;
};
static_assert(offsetof(ary, size) == 0 && offsetof(ary, data_type) == 8 && offsetof(ary, valid_bits) == 12 &&
                  offsetof(ary, frame_buf) == 16 && offsetof(ary, state) == 24 && sizeof(ary) == 32,
              "ary begins with the layout of qor_info, then state");
#endif /* __cplusplus */

#endif /* QOR_LIB_H */
