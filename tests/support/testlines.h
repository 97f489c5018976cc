// Printed lists compared line by line: on a difference both lists are
// printed, numbered, with the first line that differs marked, so that a
// failure shows what differs rather than that something does.
#pragma once

#include <QStringList>

namespace TestLines {

// True when actual and expected hold the same lines; otherwise fails the
// running test with both lists, named by the texts given.
bool compare(const QStringList &actual, const QStringList &expected, const char *actualName, const char *expectedName,
             const char *file, int line);

} // namespace TestLines

// As QCOMPARE, for two QStringLists.
#define COMPARE_LINES(actual, expected)                                                                          \
    do {                                                                                                         \
        if (!TestLines::compare(actual, expected, #actual, #expected, __FILE__, __LINE__))                      \
            return;                                                                                              \
    } while (false)
