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

// Declares a function that every level's objects define, and the six of them indexed by level.
#define QOR_TEST_PER_LEVEL(table, ret, name, params)                                       \
    namespace qor::krn {                                                                   \
    namespace l0 { ret name params; }                                                      \
    namespace l1 { ret name params; }                                                      \
    namespace l2 { ret name params; }                                                      \
    namespace l3 { ret name params; }                                                      \
    namespace l4 { ret name params; }                                                      \
    namespace l5 { ret name params; }                                                      \
    }                                                                                      \
    static ret(*const table[6]) params = {qor::krn::l0::name, qor::krn::l1::name, qor::krn::l2::name, \
                                          qor::krn::l3::name, qor::krn::l4::name, qor::krn::l5::name}
