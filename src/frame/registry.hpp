// The process-wide array registry and the handle check every export runs first.
#pragma once
#include <array>
#include <cstddef>

#include "qor_lib.h"

namespace qor::frame {

// -6 for a handle outside the table, -32 for a freed slot, else 0.
qor_status check_handle(qor_handle handle) noexcept;
// The array of a handle that passed the check.
ary* array_at(qor_handle handle) noexcept;

template <std::size_t N>
struct resolved {
    qor_status status;          // the first failing handle's status, or 0
    std::array<ary*, N> arrays; // filled only when status is 0
};

// Checks handles in argument order, stopping at the first failure; on success yields the arrays.
template <class... Handles>
resolved<sizeof...(Handles)> resolve(Handles... handles) noexcept {
    resolved<sizeof...(Handles)> r{qor_ok, {}};
    std::size_t i = 0;
    for (qor_handle h : {static_cast<qor_handle>(handles)...}) {
        if ((r.status = check_handle(h)) != qor_ok) return r;
        r.arrays[i++] = array_at(h);
    }
    return r;
}

}  // namespace qor::frame
