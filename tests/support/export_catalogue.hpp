// Every export on success, and each refusal status once, on a prepared set of arrays. The sweep
// in tests/hardening runs the whole list; a new export adds its cases here.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "qor_lib.h"

namespace qor::test {

// Arrays of every format the operations serve, of one length, holding ordinary values (no zero
// divisors, no logarithms of negatives), plus an empty array, a freed handle and a foreign one.
class export_fixture {
public:
    static constexpr int64_t n = 37;
    explicit export_fixture();
    ~export_fixture();
    export_fixture(const export_fixture&) = delete;
    export_fixture& operator=(const export_fixture&) = delete;

    qor_handle f32a, f32b, f32c, f64a, f64b, f64c, u16a, u16b, s16a, u8a, f32_short, empty, freed;
    static constexpr qor_handle beyond = 1 << 29;

private:
    qor_handle make(qor_data_format format, int64_t size);
    std::vector<qor_handle> owned_;
};

struct export_case {
    std::string name;
    std::function<qor_status(export_fixture&)> call;
    qor_status expected;
    std::string report = {};  // what the call must print on standard output
};

std::vector<export_case> export_cases();

}  // namespace qor::test
