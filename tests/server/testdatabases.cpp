#include "testdatabases.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <atomic>

namespace {

QString postgresBase()
{
    return qEnvironmentVariable("VELMORA_TEST_PG");
}

QString withQuery(const QString &base, const QList<std::pair<QString, QString>> &items)
{
    QUrl url(base);
    QUrlQuery query(url);
    for (const auto &[key, value] : items)
        query.addQueryItem(key, value);
    url.setQuery(query);
    return url.toString();
}

} // namespace

QStringList TestDatabases::backends()
{
    return {QStringLiteral("sqlite"), QStringLiteral("postgresql")};
}

void TestDatabases::addBackendColumn()
{
    QTest::addColumn<QString>("backend");
}

void TestDatabases::addBackendRow(const QString &backend, const QString &name)
{
    QTest::newRow(qPrintable(backend + QStringLiteral(": ") + name)) << backend;
}

bool TestDatabases::require(const QString &backend)
{
    if (backend != u"postgresql" || !postgresBase().isEmpty())
        return true;
    if (qEnvironmentVariable("CI") == u"true") {
        QTest::qFail("VELMORA_TEST_PG is not set on CI: start PostgreSQL with "
                     "export VELMORA_TEST_PG=$(bash .ci/postgres.sh)",
                     __FILE__, __LINE__);
    } else {
        QTest::qSkip("PostgreSQL not configured (set VELMORA_TEST_PG=postgresql://...)", __FILE__, __LINE__);
    }
    return false;
}

TestDatabases::TestDatabases() = default;

TestDatabases::~TestDatabases()
{
    if (m_schemas.isEmpty())
        return;
    {
        QSqlDatabase db = connect(postgresBase(), QStringLiteral("testdatabases-cleanup"));
        QSqlQuery query(db);
        query.exec(QStringLiteral("SET client_min_messages TO WARNING"));
        for (const QString &schema : std::as_const(m_schemas))
            query.exec(QStringLiteral(R"(DROP SCHEMA IF EXISTS "%1" CASCADE)").arg(schema));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("testdatabases-cleanup"));
}

QString TestDatabases::create(const QString &backend, const QString &appName)
{
    // Process-wide, so that two sets of databases never share a name.
    static std::atomic<int> counter{0};
    const int number = ++counter;
    if (backend == u"sqlite")
        return m_dir.filePath(QStringLiteral("db%1.sqlite").arg(number));
    const QString schema = QStringLiteral("t%1_%2_%3")
                               .arg(QCoreApplication::applicationPid())
                               .arg(number)
                               .arg(QCoreApplication::applicationName().left(20).replace(u'-', u'_'));
    m_schemas << schema;
    QList<std::pair<QString, QString>> items{{QStringLiteral("schema"), schema}};
    if (!appName.isEmpty())
        items.append({QStringLiteral("application_name"), appName});
    return withQuery(postgresBase(), items);
}

QSqlDatabase TestDatabases::connect(const QString &address, const QString &connectionName)
{
    if (!address.startsWith(u"postgres")) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(address);
        db.open();
        return db;
    }
    const QUrl url(address);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
    db.setHostName(url.host());
    db.setPort(url.port(-1));
    db.setUserName(url.userName());
    db.setPassword(url.password());
    db.setDatabaseName(url.path().mid(1));
    if (!db.open())
        return db;
    const QString schema = QUrlQuery(url).queryItemValue(QStringLiteral("schema"));
    if (!schema.isEmpty())
        QSqlQuery(db).exec(QStringLiteral(R"(SET search_path TO "%1")").arg(schema));
    return db;
}
