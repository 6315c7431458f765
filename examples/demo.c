/* A tour of qor_lib from a C host: arrays are made and described through handles. */
#include <stdio.h>

#include "qor_lib.h"

static const char* format_name(qor_data_format f) {
    static const char* names[] = {"none", "8u", "16u", "16s", "32f", "32u", "32s", "64f", "64u", "64s"};
    return (unsigned)f < 10 ? names[f] : "?";
}

static void describe(const char* what, qor_handle h) {
    qor_info info;
    uint8_t bytes = 0;
    qor_status st = qor_get_info(h, &info);
    if (st != qor_ok) {
        printf("%-28s handle %d: status %d\n", what, h, st);
        return;
    }
    qor_get_data_byte(h, &bytes);
    printf("%-28s handle %d: %lld x %s (%u bytes, %u valid bits) at %p\n", what, h, (long long)info.size,
           format_name(info.data_type), bytes, info.valid_bits, info.frame_buf);
}

int main(void) {
    qor_handle owned, lent, spare;
    static double host_samples[256];
    qor_info lend = {256, qor_fmt_64f, 64, host_samples};

    qor_create_array(&owned);
    qor_create_array(&lent);
    qor_create_array(&spare);
    describe("created, not initialised", owned);

    qor_init_array(owned, 1000, qor_fmt_32f);
    describe("owned buffer, zero-filled", owned);

    qor_init_array_ex(lent, &lend);
    describe("borrowing the host's buffer", lent);

    printf("%-28s status %d\n", "16-bit array of 0 elements", qor_init_array(spare, 0, qor_fmt_16u));
    printf("%-28s status %d\n", "a handle never made", qor_destroy_array(77));

    qor_destroy_array(spare);
    qor_destroy_array(lent);
    qor_destroy_array(owned);
    printf("%-28s status %d\n", "destroyed twice", qor_destroy_array(owned));
    return 0;
}
