// The quadratic-fit worker, for the exported fit and for fits that run it on samples of their own.
#pragma once
#include "qor_lib.h"

namespace qor::ops {

// Fits y = a x^2 + b x + c to the 32f samples of source on the grid x = x0 + dx i and writes a, b
// and c to elements 0..2 of destination (32f, at least 4 elements; element 3 is left alone).
// Block-difference estimate over three blocks of n / 3 samples; c from all n residuals.
qor_status quadratic_fit(const ary* source, ary* destination, float x0, float dx);

}  // namespace qor::ops
