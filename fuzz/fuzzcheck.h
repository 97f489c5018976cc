// Checks inside the fuzz harnesses. A failed check is a finding: under
// libFuzzer it aborts (fuzzabort.cpp) so that the input is saved as a crash;
// in the regression suite it throws, so that the test names the broken
// property and the input that broke it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace VelmoraFuzz {

[[noreturn]] void failure(const std::string &what, const char *file, int line);

// The harnesses, one per fuzz target. Each returns 0 (libFuzzer's "keep
// going"); a property that does not hold calls failure().
int formBody(const std::uint8_t *data, std::size_t size);
int statementText(const std::uint8_t *data, std::size_t size);
int centerDocument(const std::uint8_t *data, std::size_t size);
int roundTrip(const std::uint8_t *data, std::size_t size);

} // namespace VelmoraFuzz

#define VELMORA_FUZZ_CHECK(condition, what)                                  \
    do {                                                                     \
        if (!(condition))                                                    \
            ::VelmoraFuzz::failure(std::string(what), __FILE__, __LINE__);   \
    } while (false)

// The libFuzzer entry point of one harness; left out when the harnesses are
// linked together into the regression suite.
#ifdef VELMORA_FUZZ_REPLAY
#define VELMORA_FUZZ_ENTRY(harness)
#else
#define VELMORA_FUZZ_ENTRY(harness)                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) \
    {                                                                                \
        return ::VelmoraFuzz::harness(data, size);                                   \
    }
#endif
