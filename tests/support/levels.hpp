// Runs a test body once per processor level this machine supports, reaching each variant
// through the dispatch tables without touching the process level.
#pragma once
#include <gtest/gtest.h>

#include "kernels/runtime/cpu.hpp"

namespace qor::test {

inline int supported_level() { return krn::cpu::detect_level(); }

template <class Body>
void for_each_supported_level(Body&& body) {
    for (int level = 0; level <= supported_level(); ++level) {
        SCOPED_TRACE(::testing::Message() << "level " << level);
        body(level);
    }
}

}  // namespace qor::test
