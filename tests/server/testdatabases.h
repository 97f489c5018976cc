// The databases a server suite runs on: SQLite in a temporary directory
// always, and PostgreSQL when VELMORA_TEST_PG holds a URL (on CI it must).
// Every test gets a database of its own: a new file, or a new schema that is
// dropped again afterwards.
#pragma once

#include <QHash>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestDatabases
{
public:
    // "sqlite" and "postgresql".
    static QStringList backends();

    // Adds a QString column "backend" and one row per backend, named prefix
    // plus the backend, for suites whose other columns are the same on both.
    static void addBackendColumn();
    static void addBackendRow(const QString &backend, const QString &name);

    // Call at the start of a test function for the backend of the row: skips
    // PostgreSQL without VELMORA_TEST_PG, or fails when CI=true.
    // Returns false when the test must return (after QSKIP/QFAIL).
    static bool require(const QString &backend);

    explicit TestDatabases();
    ~TestDatabases();

    // A fresh, empty database address of the backend. appName is given to
    // PostgreSQL as application_name, so that a test can find its sessions.
    QString create(const QString &backend, const QString &appName = QString());

    // A plain connection to address for direct checks (schema of the address
    // selected), opened on the calling thread.
    static QSqlDatabase connect(const QString &address, const QString &connectionName);

private:
    QTemporaryDir m_dir;
    QStringList m_schemas;
};

// Rows of a data-driven test read from a text file, one row a line, fields
// separated by tabs:
//   # ...                     a comment
//   @name<TAB>value           defines {name} for the lines after it
//   row<TAB>TYPE column...    the first other line: each column's type (int,
//                             QString, QByteArray, QStringList, QList<qint32>)
//                             and name
//   name<TAB>value...         a row, under its name
// In a value, {name} is a definition of the file or one of values, {N*text}
// the text N times, and \HH (two hex digits) the byte HH: \0D\0A is a line
// break of HTTP, \5C a backslash, \7B a '{'. A QStringList is split at '|',
// a QList<qint32> at blanks. A line that does not fit stops the suite.
namespace TestTable {
void load(const char *path, QHash<QByteArray, QByteArray> values = {});
}
