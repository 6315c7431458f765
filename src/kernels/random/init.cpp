// Size queries and init of the generator records: plain stores, the same at every level.
#include <cstring>

#include "kernels/random_state.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::base {
namespace {

// The lagged words for a seed: the seed, then two steps of the linear congruence from it.
void seed_core(uint32_t seed, uint32_t& r1, uint32_t& r2, uint32_t& r3, uint32_t& c) {
    r1 = seed;
    r2 = seed * core_multiplier + core_increment;
    r3 = r2 * core_multiplier + core_increment;
    c = core_initial_borrow;
}

template <class State, class Value>
int init_gauss(State* state, int32_t id, Value mean, Value stdev, uint32_t seed) {
    if (!state) return krn_err_null;
    std::memset(static_cast<void*>(state), 0, sizeof(State));
    state->id = id;
    state->seed = seed;
    state->mean = mean;
    state->stdev = stdev;
    state->lcg = core_initial_lcg;
    seed_core(seed, state->run.r1, state->run.r2, state->run.r3, state->run.c);
    state->run.no_spare = 1;
    state->run.factor = state->run.w1 = state->run.w2 = 0.0;
    return krn_ok;
}

int put_size(int32_t* size, int32_t bytes) {
    if (!size) return krn_err_null;
    *size = bytes;
    return krn_ok;
}

}  // namespace

int krn_rand_gauss_get_size_32f(int32_t* size) { return put_size(size, sizeof(krn_rand_gauss_state_32f)); }
int krn_rand_gauss_get_size_64f(int32_t* size) { return put_size(size, sizeof(krn_rand_gauss_state_64f)); }
int krn_rand_gauss_get_size_16s(int32_t* size) { return put_size(size, sizeof(krn_rand_gauss_state_16s)); }

int krn_rand_gauss_init_32f(krn_rand_gauss_state_32f* state, float mean, float stdev, uint32_t seed) {
    return init_gauss(state, rand_gauss_id_32f, mean, stdev, seed);
}
int krn_rand_gauss_init_64f(krn_rand_gauss_state_64f* state, double mean, double stdev, uint32_t seed) {
    return init_gauss(state, rand_gauss_id_64f, mean, stdev, seed);
}
int krn_rand_gauss_init_16s(krn_rand_gauss_state_16s* state, int16_t mean, int16_t stdev, uint32_t seed) {
    return init_gauss(state, rand_gauss_id_16s, mean, stdev, seed);
}

int krn_rand_uniform_init_32f(krn_rand_uniform_state_32f* state, float low, float high, uint32_t seed) {
    if (!state) return krn_err_null;
    std::memset(static_cast<void*>(state), 0, sizeof(*state));
    state->id = rand_uniform_id_32f;
    state->seed = seed;
    state->low = low;
    state->high = high;
    // The sum and difference are rounded to single precision first, then widened.
    const float sum = low + high;
    const float span = high - low;
    state->mid = static_cast<double>(sum) * 0.5;
    state->scale = static_cast<double>(span) * 0x1p-32;
    state->lcg = core_initial_lcg;
    seed_core(seed, state->r1, state->r2, state->r3, state->c);
    return krn_ok;
}

}  // namespace qor::krn::base
