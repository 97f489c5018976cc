#include "testlines.h"

#include <QTest>

namespace {

// The list, one numbered line each, the first differing one marked.
QString printed(const QStringList &lines, qsizetype differing)
{
    QString text;
    for (qsizetype i = 0; i < lines.size(); ++i)
        text += QStringLiteral("\n   %1 %2  %3").arg(i == differing ? u'>' : u' ').arg(i + 1, 3).arg(lines[i]);
    if (differing >= lines.size())
        text += QStringLiteral("\n   > %1  (no line)").arg(differing + 1, 3);
    return text;
}

} // namespace

bool TestLines::compare(const QStringList &actual, const QStringList &expected, const char *actualName,
                        const char *expectedName, const char *file, int line)
{
    qsizetype first = 0;
    while (first < actual.size() && first < expected.size() && actual[first] == expected[first])
        ++first;
    if (first == actual.size() && first == expected.size())
        return true;
    const QString message = QStringLiteral("The lists differ from line %1 on.\n   Actual (%2):%3\n   Expected (%4):%5")
                                .arg(first + 1)
                                .arg(QLatin1StringView(actualName), printed(actual, first), QLatin1StringView(expectedName),
                                     printed(expected, first));
    QTest::qFail(qPrintable(message), file, line);
    return false;
}
