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

inline std::string report_line(int status) {
    return "KRN function failed,return value " + std::to_string(status) + ".\n";
}

}  // namespace qor::test
