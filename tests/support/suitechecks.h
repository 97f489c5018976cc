// Checks the suites share: a bound for each call that waits inside, and
// printed lists compared item by item, so that a failure says which wait
// hung or which item differs.
#pragma once

#include <QStringList>
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

// Where two printed lists part: the first item that differs, is missing or
// is extra, with the whole actual list; empty when they are equal.
inline QString firstDifference(const QStringList &actual, const QStringList &expected)
{
    const auto item = [](const QStringList &list, qsizetype i) {
        return i < list.size() ? QStringLiteral("\"%1\"").arg(list[i]) : QStringLiteral("nothing");
    };
    for (qsizetype i = 0; i < std::max(actual.size(), expected.size()); ++i) {
        if (i >= actual.size() || i >= expected.size() || actual[i] != expected[i])
            return QStringLiteral("item %1 is %2 where %3 was expected, in: %4")
                .arg(i + 1).arg(item(actual, i), item(expected, i), actual.join(u' '));
    }
    return {};
}

#define COMPARE_ITEMS(actual, expected)                                                                                \
    do {                                                                                                               \
        const QString difference = firstDifference(actual, expected);                                                 \
        QVERIFY2(difference.isEmpty(), qPrintable(difference));                                                       \
    } while (false)
