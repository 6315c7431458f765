// The registry: a growable table of ary pointers indexed by handle. Slots are never removed; a
// destroyed array leaves a null slot that the next create reuses, lowest first.
#include "frame/registry.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "frame/platform.hpp"

namespace qor::frame {

slot_table table;
slot_table::~slot_table() { std::free(slots); }

namespace {

// The larger of 1.5 x the capacity and the new slot count.
bool grow() {
    if (table.count == INT32_MAX) return false;
    const int64_t wanted = std::max<int64_t>(int64_t{table.capacity} + table.capacity / 2, int64_t{table.count} + 1);
    const int32_t capacity = static_cast<int32_t>(std::min<int64_t>(wanted, INT32_MAX));
    void* grown = std::realloc(table.slots, sizeof(ary*) * size_t(capacity));
    if (!grown) return false;
    table.slots = static_cast<ary**>(grown);
    table.capacity = capacity;
    return true;
}

// The lowest free slot, or a new last one; -1 when the table cannot grow.
int32_t claim_slot() {
    for (int32_t i = 0; i < table.count; ++i)
        if (!table.slots[i]) return i;
    if (table.count == table.capacity && !grow()) return -1;
    table.slots[table.count] = nullptr;
    return table.count++;
}

}  // namespace
}  // namespace qor::frame

using qor::frame::resolve;

extern "C" {

QOR_API qor_status qor_create_array(qor_handle* handle) {
    // Out of memory is the one failure a create can meet: it is reported, not thrown.
    ary* created = new (std::nothrow) ary;
    if (!created) return qor_err_alloc;
    const int32_t slot = qor::frame::claim_slot();
    if (slot < 0) {
        delete created;
        return qor_err_alloc;
    }
    qor::frame::table.slots[slot] = created;
    *handle = slot;
    return qor_ok;
}

QOR_API qor_status qor_destroy_array(qor_handle handle) {
    if (qor_status st = qor::frame::check_handle(handle)) return st;
    delete qor::frame::table.slots[handle];  // the destructor releases an owned buffer
    qor::frame::table.slots[handle] = nullptr;
    return qor_ok;
}

QOR_API qor_status qor_init_array(qor_handle handle, int64_t size, qor_data_format format) {
    auto [st, a] = resolve(handle);
    return st ? st : a[0]->init(size, format);
}

QOR_API qor_status qor_init_array_ex(qor_handle handle, qor_info* info) {
    auto [st, a] = resolve(handle);
    return st ? st : a[0]->init_ext(info);
}

QOR_API qor_status qor_get_info(qor_handle handle, qor_info* info) {
    auto [st, a] = resolve(handle);
    if (!st) a[0]->get_info(info);
    return st;
}

QOR_API qor_status qor_get_buf(qor_handle handle, void** buf) {
    auto [st, a] = resolve(handle);
    if (!st) *buf = a[0]->get_frame_buf();
    return st;
}

QOR_API qor_status qor_get_data_byte(qor_handle handle, uint8_t* bytes) {
    auto [st, a] = resolve(handle);
    if (!st) *bytes = a[0]->get_data_bytes();
    return st;
}

QOR_API qor_status qor_sum(qor_handle handle) { return qor::frame::check_handle(handle); }

}  // extern "C"
