// The histogram specification's layout, shared by the baseline builder and the counting kernels.
// Included inside a namespace (a level's or the baseline's): it holds constants only.
#pragma once

namespace hist {

// Kernel type codes the builder accepts.
constexpr int type_8u = 1;
constexpr int type_16u = 5;
constexpr int type_16s = 7;
constexpr int type_32f = 13;

// Byte offsets: type code, channel count, even-spacing flag, tag, then per channel (up to four)
// the level count, the step and a pointer to the levels; the levels themselves follow from 80.
constexpr int off_type = 0;
constexpr int off_channels = 4;
constexpr int off_even = 8;
constexpr int off_tag = 12;
constexpr int off_level_counts = 16;
constexpr int off_steps = 32;
constexpr int off_level_ptrs = 48;
constexpr int off_levels = 80;
constexpr char tag[4] = {'h', 'i', 's', 't'};

constexpr bool valid_channels(int channels) { return channels == 1 || channels == 3 || channels == 4; }

// Counters of the 16-bit table, one per sample value.
constexpr int table_counters = 65536;

}  // namespace hist
