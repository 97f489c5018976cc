// Table files of test rows: one row a line, fields separated by tabs, the
// first field the row's name; lines starting with '#' say what the columns
// are. Fields are percent-decoded (%09 a tab, %25 a percent sign, %C3%A9 an
// e with acute accent in UTF-8), so any text or bytes fit on a line.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>

inline QList<QList<QByteArray>> tableRows(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    QList<QList<QByteArray>> rows;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QList<QByteArray> fields = line.split('\t');
        for (QByteArray &field : fields)
            field = QByteArray::fromPercentEncoding(field);
        rows.append(fields);
    }
    return rows;
}
