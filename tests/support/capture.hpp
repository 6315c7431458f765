// Captures what the library writes to standard output during a call.
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

}  // namespace qor::test
