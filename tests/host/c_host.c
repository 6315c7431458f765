/* A C host: the public header compiles as C, and the shared library links and works from C. */
#include <stdio.h>
#include <string.h>

#include "qor_lib.h"

static int failures = 0;
#define EXPECT(cond) \
    if (!(cond)) printf("%s:%d: failed: %s\n", __FILE__, __LINE__, #cond), ++failures

int main(void) {
    qor_handle owned = -1, lent = -1;
    float host_buffer[5] = {1, 2, 3, 4, 5};
    qor_info info;
    void* buf = NULL;
    uint8_t bytes = 0;

    EXPECT(qor_create_array(&owned) == qor_ok && qor_create_array(&lent) == qor_ok && lent != owned);
    EXPECT(qor_init_array(owned, 10, qor_fmt_16u) == qor_ok && qor_get_info(owned, &info) == qor_ok);
    EXPECT(info.size == 10 && info.data_type == qor_fmt_16u && info.valid_bits == 16);
    EXPECT(((uintptr_t)info.frame_buf & 63) == 0);

    memset(&info, 0, sizeof info);
    info.size = 5;
    info.data_type = qor_fmt_32f;
    info.valid_bits = 32;
    info.frame_buf = host_buffer;
    EXPECT(qor_init_array_ex(lent, &info) == qor_ok && qor_get_buf(lent, &buf) == qor_ok && buf == host_buffer);
    EXPECT(qor_get_data_byte(lent, &bytes) == qor_ok && bytes == 4);
    EXPECT(qor_destroy_array(lent) == qor_ok && host_buffer[4] == 5.0f); /* a borrowed buffer is left alone */
    EXPECT(qor_destroy_array(lent) == qor_err_invalid && qor_destroy_array(owned) == qor_ok);
    EXPECT(qor_sum(-1) == qor_err_handle);

    if (failures == 0) printf("C host: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
