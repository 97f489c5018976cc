#include "testdatabases.h"

#include "store/centerstore.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <atomic>

static QString postgresBase()
{
    return qEnvironmentVariable("VELMORA_TEST_PG");
}

bool TestDatabases::require(const QString &backend)
{
    if (backend != u"postgresql" || !postgresBase().isEmpty())
        return true;
    if (qEnvironmentVariable("CI") == u"true")
        QTest::qFail("VELMORA_TEST_PG is not set on CI: export VELMORA_TEST_PG=$(bash .ci/postgres.sh)", __FILE__, __LINE__);
    else
        QTest::qSkip("PostgreSQL not configured (set VELMORA_TEST_PG=postgresql://...)", __FILE__, __LINE__);
    return false;
}

TestDatabases::TestDatabases() = default;

TestDatabases::~TestDatabases()
{
    if (!m_schemas.isEmpty()) {
        QSqlQuery query(connect(postgresBase(), QStringLiteral("testdatabases-cleanup")));
        query.exec(QStringLiteral("SET client_min_messages TO WARNING"));
        for (const QString &schema : std::as_const(m_schemas))
            query.exec(QStringLiteral(R"(DROP SCHEMA IF EXISTS "%1" CASCADE)").arg(schema));
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
    m_schemas << QStringLiteral("t%1_%2_%3").arg(QCoreApplication::applicationPid()).arg(number)
                     .arg(QCoreApplication::applicationName().left(20).replace(u'-', u'_'));
    QUrl url(postgresBase());
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("schema"), m_schemas.last());
    if (!appName.isEmpty())
        query.addQueryItem(QStringLiteral("application_name"), appName);
    url.setQuery(query);
    return url.toString();
}

QSqlDatabase TestDatabases::connect(const QString &address, const QString &connectionName)
{
    const QUrl url(address);
    const bool postgres = address.startsWith(u"postgres");
    QSqlDatabase db = QSqlDatabase::addDatabase(postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(postgres ? url.path().mid(1) : address);
    db.setHostName(url.host());
    db.setPort(url.port(-1));
    db.setUserName(url.userName());
    db.setPassword(url.password());
    const QString schema = QUrlQuery(url).queryItemValue(QStringLiteral("schema"));
    if (db.open() && postgres && !schema.isEmpty())
        QSqlQuery(db).exec(QStringLiteral(R"(SET search_path TO "%1")").arg(schema));
    return db;
}


bool TestDatabases::putCenters(const QString &address, int count, bool lastInactive)
{
    QList<VelmoraServerCore::Center> centers;
    for (int id = 1; id <= count; ++id)
        centers.append({id, QStringLiteral("Center %1").arg(id), !lastInactive || id < count});
    VelmoraServerCore::CenterStore store({address});
    VelmoraServerCore::CenterStore::Error error;
    return (store.ensureSchema(&error) && store.putCenters(centers, &error)) || (qWarning("%s", qPrintable(error.message)), false);
}

QList<qint32> TestDatabases::assigned(const QString &address, qint32 employee)
{
    QList<qint32> centers;
    VelmoraServerCore::CenterStore::Error error;
    return VelmoraServerCore::CenterStore({address}).assignedCenters(employee, &centers, &error) ? centers : QList<qint32>{-1};
}
