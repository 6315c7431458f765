// The process-wide array registry and the handle check every export runs first.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "qor_lib.h"

namespace qor::frame {

// The table every handle indexes. Its storage belongs to the registry (registry.cpp); it is
// visible here so that the handle check of every export is inlined: it is most of a short call.
struct slot_table {
    ary** slots = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;
    ~slot_table();  // at unload: the table only, never the arrays
};
extern slot_table table;

// -6 for a handle outside the table, -32 for a freed slot, else 0.
inline qor_status check_handle(qor_handle handle) noexcept {
    if (handle < 0 || handle >= table.count) return qor_err_handle;
    return table.slots[handle] ? qor_ok : qor_err_invalid;
}
// The array of a handle that passed the check.
inline ary* array_at(qor_handle handle) noexcept { return table.slots[handle]; }

template <std::size_t N>
struct resolved {
    qor_status status;          // the first failing handle's status, or 0
    std::array<ary*, N> arrays; // filled only when status is 0
};

// Checks handles in argument order, stopping at the first failure; on success yields the arrays.
// Always inlined: as a call of its own it was a tenth of a short sub-array copy.
template <class... Handles>
[[gnu::always_inline]] inline resolved<sizeof...(Handles)> resolve(Handles... handles) noexcept {
    resolved<sizeof...(Handles)> r{qor_ok, {}};
    std::size_t i = 0;
    for (qor_handle h : {static_cast<qor_handle>(handles)...}) {
        if ((r.status = check_handle(h)) != qor_ok) return r;
        r.arrays[i++] = array_at(h);
    }
    return r;
}

}  // namespace qor::frame
