// A bound for each call that waits inside, so that a failure says which wait
// hung rather than leaving it to the test runner's time-out.
#pragma once

#include <QTimer>
#include <QtTest>

#include <chrono>

// Runs call, which waits inside (the control's synchronous members, the
// controller's waits), with a watchdog: one still waiting after seconds stops
// the suite at once and says which wait hung, instead of leaving it to the
// test runner's time-out. The wait runs the event loop, so the timer fires.
template<typename Call>
auto boundedWait(const char *what, Call &&call, int seconds = 10)
{
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [what, seconds] { qFatal("%s still waits after %d s", what, seconds); });
    watchdog.start(std::chrono::seconds(seconds));
    return call();
}
