// Every export, from several caller floating-point states, leaves the SSE control bits and the x87
// control word as it found them (the exception flags are sticky status, not compared), and writes
// to file descriptor 1 exactly its kernel report lines, already flushed when the call returns:
// checked on the descriptor itself, beneath every stream buffer.
#include <gtest/gtest.h>
#include <immintrin.h>

#include <cstdint>
#include <cstdio>
#include <string>

#if defined(_WIN32)
#  include <io.h>
#  define dup _dup
#  define dup2 _dup2
#  define fileno _fileno
#  define close _close
#else
#  include <unistd.h>
#endif

#include "support/export_catalogue.hpp"

namespace {

struct fp_state {
    const char* name;
    uint32_t mxcsr;
    uint16_t x87;
};

// Default; flush-to-zero and denormals-are-zero; round toward zero; round up (x87 alike).
constexpr fp_state caller_states[] = {
    {"default", 0x1F80, 0x037F}, {"ftz+daz", 0x9FC0, 0x037F}, {"toward zero", 0x7F80, 0x0F7F}, {"up", 0x5F80, 0x0B7F}};

uint16_t x87_control() {
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}
void set_x87_control(uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }

// Points descriptor 1 at a temporary file for the duration of one call. Nothing is flushed on the
// library's behalf before the output is read, so output it left in a buffer is missed; flushed
// afterwards, it shows up marked as such.
template <class Call>
std::string descriptor_output(Call&& call) {
    std::fflush(stdout);
    std::FILE* sink = std::tmpfile();
    if (!sink) return "<no temporary file>";
    const auto contents = [sink] {
        std::string s;
        std::rewind(sink);
        char buf[256];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, sink)) > 0;) s.append(buf, n);
        return s;
    };
    const int saved = dup(1);
    dup2(fileno(sink), 1);
    call();
    std::string out = contents();
    std::fflush(stdout);
    if (const std::string all = contents(); all.size() > out.size()) out += "<left buffered:>" + all.substr(out.size());
    dup2(saved, 1);
    close(saved);
    std::fclose(sink);
    return out;
}

}  // namespace

TEST(Exports, RestoreTheCallersControlStateAndWriteOnlyTheirReportLines) {
    const uint32_t saved_mxcsr = _mm_getcsr();
    const uint16_t saved_x87 = x87_control();
    const auto cases = qor::test::export_cases();
    for (const fp_state& state : caller_states) {
        for (const auto& c : cases) {
            qor::test::export_fixture f;
            qor_status st = 0;
            uint32_t mxcsr_after = 0;
            uint16_t x87_after = 0;
            const std::string out = descriptor_output([&] {
                _mm_setcsr(state.mxcsr);
                set_x87_control(state.x87);
                st = c.call(f);
                mxcsr_after = _mm_getcsr();
                x87_after = x87_control();
                _mm_setcsr(saved_mxcsr);
                set_x87_control(saved_x87);
            });
            EXPECT_EQ(st, c.expected) << c.name << " from " << state.name;
            EXPECT_EQ(out, c.report) << c.name << " from " << state.name;
            EXPECT_EQ(mxcsr_after & 0xFFC0, state.mxcsr & 0xFFC0) << c.name << " from " << state.name;
            EXPECT_EQ(x87_after, state.x87) << c.name << " from " << state.name;
        }
    }
}
