// The databases a server suite runs on: SQLite in a temporary directory
// always, and PostgreSQL when VELMORA_TEST_PG holds a URL (on CI it must).
// Every test gets a database of its own: a new file, or a new schema that is
// dropped again afterwards.
#pragma once

#include "testtable.h"

#include <QSqlDatabase>
#include <QStringList>
#include <QTemporaryDir>

class TestDatabases
{
public:
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

    // Makes the schema at address and puts centers 1 to count, named
    // "Center N", active but for the last one when lastInactive. False (with
    // the database's reason as a warning) when it cannot.
    static bool putCenters(const QString &address, int count, bool lastInactive = false);

    // The centers the employee holds, or {-1} when they cannot be read.
    static QList<qint32> assigned(const QString &address, qint32 employee);

private:
    QTemporaryDir m_dir;
    QStringList m_schemas;
};

