// The bounds both ends of the page keep, each named once.
#pragma once

#include <QtGlobal>

#include <limits>

namespace VelmoraProtocol {

// The most centers a list, a document, a commit or one DELETE may hold:
// counts and positions are signed 16-bit numbers, and going past 32,767 is
// refused, never wrapped around.
inline constexpr int MaxCenters = std::numeric_limits<qint16>::max();
// The lowest count a document may state (a count is a signed 16-bit number).
inline constexpr int MinCount = std::numeric_limits<qint16>::min();

// The largest answer the control reads from the server, and so the largest
// document it parses: 64 MiB.
inline constexpr qint64 MaxAnswerBytes = 64 * 1024 * 1024;

} // namespace VelmoraProtocol
