// Timing helpers shared by the benchmark parts: a clock, medians over
// bounded repetitions, the event-loop drain that makes a figure include the
// layout and paint the operator waits for, and the process's memory.
#pragma once

#include <QString>

#include <chrono>
#include <functional>
#include <vector>

namespace Bench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template<typename F>
double timeMs(F &&work)
{
    const Clock::time_point start = Clock::now();
    work();
    return msSince(start);
}

double median(std::vector<double> values);

// How often to repeat a measurement: at most maxRuns times, and no new run
// once maxSeconds have passed (counting the untimed preparation too), but at
// least minRuns times when they fit in the time.
struct Runs
{
    int maxRuns = 15;
    double maxSeconds = 10.0;
    int minRuns = 3;
};

// Calls prepare() (untimed) and then measure() (which returns the time of
// one run in ms) up to the bounds of runs; returns the times.
std::vector<double> repeat(const Runs &runs, const std::function<void()> &prepare,
                           const std::function<double()> &measure);

// Lets the queued work of the GUI thread run: delayed item layouts, posted
// update requests and the paint they trigger.
void settle();

// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"); -1 when unknown.
long statusKb(const char *field);

// One line about this machine: CPU model and number of cores.
QString machineDescription();

// The one-minute load average, e.g. "0.12" (other work on the machine skews
// every figure).
QString loadAverage();

} // namespace Bench
