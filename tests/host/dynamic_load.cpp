// A host that loads the library at run time, as scripting hosts do, and finds every lifecycle
// export by its plain name.
#include <cstdio>
#include <cstring>
#include <immintrin.h>

#include "qor_lib.h"

#if defined(_WIN32)
#  include <windows.h>
using library = HMODULE;
static library open_library(const char* path) { return LoadLibraryA(path); }
static void* symbol(library lib, const char* name) { return reinterpret_cast<void*>(GetProcAddress(lib, name)); }
static void close_library(library lib) { FreeLibrary(lib); }
#else
#  include <dlfcn.h>
using library = void*;
static library open_library(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* symbol(library lib, const char* name) { return dlsym(lib, name); }
static void close_library(library lib) { dlclose(lib); }
#endif

template <class F>
static F find(library lib, const char* name) {
    void* p = symbol(lib, name);
    if (!p) std::printf("export not found: %s\n", name);
    return reinterpret_cast<F>(p);
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    char path[1024];
    std::snprintf(path, sizeof path, "%s%s", std::strchr(argv[1], '/') ? "" : "./", argv[1]);
    // Loading the library must leave the floating-point control state as it was.
    const unsigned csr_before = _mm_getcsr();
    uint16_t x87_before, x87_after;
    __asm__ volatile("fnstcw %0" : "=m"(x87_before));
    library lib = open_library(path);
    __asm__ volatile("fnstcw %0" : "=m"(x87_after));
    if ((_mm_getcsr() & 0xFFC0) != (csr_before & 0xFFC0) || x87_after != x87_before) {
        std::printf("loading changed the floating-point control state\n");
        return 1;
    }
    if (!lib) {
        std::printf("cannot load %s\n", path);
        return 1;
    }
    auto create = find<qor_status (*)(qor_handle*)>(lib, "qor_create_array");
    auto init = find<qor_status (*)(qor_handle, int64_t, qor_data_format)>(lib, "qor_init_array");
    auto get_info = find<qor_status (*)(qor_handle, qor_info*)>(lib, "qor_get_info");
    auto destroy = find<qor_status (*)(qor_handle)>(lib, "qor_destroy_array");
    auto sum = find<qor_status (*)(qor_handle)>(lib, "qor_sum");
    if (!create || !init || !get_info || !destroy || !sum) return 1;
    qor_handle h = -1;
    qor_info info{};
    const bool ok = create(&h) == qor_ok && init(h, 1000, qor_fmt_64f) == qor_ok && get_info(h, &info) == qor_ok &&
                    info.size == 1000 && info.valid_bits == 64 && destroy(h) == qor_ok &&
                    destroy(h) == qor_err_invalid && sum(1 << 20) == qor_err_handle;
    close_library(lib);
    std::printf(ok ? "dynamic host: all checks passed\n" : "dynamic host: a check failed\n");
    return ok ? 0 : 1;
}
