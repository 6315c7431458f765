// Threads: 64 threads make the process's first kernel call at the same moment and must all see
// one level; then operations run on distinct arrays concurrently and must give the bits of a
// single-threaded run. Built with ThreadSanitizer, which must report nothing.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <latch>
#include <thread>
#include <vector>

#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"
#include "qor_lib.h"

namespace {

constexpr int thread_count = 64;
constexpr int64_t length = 4099;

// Runs body(i) on thread_count threads released together.
template <class Body>
void run_together(Body body) {
    std::latch start(thread_count);
    std::vector<std::thread> threads;
    for (int i = 0; i < thread_count; ++i)
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            body(i);
        });
    for (auto& t : threads) t.join();
}

// Each thread's own 64-bit arrays: a divisor, a dividend and a result.
struct job {
    qor_handle a, b, c;
};

job make_job(int seed) {
    job j;
    for (qor_handle* h : {&j.a, &j.b, &j.c}) {
        qor_create_array(h);
        qor_init_array(*h, length, qor_fmt_64f);
    }
    double *a, *b;
    qor_get_buf(j.a, reinterpret_cast<void**>(&a));
    qor_get_buf(j.b, reinterpret_cast<void**>(&b));
    for (int64_t i = 0; i < length; ++i) {
        a[i] = 1.0 + double((i * 7 + seed) % 97) / 3.0;
        b[i] = double((i * 13 + seed) % 101) - 50.0;
    }
    return j;
}

// The operations one thread runs on its own arrays: element-wise kernels, and a transform whose
// plan and work areas come from the shared allocator.
bool run_job(const job& j) {
    return qor_div(j.a, j.b, j.c) == qor_ok && qor_square(j.c, j.c) == qor_ok && qor_scaleCI(j.c, 0.5f, 1) == qor_ok &&
           qor_dft_fwdI(j.b) == qor_ok;
}

bool same_bytes(qor_handle x, qor_handle y) {
    qor_info ix, iy;
    qor_get_info(x, &ix);
    qor_get_info(y, &iy);
    return ix.size == iy.size && std::memcmp(ix.frame_buf, iy.frame_buf, size_t(ix.size) * 8) == 0;
}

}  // namespace

int main() {
    using namespace qor::krn;
    if (process_level() != -1) return 1;
    std::vector<int> seen(thread_count, -2);
    run_together([&](int i) {
        uint8_t byte = 0;
        krn_set_8u(1, &byte, 1);
        seen[size_t(i)] = process_level();
    });
    for (int level : seen)
        if (level != cpu::detect_level()) {
            std::printf("a thread saw level %d, detection gives %d\n", level, cpu::detect_level());
            return 1;
        }
    std::printf("64 first calls agreed on level %d\n", seen[0]);

    // Arrays are created serially, as the interface requires; the operations then overlap.
    std::vector<job> concurrent, reference;
    for (int i = 0; i < thread_count; ++i) {
        concurrent.push_back(make_job(i));
        reference.push_back(make_job(i));
    }
    for (const job& j : reference)
        if (!run_job(j)) return 1;
    std::atomic<int> failures{0};
    run_together([&](int i) {
        if (!run_job(concurrent[size_t(i)])) failures.fetch_add(1);
    });
    for (int i = 0; i < thread_count; ++i)
        if (!same_bytes(concurrent[size_t(i)].c, reference[size_t(i)].c) ||
            !same_bytes(concurrent[size_t(i)].b, reference[size_t(i)].b))
            failures.fetch_add(1);
    std::printf("concurrent operations: %d failures\n", failures.load());
    for (const auto* jobs : {&concurrent, &reference})
        for (const job& j : *jobs)
            for (qor_handle h : {j.a, j.b, j.c}) qor_destroy_array(h);
    return failures.load() == 0 ? 0 : 1;
}
