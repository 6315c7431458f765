// The first kernel call of a process chooses the level: before it the level reads -1, after it
// the level is the detected one and stays so. An optional argument names the expected level.
#include <cstdio>
#include <cstdlib>

#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"

int main(int argc, char** argv) {
    using namespace qor::krn;
    if (process_level() != -1) {
        std::printf("level before the first kernel call: %d, expected -1\n", process_level());
        return 1;
    }
    unsigned char byte = 1;
    if (krn_set_8u(7, &byte, 1) != krn_ok || byte != 7) return 1;
    const int level = process_level();
    std::printf("processor level %d\n", level);
    if (level < 0 || level > 5 || level != cpu::detect_level()) return 1;
    if (argc > 1 && level != std::atoi(argv[1])) {
        std::printf("expected level %s\n", argv[1]);
        return 1;
    }
    krn_set_8u(9, &byte, 1);
    return process_level() == level && byte == 9 ? 0 : 1;
}
