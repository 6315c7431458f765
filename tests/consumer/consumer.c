/* A C host built against the installed tree: lends a buffer and squares it in place. */
#include <stdio.h>

#include <qor_lib.h>

int main(void) {
    float samples[4] = {1.5f, -2.0f, 3.0f, 0.25f};
    qor_info lend = {4, qor_fmt_32f, 32, samples};
    qor_handle h;
    float lo = 1.0f / 0.0f, hi = -1.0f / 0.0f;
    if (qor_create_array(&h) != qor_ok || qor_init_array_ex(h, &lend) != qor_ok) return 1;
    if (qor_square(h, h) != qor_ok || qor_min_max(h, &lo, &hi) != qor_ok) return 1;
    qor_destroy_array(h);
    printf("c consumer: squares %g %g %g %g, min %g, max %g\n", samples[0], samples[1], samples[2], samples[3],
           lo, hi);
    return samples[1] == 4.0f && lo == 0.0625f && hi == 9.0f ? 0 : 1;
}
