// The random generators beside a plain scalar loop of the same sequence and beside the usual
// Gaussian sources (a polar method over a 32-bit Mersenne twister, std::normal_distribution), and
// the quadratic fit beside one plain pass over its samples.
//   qor_bench_random [filter...] [--levels]
// --levels adds every level's variant of the generators beside the plain scalar loop.
#include <cstdint>
#include <cstdio>
#include <string>

#include "harness.hpp"
#include "kernels/kernels.hpp"
#include "kernels/random_state.hpp"
#include "kernels/runtime/cpu.hpp"
#include "qor_lib.h"
#include "random_peers.hpp"

using namespace qor::bench;
using namespace qor::krn;
namespace peers = qor::bench::random_peers;

namespace {

struct context {
    int argc;
    char** argv;
    bool levels = false;
    bool wanted(const std::string& name) const { return selected(name, argc, argv); }
};

// One level's generators at n elements, each a fresh state and one call, as the operations do.
void generator_rows(table& t, const context& c, int64_t n, int level, const std::string& suffix) {
    buffer<float> f(n);
    buffer<double> d(n);
    buffer<int16_t> s(n);
    const int len = int(n);
    const double io32 = 4.0 * double(n), io64 = 8.0 * double(n);
    if (c.wanted("uniform_32f" + suffix))
        t.add("krn_rand_uniform_32f" + suffix, n, io32,
              {"ours",
               [&] {
                   krn_rand_uniform_state_32f st;
                   krn_rand_uniform_init_32f(&st, -5.0f, 5.0f, 60138);
                   krn_rand_uniform_32f_variant(level)(f.data(), len, &st);
               }},
              {{"scalar", [&] { peers::scalar_uniform_32f(f.data(), n, 60138, -5.0f, 5.0f); }},
               {"std", [&] { peers::std_uniform_32f(f.data(), n, 1); }}});
    if (c.wanted("gauss_32f" + suffix))
        t.add("krn_rand_gauss_32f" + suffix, n, io32,
              {"ours",
               [&] {
                   krn_rand_gauss_state_32f st;
                   krn_rand_gauss_init_32f(&st, 0.0f, 1.0f, 1);
                   krn_rand_gauss_32f_variant(level)(f.data(), len, &st);
               }},
              {{"scalar", [&] { peers::scalar_gauss_32f(f.data(), n, 1, 0.0, 1.0); }},
               {"polar", [&] { peers::polar_mt_32f(f.data(), n, 1); }},
               {"std", [&] { peers::std_normal_32f(f.data(), n, 1); }}});
    if (c.wanted("gauss_64f" + suffix))
        t.add("krn_rand_gauss_64f" + suffix, n, io64,
              {"ours",
               [&] {
                   krn_rand_gauss_state_64f st;
                   krn_rand_gauss_init_64f(&st, 0.0, 1.0, 1);
                   krn_rand_gauss_64f_variant(level)(d.data(), len, &st);
               }},
              {{"scalar", [&] { peers::scalar_gauss_64f(d.data(), n, 1, 0.0, 1.0); }},
               {"polar", [&] { peers::polar_mt_64f(d.data(), n, 1); }},
               {"std", [&] { peers::std_normal_64f(d.data(), n, 1); }}});
    if (c.wanted("gauss_16s" + suffix))
        t.add("krn_rand_gauss_16s" + suffix, n, 2.0 * double(n),
              {"ours",
               [&] {
                   krn_rand_gauss_state_16s st;
                   krn_rand_gauss_init_16s(&st, 0, 1000, 1);
                   krn_rand_gauss_16s_variant(level)(s.data(), len, &st);
               }},
              {{"scalar", [&] { peers::scalar_gauss_32f(f.data(), n, 1, 0.0, 1000.0); }}});
}

volatile uint32_t read_sink;

}  // namespace

int main(int argc, char** argv) {
    context c{argc, argv};
    for (int i = 1; i < argc; ++i) c.levels |= std::string(argv[i]) == "--levels";
    const int level = cpu::detect_level();
    std::printf("# processor level %d; ratio = peer time / our time (above 1: ours is faster)\n", level);

    table gen("Generators, one fresh state and one call");
    gen.print_header();
    for (int64_t n : standard_sizes) generator_rows(gen, c, n, level, "");
    if (c.levels) {
        table lv("Generators at every level, 1M elements");
        lv.print_header();
        for (int l = 0; l <= level; ++l) generator_rows(lv, c, 1048576, l, " l" + std::to_string(l));
    }

    table ops("Operations");
    ops.print_header();
    for (int64_t n : standard_sizes) {
        registry_array y(n, qor_fmt_32f), coef(4, qor_fmt_32f), g(n, qor_fmt_32f);
        qor_test_rand(y.h, 0.001f, 0.5f, 3.0f);
        if (c.wanted("qor_quadratic_fit"))
            ops.add("qor_quadratic_fit", n, 4.0 * double(n), {"ours", [&] { qor_quadratic_fit(y.h, coef.h); }},
                    {{"read", [&] { read_sink = peers::read_pass(y.buf(), n); }}});
        if (c.wanted("qor_gaussian_rand"))
            ops.add("qor_gaussian_rand 32f", n, 4.0 * double(n), {"ours", [&] { qor_gaussian_rand(g.h, 0, 1, 1); }},
                    {{"std", [&] { peers::std_normal_32f(g.buf(), n, 1); }}});
        if (c.wanted("qor_test_rand"))
            ops.add("qor_test_rand", n, 4.0 * double(n), {"ours", [&] { qor_test_rand(g.h, 0.001f, 0.5f, 3.0f); }},
                    {{"scalar", [&] { peers::scalar_uniform_32f(g.buf(), n, 60138, -5.0f, 5.0f); }}});
    }
    return 0;
}
