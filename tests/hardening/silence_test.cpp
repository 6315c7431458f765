// The library's only output is the kernel report line: a successful call writes nothing to file
// descriptor 1, a warning or failing one exactly its lines, already flushed when the call returns.
// Checked on the descriptor itself, beneath every stream buffer.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#if defined(_WIN32)
#  include <io.h>
#  define dup _dup
#  define dup2 _dup2
#  define fileno _fileno
#  define close _close
#else
#  include <unistd.h>
#endif

#include "support/export_catalogue.hpp"

namespace {

// Points descriptor 1 at a temporary file for the duration of one call; nothing is flushed on the
// library's behalf, so output it left in a buffer is missed and the test fails.
template <class Call>
std::string descriptor_output(Call&& call) {
    std::fflush(stdout);
    std::FILE* sink = std::tmpfile();
    if (!sink) return "<no temporary file>";
    const int saved = dup(1);
    dup2(fileno(sink), 1);
    call();
    dup2(saved, 1);
    close(saved);
    std::string out;
    std::rewind(sink);
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, sink)) > 0) out.append(buf, n);
    std::fclose(sink);
    return out;
}

}  // namespace

TEST(Silence, EachExportWritesExactlyItsReportLines) {
    for (const auto& c : qor::test::export_cases()) {
        qor::test::export_fixture f;
        qor_status st = 0;
        const std::string out = descriptor_output([&] { st = c.call(f); });
        EXPECT_EQ(st, c.expected) << c.name;
        EXPECT_EQ(out, c.report) << c.name;
    }
}
