// Under libFuzzer a broken property aborts, so the input becomes a crash
// artifact that can be replayed and turned into a regression case.
#include "fuzzcheck.h"

#include <cstdio>
#include <cstdlib>

namespace VelmoraFuzz {

void failure(const std::string &what, const char *file, int line)
{
    std::fprintf(stderr, "\n*** property broken at %s:%d: %s\n", file, line, what.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace VelmoraFuzz
