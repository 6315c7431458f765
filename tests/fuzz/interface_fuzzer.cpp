// Fuzzes the whole exported interface: the input is decoded into a sequence of calls (create,
// init, lend, destroy and every operation) with handles drawn from live, freed, negative and
// out-of-range values and float parameters from the awkward ones. After each call an oracle checks
// that the status is one the export may return, that every live array still has the description
// the host gave it, that the guard bytes around lent buffers are untouched and that the output is
// nothing but well-formed report lines.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include <unistd.h>

#include "fuzz/operations.hpp"
#include "qor_lib.h"

namespace {

using namespace qor::fuzz;

constexpr size_t guard_bytes = 64;
constexpr uint8_t guard_value = 0xA5;

// What the host knows about one of its arrays.
struct model {
    qor_handle handle;
    bool live = true;
    qor_info info{};            // the expected description
    std::vector<uint8_t> lent;  // guard + buffer + guard, when the array borrows
};

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "oracle: %s: %s\n", what, detail.c_str());
    std::abort();
}

class session {
public:
    explicit session(input& in) : in_(in) {}
    ~session() {
        for (model& m : arrays_)
            if (m.live) qor_destroy_array(m.handle);
    }

    void step() {
        switch (in_.byte() % 8) {
        case 0: create(); break;
        case 1: init(); break;
        case 2: lend(); break;
        case 3: destroy(); break;
        default: operate(); break;
        }
        check_registry();
        check_output();
    }

    qor_handle pick_handle() {
        const uint8_t kind = in_.byte();
        if (!arrays_.empty() && kind < 200) return arrays_[kind % arrays_.size()].handle;
        switch (kind % 4) {
        case 0: return -1 - int(in_.byte());
        case 1: return qor_handle(arrays_.size() + 1000 + in_.byte());
        case 2: return std::numeric_limits<qor_handle>::min();
        default: return std::numeric_limits<qor_handle>::max();
        }
    }

private:
    model* find(qor_handle h) {
        for (model& m : arrays_)
            if (m.handle == h && m.live) return &m;
        return nullptr;
    }

    void create() {
        if (arrays_.size() >= 24) return;
        qor_handle h = -1;
        if (qor_create_array(&h) != qor_ok) fail("create", "failed");
        for (model& m : arrays_)
            if (m.handle == h) {
                if (m.live) fail("create", "handed out a live handle");
                m = model{h};
                return;
            }
        arrays_.push_back(model{h});
    }

    qor_status expected_handle_status(qor_handle h) {
        if (find(h)) return qor_ok;
        for (const model& m : arrays_)
            if (m.handle == h) return qor_err_invalid;
        return qor_err_handle;
    }

    void init() {
        const qor_handle h = pick_handle();
        const int64_t size = in_.length();
        const auto format = qor_data_format(in_.byte() % 17);
        const qor_status st = qor_init_array(h, size, format);
        qor_status want = expected_handle_status(h);
        if (want == qor_ok) {
            model& m = *find(h);
            m.lent.clear();
            const uint8_t bytes = format_bytes(format);
            want = (size > 0 && bytes > 0) ? qor_ok : qor_err_alloc;
            m.info = {};
            if (st == qor_ok) {
                m.info = {size, format, uint16_t(8 * bytes), nullptr};
                qor_get_buf(h, &m.info.frame_buf);
            }
            if (st == qor_err_alloc && size > 0 && bytes > 0 && size * bytes > (int64_t(1) << 30)) want = st;
        }
        if (st != want) fail("init", std::to_string(st) + " instead of " + std::to_string(want));
    }

    void lend() {
        const qor_handle h = pick_handle();
        const int64_t size = std::max<int64_t>(0, in_.length());
        const auto format = qor_data_format(in_.byte() % 10);
        const size_t bytes = size_t(size) * format_bytes(format);
        std::vector<uint8_t> buffer(bytes + 2 * guard_bytes, guard_value);
        for (size_t i = 0; i < bytes; ++i) buffer[guard_bytes + i] = in_.byte();
        qor_info info{size, format, uint16_t(in_.byte()), buffer.data() + guard_bytes};
        const qor_status st = qor_init_array_ex(h, &info);
        const qor_status want = expected_handle_status(h);
        if (st != want) fail("lend", std::to_string(st));
        if (want == qor_ok) {
            model& m = *find(h);
            m.lent = std::move(buffer);
            m.info = info;
        }
    }

    void destroy() {
        const qor_handle h = pick_handle();
        const qor_status want = expected_handle_status(h);
        const qor_status st = qor_destroy_array(h);
        if (st != want) fail("destroy", std::to_string(st));
        if (model* m = find(h)) {
            m->live = false;
            m->lent.clear();
        }
    }

    void operate() {
        const operation& op = pick_operation(in_.byte());
        qor_handle handles[3];
        for (int i = 0; i < op.handles; ++i) handles[i] = pick_handle();
        // Handles are checked first, in argument order.
        qor_status want = qor_ok;
        for (int i = 0; i < op.handles && want == qor_ok; ++i) want = expected_handle_status(handles[i]);
        const qor_status st = op.call(handles, in_);
        if (want != qor_ok && st != want)
            fail(op.name, "handle check gave " + std::to_string(st) + " instead of " + std::to_string(want));
        if (!op.may_return(st)) fail(op.name, "status " + std::to_string(st) + " is not one it returns");
    }

    void check_registry() {
        for (model& m : arrays_) {
            if (!m.live) continue;
            qor_info got{};
            if (qor_get_info(m.handle, &got) != qor_ok) fail("registry", "live handle refused");
            if (got.size != m.info.size || got.data_type != m.info.data_type || got.valid_bits != m.info.valid_bits ||
                got.frame_buf != m.info.frame_buf)
                fail("registry", "description of handle " + std::to_string(m.handle) + " changed");
            for (size_t i = 0; i < guard_bytes && !m.lent.empty(); ++i)
                if (m.lent[i] != guard_value || m.lent[m.lent.size() - 1 - i] != guard_value)
                    fail("guard", "bytes beside a lent buffer were written");
        }
    }

    // Nothing but whole report lines of non-zero statuses.
    void check_output() {
        static const std::regex report("(KRN function failed,return value -?[1-9][0-9]*\\.\n)*");
        const std::string text = take_output();
        if (!std::regex_match(text, report)) fail("output", "not only report lines: " + text);
    }

    input& in_;
    std::vector<model> arrays_;
};

int output_fd = -1;
off_t output_read = 0;
uint64_t calls_made = 0;  // exported calls over the whole run, reported at exit

}  // namespace

namespace qor::fuzz {

// The library's output so far, since the last call.
std::string take_output() {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = pread(output_fd, buf, sizeof buf, output_read)) > 0) {
        out.append(buf, size_t(n));
        output_read += n;
    }
    return out;
}

}  // namespace qor::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Standard output goes to a file the oracle reads back after every call.
    std::FILE* sink = std::tmpfile();
    output_fd = fileno(sink);
    std::fflush(stdout);
    dup2(output_fd, 1);
    std::atexit([] { std::fprintf(stderr, "interface calls made: %llu\n", (unsigned long long)calls_made); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    input in(data, size);
    session s(in);
    for (int calls = 0; !in.done() && calls < 64; ++calls, ++calls_made) s.step();
    return 0;
}
