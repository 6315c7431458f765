// A small side-by-side timing harness: each case is timed beside its peers in the same run, and the
// table gives ns per element, GB/s and our throughput relative to each peer's (above 1: faster).
// Absolute times on a shared machine mean little; the ratios taken in one run are what to read.
#pragma once
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "kernels/kernels.hpp"
#include "qor_lib.h"

namespace qor::bench {

// An array of the registry, owned for the scope: what the exported operations are timed on.
struct registry_array {
    qor_handle h = -1;
    registry_array(int64_t n, qor_data_format f) {
        qor_create_array(&h);
        qor_init_array(h, n, f);
    }
    ~registry_array() { qor_destroy_array(h); }
    registry_array(const registry_array&) = delete;
    registry_array& operator=(const registry_array&) = delete;
    template <class T = float>
    T* buf() const {
        void* p = nullptr;
        qor_get_buf(h, &p);
        return static_cast<T*>(p);
    }
};

// A 64-byte aligned block of n elements from the kernel allocator, as the library's arrays have.
template <class T>
class buffer {
public:
    explicit buffer(int64_t n) : data_(static_cast<T*>(krn::krn_aligned_malloc(n * int64_t(sizeof(T))))), n_(n) {}
    ~buffer() { krn::krn_free(data_); }
    buffer(const buffer&) = delete;
    buffer& operator=(const buffer&) = delete;
    T* data() const { return data_; }
    int64_t size() const { return n_; }
    int64_t bytes() const { return n_ * int64_t(sizeof(T)); }

private:
    T* data_;
    int64_t n_;
};

// The element counts every table reports: in L1, in L2, in the last-level cache, beyond it.
inline const std::vector<int64_t> standard_sizes = {1024, 65536, 1048576, 16777216};

// One contender of a row: a name and a call that processes the row's elements once.
struct contender {
    std::string name;
    std::function<void()> run;
};

// Best time of one call in ns for each contender. Calls are batched so one batch lasts at least
// 50 us. The contenders' batches take turns, so a change in the machine's load (other builds on a
// shared machine) falls on all of them alike and the ratios hold while absolute times drift.
// Rounds repeat until no best has improved by 0.5% for 12 rounds, or the budget is spent.
inline std::vector<double> best_ns_per_call(const std::vector<const contender*>& cs, double budget_seconds) {
    using clock = std::chrono::steady_clock;
    const auto time_batch = [](const contender& c, int64_t calls) {
        const auto t0 = clock::now();
        for (int64_t i = 0; i < calls; ++i) c.run();
        return std::chrono::duration<double, std::nano>(clock::now() - t0).count();
    };
    std::vector<int64_t> batch(cs.size(), 1);
    for (size_t k = 0; k < cs.size(); ++k) {
        cs[k]->run();  // first touch, first-call dispatch
        while (batch[k] < (int64_t{1} << 30) && time_batch(*cs[k], batch[k]) < 50e3) batch[k] *= 2;
    }
    std::vector<double> best(cs.size(), std::numeric_limits<double>::infinity());
    const auto start = clock::now();
    for (int quiet = 0; quiet < 12;) {
        bool improved = false;
        for (size_t k = 0; k < cs.size(); ++k) {
            const double t = time_batch(*cs[k], batch[k]) / double(batch[k]);
            improved |= t < best[k] * 0.995;
            best[k] = std::min(best[k], t);
        }
        quiet = improved ? 0 : quiet + 1;
        if (std::chrono::duration<double>(clock::now() - start).count() > budget_seconds) break;
    }
    return best;
}

// Rows of one table: ours and its peers at one size, all timed here, their batches in turn.
class table {
public:
    explicit table(std::string title) : title_(std::move(title)) {}

    // bytes: what one call reads and writes, for GB/s.
    void add(const std::string& name, int64_t elements, double bytes, const contender& ours,
             const std::vector<contender>& peers) {
        std::vector<const contender*> all{&ours};
        for (const contender& p : peers) all.push_back(&p);
        const std::vector<double> ns = best_ns_per_call(all, 0.25 * double(all.size()));
        row r{name, elements, bytes, ns[0], {}};
        for (size_t k = 0; k < peers.size(); ++k) r.peers.push_back({peers[k].name, ns[k + 1]});
        print_row(r);
    }

    void print_header() const {
        std::printf("\n## %s\n", title_.c_str());
        std::printf("%-34s %9s %9s %7s | %-6s %9s %7s | ...\n", "case", "elements", "ns/elem", "GB/s", "peer",
                    "ns/elem", "ratio");
        std::printf("%s\n", std::string(120, '-').c_str());
    }

private:
    struct peer_time {
        std::string name;
        double ns;
    };
    struct row {
        std::string name;
        int64_t elements;
        double bytes;
        double ns;
        std::vector<peer_time> peers;
    };

    // ratio = peer time / our time: our throughput relative to the peer's.
    static void print_row(const row& r) {
        const double n = double(r.elements);
        std::printf("%-34s %9lld %9.4f %7.2f", r.name.c_str(), static_cast<long long>(r.elements), r.ns / n,
                    r.bytes / r.ns);
        for (const peer_time& p : r.peers) std::printf(" | %-6s %9.4f %7.2f", p.name.c_str(), p.ns / n, p.ns / r.ns);
        std::printf("\n");
        std::fflush(stdout);
    }

    std::string title_;
};

// Whether a case name passes the command line's filters (any of them as a substring; none: all).
inline bool selected(const std::string& name, int argc, char** argv) {
    bool any = false;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') continue;
        any = true;
        if (name.find(argv[i]) != std::string::npos) return true;
    }
    return !any;
}

// Defeats the optimiser's knowledge of memcpy and memset, so the peers really run.
inline void* (*volatile copy_bytes)(void*, const void*, size_t) = std::memcpy;
inline void* (*volatile set_bytes)(void*, int, size_t) = std::memset;

}  // namespace qor::bench
