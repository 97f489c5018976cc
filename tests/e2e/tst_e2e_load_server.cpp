// The control loads from a real velmora-server on 127.0.0.1, on SQLite and on
// PostgreSQL: both lists hold the server's centers with their keys, a change
// in the database shows on the next load, and a server that is gone leaves
// empty lists and a reason.
#include "testdatabases.h"

#include <centerstore.h>
#include <httpserver.h>
#include <sampledata.h>

#include <velmora/velmora.h>

#include <QAbstractItemModel>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include <algorithm>

using namespace VelmoraServerCore;

namespace {

struct Row
{
    QString id;
    QString name;
    QString key;
    bool operator==(const Row &) const = default;
};

// The rows of a list view in ID order (the view sorts by its key column).
QList<Row> rowsOf(const Velmora &control, const char *listName)
{
    const auto *view = control.findChild<QTreeView *>(QLatin1String(listName));
    if (!view)
        qFatal("no list %s", listName);
    const QAbstractItemModel *model = view->model();
    QList<Row> rows;
    for (int r = 0; r < model->rowCount(); ++r) {
        rows.append({model->index(r, 0).data().toString(), model->index(r, 1).data().toString(),
                     model->index(r, 2).data().toString()});
    }
    std::sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.id.toInt() < b.id.toInt(); });
    return rows;
}

QList<Row> expectedRows(const QList<Center> &centers)
{
    QList<Row> rows;
    for (const Center &c : centers)
        rows.append({QString::number(c.id), c.name, QStringLiteral("%1").arg(c.id, 6, 10, QLatin1Char('0'))});
    return rows;
}

// For QCOMPARE's report of the first differing row.
char *toString(const Row &row)
{
    return qstrdup(qPrintable(row.id + u'/' + row.name + u'/' + row.key));
}

} // namespace

class TestEndToEndLoadServer : public QObject
{
    Q_OBJECT

private slots:
    void loadsSeededCenters_data();
    void loadsSeededCenters();
    void reloadShowsDatabaseChanges_data();
    void reloadShowsDatabaseChanges();
    void serverGoneLeavesEmptyLists();

private:
    bool startServer(const QString &backend, QString *why);

    std::unique_ptr<TestDatabases> m_databases;
    std::unique_ptr<VelmoraServer> m_server;
    QString m_address;
};

bool TestEndToEndLoadServer::startServer(const QString &backend, QString *why)
{
    m_server.reset();
    m_databases = std::make_unique<TestDatabases>();
    m_address = m_databases->create(backend, QStringLiteral("e2e_load"));
    {
        CenterStore store({m_address});
        CenterStore::Error error;
        if (!store.ensureSchema(&error) || !store.seedSample(&error)) {
            *why = error.message;
            return false;
        }
    }
    VelmoraServer::Options options;
    options.port = 0;
    options.database = m_address;
    m_server = std::make_unique<VelmoraServer>(options);
    return m_server->start(why);
}

void TestEndToEndLoadServer::loadsSeededCenters_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<int>("employee");
    for (const QString &backend : TestDatabases::backends()) {
        QTest::newRow(qPrintable(backend + QStringLiteral(": employee 1"))) << backend << 1;
        QTest::newRow(qPrintable(backend + QStringLiteral(": employee 5"))) << backend << 5;
        QTest::newRow(qPrintable(backend + QStringLiteral(": employee without assignments"))) << backend << 77;
        QTest::newRow(qPrintable(backend + QStringLiteral(": employee never set"))) << backend << 0;
    }
}

void TestEndToEndLoadServer::loadsSeededCenters()
{
    QFETCH(QString, backend);
    QFETCH(int, employee);
    if (!TestDatabases::require(backend))
        return;
    QString why;
    QVERIFY2(startServer(backend, &why), qPrintable(why));

    Velmora control;
    control.show();
    QSignalSpy failed(&control, &Velmora::loadFailed);
    if (employee != 0)
        QVERIFY(control.setEmployeeID(QString::number(employee)));
    control.setServerName(QStringLiteral("http://127.0.0.1:%1").arg(m_server->port()));

    CenterLists lists;
    {
        CenterStore store({m_address});
        CenterStore::Error error;
        QVERIFY2(store.centerLists(employee, &lists, &error), qPrintable(error.message));
    }
    // The sample gives sample employees some assignments, others none.
    QCOMPARE(lists.selected.isEmpty(), employee < 1 || employee > SampleData::EmployeeCount);
    QTRY_COMPARE_WITH_TIMEOUT(rowsOf(control, "lstCenters"), expectedRows(lists.nonSelected), 10000);
    QCOMPARE(rowsOf(control, "lstSelectedCenters"), expectedRows(lists.selected));
    QCOMPARE(failed.count(), 0);
}

void TestEndToEndLoadServer::reloadShowsDatabaseChanges_data()
{
    QTest::addColumn<QString>("backend");
    for (const QString &backend : TestDatabases::backends())
        QTest::newRow(qPrintable(backend)) << backend;
}

void TestEndToEndLoadServer::reloadShowsDatabaseChanges()
{
    QFETCH(QString, backend);
    if (!TestDatabases::require(backend))
        return;
    QString why;
    QVERIFY2(startServer(backend, &why), qPrintable(why));
    const QString url = QStringLiteral("http://127.0.0.1:%1").arg(m_server->port());

    Velmora control;
    control.show();
    QVERIFY(control.setEmployeeID(QStringLiteral("2")));
    control.setServerName(url);
    QTRY_VERIFY_WITH_TIMEOUT(!rowsOf(control, "lstSelectedCenters").isEmpty(), 10000);
    const QList<Row> before = rowsOf(control, "lstSelectedCenters");

    // Another operator removes the first assignment and adds a free center.
    CenterStore store({m_address});
    CenterStore::Error error;
    CenterLists lists;
    QVERIFY2(store.centerLists(2, &lists, &error), qPrintable(error.message));
    const qint32 removed = lists.selected.first().id;
    const Center added = lists.nonSelected.first();
    QList<FormField> fields{
        {QStringLiteral("SQL"), QStringLiteral("DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=2 AND CenterID IN(%1)").arg(removed)},
        {QStringLiteral("SQL"), QStringLiteral("INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (2,%1,GETDATE() ) ").arg(added.id)},
    };
    CommitRequest request;
    CommitRequest::Refusal refusal;
    QVERIFY2(CommitRequest::fromFields(fields, &request, &refusal), qPrintable(refusal.reason));
    CenterStore::Outcome outcome;
    QVERIFY2(store.apply(request, &outcome, &error), qPrintable(error.message));
    store.close();

    // Assigning the same ServerName again loads again.
    control.setServerName(url);
    QList<Row> expected = before;
    expected.removeIf([&](const Row &r) { return r.id == QString::number(removed); });
    expected.append(expectedRows({added}));
    std::sort(expected.begin(), expected.end(), [](const Row &a, const Row &b) { return a.id.toInt() < b.id.toInt(); });
    QTRY_COMPARE_WITH_TIMEOUT(rowsOf(control, "lstSelectedCenters"), expected, 10000);
    const QList<Row> nonSelected = rowsOf(control, "lstCenters");
    QVERIFY(std::any_of(nonSelected.cbegin(), nonSelected.cend(), [&](const Row &r) { return r.id == QString::number(removed); }));
}

void TestEndToEndLoadServer::serverGoneLeavesEmptyLists()
{
    QString why;
    QVERIFY2(startServer(QStringLiteral("sqlite"), &why), qPrintable(why));
    const QString url = QStringLiteral("http://127.0.0.1:%1").arg(m_server->port());

    Velmora control;
    control.show();
    control.setTimeout(std::chrono::milliseconds(5000));
    QVERIFY(control.setEmployeeID(QStringLiteral("1")));
    control.setServerName(url);
    QTRY_VERIFY_WITH_TIMEOUT(!rowsOf(control, "lstCenters").isEmpty(), 10000);

    m_server->stop();
    QSignalSpy failed(&control, &Velmora::loadFailed);
    control.setServerName(url);
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 15000);
    QVERIFY(!failed.first().first().toString().isEmpty());
    QVERIFY(rowsOf(control, "lstCenters").isEmpty());
    QVERIFY(rowsOf(control, "lstSelectedCenters").isEmpty());
}

QTEST_MAIN(TestEndToEndLoadServer)
#include "tst_e2e_load_server.moc"
