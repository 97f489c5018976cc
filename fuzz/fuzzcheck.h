// The fuzz harnesses, shared by the libFuzzer targets and the regression
// suite. A broken property is a finding: under libFuzzer it aborts, so that
// the input is saved as a crash; in the regression suite it throws, so that
// the test names the property and the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace VelmoraFuzz {

[[noreturn]] void failure(const std::string &what);

// One per fuzz target; each returns 0 (libFuzzer's "keep going").
int formBody(const std::uint8_t *data, std::size_t size);      // fuzz_form
int statementText(const std::uint8_t *data, std::size_t size); // fuzz_statement
int centerDocument(const std::uint8_t *data, std::size_t size); // fuzz_document
int roundTrip(const std::uint8_t *data, std::size_t size);     // fuzz_roundtrip

} // namespace VelmoraFuzz

#define VELMORA_FUZZ_CHECK(condition, what)           \
    do {                                              \
        if (!(condition))                             \
            ::VelmoraFuzz::failure(std::string(what)); \
    } while (false)
