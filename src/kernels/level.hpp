// Names the namespace of the level this translation unit is compiled for (QOR_LEVEL 0..5).
// Every family source puts its code, and every shared helper it includes, inside it, so the
// six copies link side by side and no AVX copy of a helper can stand in for a baseline one.
#pragma once

#if !defined(QOR_LEVEL)
#  error "kernel families are compiled once per level with -DQOR_LEVEL=N"
#elif QOR_LEVEL == 0
#  define QOR_LEVEL_NS l0
#elif QOR_LEVEL == 1
#  define QOR_LEVEL_NS l1
#elif QOR_LEVEL == 2
#  define QOR_LEVEL_NS l2
#elif QOR_LEVEL == 3
#  define QOR_LEVEL_NS l3
#elif QOR_LEVEL == 4
#  define QOR_LEVEL_NS l4
#elif QOR_LEVEL == 5
#  define QOR_LEVEL_NS l5
#else
#  error "QOR_LEVEL must be 0..5"
#endif

// Bytes of the level's floating-point vector: SSE's 16 up to level 2, AVX's 32, AVX-512's 64.
#if QOR_LEVEL >= 5
#  define QOR_FLOAT_VECTOR_BYTES 64
#elif QOR_LEVEL >= 3
#  define QOR_FLOAT_VECTOR_BYTES 32
#else
#  define QOR_FLOAT_VECTOR_BYTES 16
#endif
