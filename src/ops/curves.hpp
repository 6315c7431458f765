// The curve, ramp and tone workers, for the operations that build on them (test signal, fits).
#pragma once
#include "qor_lib.h"

namespace qor::ops {

// Fills coef with a, b, c, 0: an owning 4-element 32f array (holding no data if allocation fails).
void make_coefficients(ary& coef, float a, float b, float c);

// dst = (a x + b) x + c over the ramp x = x0 + dx i, with a, b, c = coef[0..2] (coef: 32f, length
// at least 4). The chain of kernels fixes the rounding of every element.
qor_status quadratic_curve(ary& dst, const ary& coef, float x0, float dx);

// dst = height e^(k (x - centre)^2), k = -0.5 / width^2, over the ramp x = x0 + dx i, with
// centre, width, height = coef[0..2].
qor_status gaussian_curve(ary& dst, const ary& coef, float x0, float dx);

// dst = amplitude sin(2 pi frequency i + phase pi / 180) + offset.
qor_status sin_curve(ary& dst, float frequency, float amplitude, float offset, float phase);

// The ramp and tone workers (16u/32f ramps; 16s/32f/64f tones), one kernel call each.
qor_status vector_slope(ary& dst, float offset, float slope);
qor_status vector_tone(ary& dst, float magnitude, float rfreq, float phase);

}  // namespace qor::ops
