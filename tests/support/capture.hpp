// Captures what the library writes to standard output during a call, and the line it prints for a
// kernel status.
#pragma once
#include <gtest/gtest.h>

#include <string>

namespace qor::test {

template <class Call>
std::string stdout_of(Call&& call) {
    ::testing::internal::CaptureStdout();
    call();
    return ::testing::internal::GetCapturedStdout();
}

// One call's status and what it printed.
template <class Call>
void expect_outcome(Call&& call, int status, const std::string& printed) {
    int st = 99;
    EXPECT_EQ(stdout_of([&] { st = int(call()); }), printed);
    EXPECT_EQ(st, status);
}

inline std::string report_line(int status) {
    return "KRN function failed,return value " + std::to_string(status) + ".\n";
}

}  // namespace qor::test
