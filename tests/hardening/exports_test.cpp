// Every export leaves the caller's floating-point control state as it found it: the SSE control
// and status register's control bits and the x87 control word, from several caller states. The
// exception flags are sticky status that ordinary arithmetic raises, so they are not compared.
#include <gtest/gtest.h>
#include <immintrin.h>

#include <cstdint>

#include "support/export_catalogue.hpp"

namespace {

constexpr uint32_t mxcsr_control_bits = 0xFFC0;

struct fp_state {
    const char* name;
    uint32_t mxcsr;
    uint16_t x87;
};

// Default; flush-to-zero and denormals-are-zero; round toward zero; round up (x87 alike).
constexpr fp_state caller_states[] = {
    {"default", 0x1F80, 0x037F},
    {"ftz+daz", 0x9FC0, 0x037F},
    {"toward zero", 0x7F80, 0x0F7F},
    {"up", 0x5F80, 0x0B7F},
};

uint16_t x87_control() {
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}
void set_x87_control(uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }

}  // namespace

TEST(FloatingPointState, EveryExportRestoresTheCallersControlState) {
    const uint32_t saved_mxcsr = _mm_getcsr();
    const uint16_t saved_x87 = x87_control();
    const auto cases = qor::test::export_cases();
    for (const fp_state& state : caller_states) {
        for (const auto& c : cases) {
            qor::test::export_fixture f;
            _mm_setcsr(state.mxcsr);
            set_x87_control(state.x87);
            ::testing::internal::CaptureStdout();
            const qor_status st = c.call(f);
            const uint32_t mxcsr_after = _mm_getcsr();
            const uint16_t x87_after = x87_control();
            _mm_setcsr(saved_mxcsr);
            set_x87_control(saved_x87);
            ::testing::internal::GetCapturedStdout();
            EXPECT_EQ(st, c.expected) << c.name << " from " << state.name;
            EXPECT_EQ(mxcsr_after & mxcsr_control_bits, state.mxcsr & mxcsr_control_bits)
                << c.name << " from " << state.name;
            EXPECT_EQ(x87_after, state.x87) << c.name << " from " << state.name;
        }
    }
}
