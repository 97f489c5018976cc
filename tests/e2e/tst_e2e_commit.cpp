// The whole cycle against a real velmora-server on 127.0.0.1, on SQLite and
// on PostgreSQL: load, move with the mouse, commit, and the reload showing
// what the database now holds.

#include "controlharness.h"

#include "centerstore.h"
#include "httpserver.h"
#include "testdatabases.h"

#include <QSqlError>
#include <QSqlQuery>

using namespace Harness;
using StoredCenter = VelmoraServerCore::Center;
using VelmoraServerCore::CenterStore;
using VelmoraServerCore::VelmoraServer;

class TestEndToEndCommit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loadMoveCommitReload_data();
    void loadMoveCommitReload();
    void refusedCommitKeepsTheChangesAndTheRetrySucceeds_data();
    void refusedCommitKeepsTheChangesAndTheRetrySucceeds();

private:
    bool startServer(const QString &backend, const QString &employeeAssigned);
    bool loadEmployee12(Velmora &c);

    std::unique_ptr<TestDatabases> m_databases;
    std::unique_ptr<VelmoraServer> m_server;
    QString m_address;
};

bool TestEndToEndCommit::startServer(const QString &backend, const QString &employeeAssigned)
{
    m_databases = std::make_unique<TestDatabases>();
    m_address = m_databases->create(backend, QStringLiteral("e2e_commit"));
    CenterStore store({m_address});
    CenterStore::Error error;
    if (!store.ensureSchema(&error))
        qWarning() << error.message;
    QList<StoredCenter> centers;
    for (int id = 1; id <= 6; ++id)
        centers.append({id, QStringLiteral("Work Center %1").arg(id), id != 6});
    if (!store.putCenters(centers, &error)) {
        qWarning() << error.message;
        return false;
    }
    store.close();
    {
        QSqlDatabase db = TestDatabases::connect(m_address, QStringLiteral("seed") + QString::number(quintptr(this)) + backend);
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("INSERT INTO \"CenterEmployeeCrossReference\" (\"EmployeeID\", \"CenterID\", \"RecordLastUpdated\") "
                                   "VALUES (%1, 2, CURRENT_TIMESTAMP)").arg(employeeAssigned))) {
            qWarning() << q.lastError().text();
            return false;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("seed") + QString::number(quintptr(this)) + backend);

    VelmoraServer::Options options;
    options.port = 0;
    options.database = m_address;
    m_server = std::make_unique<VelmoraServer>(options);
    QString startError;
    if (!m_server->start(&startError)) {
        qWarning() << startError;
        return false;
    }
    return true;
}

bool TestEndToEndCommit::loadEmployee12(Velmora &c)
{
    if (!c.setEmployeeID(QStringLiteral("12")))
        return false;
    c.setServerName(QStringLiteral("http://127.0.0.1:%1").arg(m_server->port()));
    c.show();
    return QTest::qWaitForWindowExposed(&c) && lstSelected(c)->count() > 0;
}

static QList<qint32> assigned(const QString &address, qint32 employee)
{
    CenterStore store({address});
    QList<qint32> ids;
    CenterStore::Error error;
    store.assignedCenters(employee, &ids, &error);
    return ids;
}

void TestEndToEndCommit::loadMoveCommitReload_data()
{
    TestDatabases::addBackendColumn();
    for (const QString &backend : TestDatabases::backends())
        TestDatabases::addBackendRow(backend, QStringLiteral("employee 12"));
}

void TestEndToEndCommit::loadMoveCommitReload()
{
    QFETCH(QString, backend);
    if (!TestDatabases::require(backend))
        return;
    QVERIFY(startServer(backend, QStringLiteral("12")));
    Velmora c;
    ModalWatcher watcher;
    QVERIFY(loadEmployee12(c));
    // Inactive center 6 is not offered.
    QCOMPARE(ids(lstCenters(c)), (QStringList{"1", "3", "4", "5"}));
    QCOMPARE(ids(lstSelected(c)), QStringList{"2"});

    doubleClickRow(lstCenters(c), rowOf(lstCenters(c), "4"));
    clickRow(lstCenters(c), rowOf(lstCenters(c), "1"));
    clickRow(lstCenters(c), rowOf(lstCenters(c), "5"), Qt::ControlModifier);
    QTest::mouseClick(button(c, "cmdAddAll"), Qt::LeftButton);
    doubleClickRow(lstSelected(c), rowOf(lstSelected(c), "2"));
    QTest::mouseClick(button(c, "cmdCommit"), Qt::LeftButton);

    QCOMPARE(watcher.messages.size(), 1);
    QVERIFY2(watcher.messages.first().text.contains(QLatin1String("3")), qPrintable(watcher.messages.first().text));
    QCOMPARE(assigned(m_address, 12), (QList<qint32>{1, 4, 5}));
    QCOMPARE(ids(lstSelected(c)), (QStringList{"1", "4", "5"}));
    QCOMPARE(keys(lstSelected(c)), (QStringList{"000001", "000004", "000005"}));
    QCOMPARE(keys(lstCenters(c)), (QStringList{"000002", "000003"}));
    QCOMPARE(buttonStates(c), QStringLiteral("00000"));
}

void TestEndToEndCommit::refusedCommitKeepsTheChangesAndTheRetrySucceeds_data()
{
    loadMoveCommitReload_data();
}

void TestEndToEndCommit::refusedCommitKeepsTheChangesAndTheRetrySucceeds()
{
    QFETCH(QString, backend);
    if (!TestDatabases::require(backend))
        return;
    QVERIFY(startServer(backend, QStringLiteral("12")));
    Velmora c;
    ModalWatcher watcher;
    QVERIFY(loadEmployee12(c));
    doubleClickRow(lstCenters(c), rowOf(lstCenters(c), "3"));
    // Center 3 goes inactive behind the operator's back: the insert is refused.
    {
        CenterStore store({m_address});
        CenterStore::Error error;
        QVERIFY(store.putCenters({{3, QStringLiteral("Work Center 3"), false}}, &error));
    }
    QTest::mouseClick(button(c, "cmdCommit"), Qt::LeftButton);
    QCOMPARE(watcher.messages.size(), 1);
    QCOMPARE(watcher.messages.first().text, QStringLiteral("Error During saving to Database"));
    QCOMPARE(assigned(m_address, 12), QList<qint32>{2});
    QCOMPARE(keys(lstSelected(c)), (QStringList{"000002", "000003N"}));
    QVERIFY(button(c, "cmdCommit")->isEnabled());

    {
        CenterStore store({m_address});
        CenterStore::Error error;
        QVERIFY(store.putCenters({{3, QStringLiteral("Work Center 3"), true}}, &error));
    }
    QTest::mouseClick(button(c, "cmdCommit"), Qt::LeftButton);
    QCOMPARE(assigned(m_address, 12), (QList<qint32>{2, 3}));
    QCOMPARE(keys(lstSelected(c)), (QStringList{"000002", "000003"}));
}

QTEST_MAIN(TestEndToEndCommit)
#include "tst_e2e_commit.moc"
