// A C++ host built against the installed tree: the exported class ary beside the C functions.
#include <cstdio>
#include <vector>

#include <qor_lib.h>

int main() {
    ary a;  // the class is usable directly; the handles reach the same objects through the registry
    if (a.init(3, qor_fmt_32f) != qor_ok || a.get_size() != 3 || a.get_data_bytes() != 4) return 1;

    std::vector<double> num{1.0, 9.0, -7.5}, den{2.0, 3.0, 2.5};
    qor_info ni{3, qor_fmt_64f, 64, num.data()}, di{3, qor_fmt_64f, 64, den.data()};
    qor_handle n, d;
    if (qor_create_array(&n) || qor_create_array(&d) || qor_init_array_ex(n, &ni) || qor_init_array_ex(d, &di))
        return 1;
    qor_status st = qor_divI(d, n);  // n[i] /= d[i]
    qor_destroy_array(d);
    qor_destroy_array(n);
    std::printf("c++ consumer: quotients %g %g %g\n", num[0], num[1], num[2]);
    return st == qor_ok && num == std::vector<double>{0.5, 3.0, -3.0} ? 0 : 1;
}
