// Limits and defaults that the control, the server and the tests share, each
// named once.
#pragma once

#include <QtGlobal>

#include <chrono>

namespace VelmoraInternal {

// The most centers a list, a document, a commit or one DELETE may hold:
// counts and positions are signed 16-bit numbers, and going past 32,767 is
// refused, never wrapped around.
inline constexpr int MaxCenters = 32767;

// The largest answer the control reads from the server, and so the largest
// document it parses: 64 MiB.
inline constexpr qint64 MaxAnswerBytes = 64 * 1024 * 1024;

// How long a load or a commit waits for a silent server before it fails,
// unless the host sets another time-out.
inline constexpr std::chrono::milliseconds DefaultTimeout{30000};

} // namespace VelmoraInternal
