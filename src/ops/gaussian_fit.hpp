// The Gaussian-fit worker; its kernels are parameters so tests run every level's variants.
#pragma once

#include "frame/worker.hpp"
#include "kernels/kernels.hpp"

namespace qor::ops {

struct gaussian_fit_kernels {
    krn::krn_log1p_32f_fn log1p = krn::krn_log1p_32f;
    krn::krn_convert_32s_32f_fn convert = krn::krn_convert_32s_32f;
};

// Writes the centre, sigma and peak into dst[0..2]; dst keeps its zeros on any failure.
qor_status gaussian_fit_worker(const ary& src, ary& dst, float x0, float dx, const gaussian_fit_kernels& k = {});

}  // namespace qor::ops
