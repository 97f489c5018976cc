// The database side of the server on SQLite and PostgreSQL: schema, the
// document's lists, commits in one transaction, retries, the sample data,
// busy and lost databases, several writers at once.
#include "testdatabases.h"

#include <centerstore.h>
#include <sampledata.h>

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

#include <atomic>
#include <thread>

using namespace VelmoraServerCore;

namespace {

QString insertText(qint32 employee, qint32 center)
{
    return QStringLiteral("INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (%1,%2,GETDATE() ) ")
        .arg(employee).arg(center);
}

QString deleteText(qint32 employee, const QList<qint32> &centers)
{
    QStringList ids;
    for (qint32 c : centers)
        ids << QString::number(c);
    return QStringLiteral("DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=%1 AND CenterID IN(%2)")
        .arg(employee).arg(ids.join(u','));
}

CommitRequest request(const QStringList &statements)
{
    QList<FormField> fields;
    for (const QString &s : statements)
        fields.append({QStringLiteral("SQL"), s});
    CommitRequest result;
    CommitRequest::Refusal refusal;
    if (!CommitRequest::fromFields(fields, &result, &refusal))
        qFatal("test request refused: %s", qPrintable(refusal.reason));
    return result;
}

QList<qint32> ids(const QList<Center> &centers)
{
    QList<qint32> result;
    for (const Center &c : centers)
        result << c.id;
    return result;
}

// Centers 1 to 200 of the small fixture; 2 and 8 are inactive.
const QList<Center> FixtureCenters = {
    {1, QStringLiteral("Assembly"), true},       {2, QStringLiteral("Old Paint Shop"), false},
    {3, QStringLiteral("Caf\u00e9 & <Kitchen>"), true}, {7, QStringLiteral("Welding"), true},
    {8, QStringLiteral("Closed Store"), false}, {10, QStringLiteral("Quality"), true},
    {200, QStringLiteral("Shipping"), true},
};

// Employee 5: centers 3, 2 (inactive) and 200; employee 6: none.
bool prepareFixture(CenterStore &store, QString *why)
{
    CenterStore::Error error;
    CenterStore::Outcome outcome;
    if (!store.ensureSchema(&error) || !store.putCenters(FixtureCenters, &error)) {
        *why = error.message;
        return false;
    }
    // Center 2 is assigned while it was still active.
    if (!store.putCenters({{2, QStringLiteral("Old Paint Shop"), true}}, &error)
        || !store.apply(request({insertText(5, 3), insertText(5, 2), insertText(5, 200)}), &outcome, &error)
        || !store.putCenters({{2, QStringLiteral("Old Paint Shop"), false}}, &error)) {
        *why = error.message;
        return false;
    }
    return true;
}

QList<qint32> assigned(CenterStore &store, qint32 employee)
{
    QList<qint32> centers;
    CenterStore::Error error;
    if (!store.assignedCenters(employee, &centers, &error))
        qWarning("assignedCenters failed: %s", qPrintable(error.message));
    return centers;
}

} // namespace

class TestCenterStore : public QObject
{
    Q_OBJECT

private slots:
    void schema_data();
    void schema();
    void lists_data();
    void lists();
    void apply_data();
    void apply();
    void retryIsHarmless_data();
    void retryIsHarmless();
    void sample_data();
    void sample();
    void largeCommit_data();
    void largeCommit();
    void unreachable_data();
    void unreachable();
    void busySqlite();
    void lostPostgresConnection();
    void concurrentWriters_data();
    void concurrentWriters();

private:
    void backendRows()
    {
        TestDatabases::addBackendColumn();
        for (const QString &backend : TestDatabases::backends())
            TestDatabases::addBackendRow(backend, QStringLiteral("default"));
    }

    TestDatabases m_databases;
};

void TestCenterStore::schema_data()
{
    backendRows();
}

void TestCenterStore::schema()
{
    QFETCH(QString, backend);
    if (!TestDatabases::require(backend))
        return;
    const QString address = m_databases.create(backend);
    {
        CenterStore store({address});
        CenterStore::Error error;
        QVERIFY2(store.ensureSchema(&error), qPrintable(error.message));
        QVERIFY2(store.ensureSchema(&error), qPrintable(error.message)); // a second start finds it
        QVERIFY2(store.putCenters(FixtureCenters, &error), qPrintable(error.message));
    }
    {
        // A new connection (a restarted server) keeps the data.
        CenterStore store({address});
        CenterStore::Error error;
        QVERIFY2(store.ensureSchema(&error), qPrintable(error.message));
        int count = 0;
        QVERIFY2(store.centerCount(&count, &error), qPrintable(error.message));
        QCOMPARE(count, FixtureCenters.size());
    }
    // The table carries the names that the control's statements use, in
    // their case, on both databases.
    {
        QSqlDatabase db = TestDatabases::connect(address, QStringLiteral("schema-check"));
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        QSqlQuery query(db);
        QVERIFY2(query.exec(QStringLiteral(R"(SELECT "EmployeeID", "CenterID", "RecordLastUpdated" FROM "CenterEmployeeCrossReference")")),
                 qPrintable(query.lastError().text()));
        // Center IDs are positive, and a center needs a name.
        QVERIFY(!query.exec(QStringLiteral(R"(INSERT INTO "Center" ("ID", "Name", "Active") VALUES (0, 'x', TRUE))")));
        QVERIFY(!query.exec(QStringLiteral(R"(INSERT INTO "Center" ("ID", "Name", "Active") VALUES (99, '', TRUE))")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema-check"));
}

void TestCenterStore::lists_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<int>("employee");
    QTest::addColumn<QList<qint32>>("nonSelected");
    QTest::addColumn<QList<qint32>>("selected");

    for (const QString &backend : TestDatabases::backends()) {
        QTest::newRow(qPrintable(backend + QStringLiteral(": assigned, inactive one hidden")))
            << backend << 5 << QList<qint32>{1, 7, 10} << QList<qint32>{3, 200};
        QTest::newRow(qPrintable(backend + QStringLiteral(": nothing assigned")))
            << backend << 6 << QList<qint32>{1, 3, 7, 10, 200} << QList<qint32>{};
        QTest::newRow(qPrintable(backend + QStringLiteral(": employee 0"))) << backend << 0 << QList<qint32>{1, 3, 7, 10, 200} << QList<qint32>{};
        QTest::newRow(qPrintable(backend + QStringLiteral(": smallest employee")))
            << backend << int(-2147483647 - 1) << QList<qint32>{1, 3, 7, 10, 200} << QList<qint32>{};
    }
}

void TestCenterStore::lists()
{
    QFETCH(QString, backend);
    QFETCH(int, employee);
    QFETCH(QList<qint32>, nonSelected);
    QFETCH(QList<qint32>, selected);
    if (!TestDatabases::require(backend))
        return;

    CenterStore store({m_databases.create(backend)});
    QString why;
    QVERIFY2(prepareFixture(store, &why), qPrintable(why));
    CenterLists lists;
    CenterStore::Error error;
    QVERIFY2(store.centerLists(employee, &lists, &error), qPrintable(error.message));
    QCOMPARE(ids(lists.nonSelected), nonSelected);
    QCOMPARE(ids(lists.selected), selected);
    // Names come back unchanged, including characters XML must escape.
    for (const Center &c : lists.nonSelected + lists.selected) {
        const auto it = std::find_if(FixtureCenters.cbegin(), FixtureCenters.cend(),
                                     [&](const Center &f) { return f.id == c.id; });
        QVERIFY(it != FixtureCenters.cend());
        QCOMPARE(c.name, it->name);
    }
}

void TestCenterStore::apply_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("removed");
    QTest::addColumn<QList<qint32>>("after"); // assignments of employee 5 afterwards
    QTest::addColumn<QString>("reasonPart");

    const QList<qint32> before{2, 3, 200};
    for (const QString &backend : TestDatabases::backends()) {
        auto row = [&](const char *name) -> QTestData & { return QTest::newRow(qPrintable(backend + QStringLiteral(": ") + QLatin1String(name))) << backend; };
        row("insert a new center") << QStringList{insertText(5, 7)} << true << 1 << 0 << QList<qint32>{2, 3, 7, 200} << "";
        row("insert an existing one") << QStringList{insertText(5, 3)} << true << 0 << 0 << before << "";
        row("delete present and missing") << QStringList{deleteText(5, {3, 10})} << true << 0 << 1 << QList<qint32>{2, 200} << "";
        row("delete an inactive center's assignment") << QStringList{deleteText(5, {2})} << true << 0 << 1 << QList<qint32>{3, 200} << "";
        row("inserts and a delete")
            << QStringList{insertText(5, 1), insertText(5, 10), deleteText(5, {3, 200})} << true << 2 << 2
            << QList<qint32>{1, 2, 10} << "";
        row("insert then delete the same center")
            << QStringList{insertText(5, 7), deleteText(5, {7})} << true << 1 << 1 << before << "";
        row("delete then insert the same center")
            << QStringList{deleteText(5, {3}), insertText(5, 3)} << true << 1 << 1 << before << "";
        row("the same center twice in one delete") << QStringList{deleteText(5, {3, 3})} << true << 0 << 1 << QList<qint32>{2, 200} << "";
        row("inactive center refuses all")
            << QStringList{insertText(5, 7), deleteText(5, {3}), insertText(5, 8)} << false << 0 << 0 << before
            << "SQL field 3: center 8 is not an active center";
        row("unknown center refuses all")
            << QStringList{deleteText(5, {200}), insertText(5, 999)} << false << 0 << 0 << before << "SQL field 2: center 999";
    }
}

void TestCenterStore::apply()
{
    QFETCH(QString, backend);
    QFETCH(QStringList, statements);
    QFETCH(bool, accepted);
    QFETCH(int, added);
    QFETCH(int, removed);
    QFETCH(QList<qint32>, after);
    QFETCH(QString, reasonPart);
    if (!TestDatabases::require(backend))
        return;

    CenterStore store({m_databases.create(backend)});
    QString why;
    QVERIFY2(prepareFixture(store, &why), qPrintable(why));
    CenterStore::Outcome outcome;
    CenterStore::Error error;
    QCOMPARE(store.apply(request(statements), &outcome, &error), accepted);
    if (accepted) {
        QCOMPARE(outcome.added, added);
        QCOMPARE(outcome.removed, removed);
    } else {
        QCOMPARE(error.kind, CenterStore::ErrorKind::Refused);
        QVERIFY2(error.message.contains(reasonPart), qPrintable(error.message));
    }
    QCOMPARE(assigned(store, 5), after);
    QCOMPARE(assigned(store, 6), QList<qint32>{});
}

void TestCenterStore::retryIsHarmless_data()
{
    backendRows();
}

void TestCenterStore::retryIsHarmless()
{
    QFETCH(QString, backend);
    if (!TestDatabases::require(backend))
        return;
    CenterStore store({m_databases.create(backend)});
    QString why;
    QVERIFY2(prepareFixture(store, &why), qPrintable(why));
    const CommitRequest commit = request({insertText(5, 1), insertText(5, 7), deleteText(5, {3, 200})});
    CenterStore::Outcome first;
    CenterStore::Outcome second;
    CenterStore::Error error;
    QVERIFY2(store.apply(commit, &first, &error), qPrintable(error.message));
    const QList<qint32> state = assigned(store, 5);
    QVERIFY2(store.apply(commit, &second, &error), qPrintable(error.message));
    QCOMPARE(assigned(store, 5), state);
    QCOMPARE(state, (QList<qint32>{1, 2, 7}));
    QCOMPARE(first.added, 2);
    QCOMPARE(first.removed, 2);
    QCOMPARE(second.added, 0);
    QCOMPARE(second.removed, 0);
}

void TestCenterStore::sample_data()
{
    backendRows();
}

void TestCenterStore::sample()
{
    QFETCH(QString, backend);
    if (!TestDatabases::require(backend))
        return;
    CenterStore store({m_databases.create(backend)});
    CenterStore::Error error;
    QVERIFY2(store.ensureSchema(&error), qPrintable(error.message));
    QVERIFY2(store.seedSample(&error), qPrintable(error.message));

    const QList<Center> &centers = SampleData::centers();
    QVERIFY(centers.size() >= 200);
    QSet<qint32> active;
    QSet<QString> names;
    for (const Center &c : centers) {
        if (c.active)
            active.insert(c.id);
        names.insert(c.name);
    }
    QVERIFY(active.size() < centers.size());
    QCOMPARE(names.size(), centers.size());

    // The lists of each sample employee follow from the sample itself.
    for (qint32 employee = 0; employee <= SampleData::EmployeeCount + 1; ++employee) {
        QList<qint32> expectSelected;
        QList<qint32> expectNonSelected;
        QSet<qint32> mine;
        for (const auto &[e, c] : SampleData::assignments()) {
            if (e == employee)
                mine.insert(c);
        }
        for (const Center &c : centers) {
            if (c.active)
                (mine.contains(c.id) ? expectSelected : expectNonSelected).append(c.id);
        }
        std::sort(expectSelected.begin(), expectSelected.end());
        std::sort(expectNonSelected.begin(), expectNonSelected.end());
        if (employee >= 1 && employee <= SampleData::EmployeeCount)
            QVERIFY2(!expectSelected.isEmpty(), "every sample employee has an active assignment");
        CenterLists lists;
        QVERIFY2(store.centerLists(employee, &lists, &error), qPrintable(error.message));
        QCOMPARE(ids(lists.selected), expectSelected);
        QCOMPARE(ids(lists.nonSelected), expectNonSelected);
    }

    // Seeding again leaves the database alone.
    QVERIFY(!store.seedSample(&error));
    QCOMPARE(error.kind, CenterStore::ErrorKind::Refused);
    int count = 0;
    QVERIFY2(store.centerCount(&count, &error), qPrintable(error.message));
    QCOMPARE(count, centers.size());
}

void TestCenterStore::largeCommit_data()
{
    backendRows();
}

void TestCenterStore::largeCommit()
{
    // The largest commit the control can send: 32,767 inserts; then one
    // delete that lists them all.
    QFETCH(QString, backend);
    if (!TestDatabases::require(backend))
        return;
    CenterStore store({m_databases.create(backend)});
    CenterStore::Error error;
    QVERIFY2(store.ensureSchema(&error), qPrintable(error.message));
    constexpr int Count = 32767;
    QList<Center> centers;
    QStringList inserts;
    QList<qint32> all;
    for (int id = 1; id <= Count; ++id) {
        centers.append({id, QStringLiteral("Center %1").arg(id), true});
        inserts << insertText(9, id);
        all << id;
    }
    QVERIFY2(store.putCenters(centers, &error), qPrintable(error.message));
    CenterStore::Outcome outcome;
    QVERIFY2(store.apply(request(inserts), &outcome, &error), qPrintable(error.message));
    QCOMPARE(outcome.added, Count);
    QCOMPARE(assigned(store, 9).size(), Count);
    CenterLists lists;
    QVERIFY2(store.centerLists(9, &lists, &error), qPrintable(error.message));
    QCOMPARE(lists.selected.size(), Count);

    QVERIFY2(store.apply(request({deleteText(9, all)}), &outcome, &error), qPrintable(error.message));
    QCOMPARE(outcome.removed, Count);
    QVERIFY(assigned(store, 9).isEmpty());

    // One center more than a document can carry is refused, not truncated.
    QVERIFY2(store.putCenters({{Count + 1, QStringLiteral("One too many"), true}}, &error), qPrintable(error.message));
    QVERIFY(!store.centerLists(9, &lists, &error));
    QVERIFY2(error.message.contains(u"32767"), qPrintable(error.message));
}

void TestCenterStore::unreachable_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("kind");
    QTest::newRow("sqlite: directory does not exist")
        << QStringLiteral("/nonexistent-velmora-dir/db.sqlite") << int(CenterStore::ErrorKind::Unavailable);
    QTest::newRow("postgresql: nothing listens")
        << QStringLiteral("postgresql://velmora:x@127.0.0.1:1/velmora?connect_timeout=2") << int(CenterStore::ErrorKind::Unavailable);
    QTest::newRow("postgresql: URL without database")
        << QStringLiteral("postgresql://velmora@127.0.0.1:5432") << int(CenterStore::ErrorKind::Failed);
    QTest::newRow("postgresql: schema not an identifier")
        << QStringLiteral("postgresql://velmora@127.0.0.1/x?schema=a;b") << int(CenterStore::ErrorKind::Failed);
}

void TestCenterStore::unreachable()
{
    QFETCH(QString, address);
    QFETCH(int, kind);
    CenterStore store({address});
    CenterStore::Error error;
    CenterLists lists;
    QVERIFY(!store.centerLists(1, &lists, &error));
    QCOMPARE(int(error.kind), kind);
    QVERIFY(!error.message.isEmpty());
    QVERIFY2(!error.message.contains(u":x@"), "no password in messages");
}

void TestCenterStore::busySqlite()
{
    // Another writer holds the database: the commit waits a bounded time,
    // then fails as unavailable with nothing applied; afterwards it works.
    const QString address = m_databases.create(QStringLiteral("sqlite"));
    CenterStore store({address, 200});
    QString why;
    QVERIFY2(prepareFixture(store, &why), qPrintable(why));
    {
        QSqlDatabase other = TestDatabases::connect(address, QStringLiteral("other-writer"));
        QSqlQuery lock(other);
        QVERIFY2(lock.exec(QStringLiteral("BEGIN IMMEDIATE")), qPrintable(lock.lastError().text()));
        CenterStore::Outcome outcome;
        CenterStore::Error error;
        QVERIFY(!store.apply(request({insertText(5, 7)}), &outcome, &error));
        QCOMPARE(error.kind, CenterStore::ErrorKind::Unavailable);
        // Readers are not blocked by the writer (WAL).
        CenterLists lists;
        QVERIFY2(store.centerLists(5, &lists, &error), qPrintable(error.message));
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other-writer"));
    QCOMPARE(assigned(store, 5), (QList<qint32>{2, 3, 200}));
    CenterStore::Outcome outcome;
    CenterStore::Error error;
    QVERIFY2(store.apply(request({insertText(5, 7)}), &outcome, &error), qPrintable(error.message));
    QCOMPARE(assigned(store, 5), (QList<qint32>{2, 3, 7, 200}));
}

void TestCenterStore::lostPostgresConnection()
{
    // The server's session ends (as when PostgreSQL restarts): the next
    // operation reconnects by itself.
    if (!TestDatabases::require(QStringLiteral("postgresql")))
        return;
    const QString appName = QStringLiteral("velmora_lost_%1").arg(QCoreApplication::applicationPid());
    const QString address = m_databases.create(QStringLiteral("postgresql"), appName);
    CenterStore store({address});
    QString why;
    QVERIFY2(prepareFixture(store, &why), qPrintable(why));
    CenterLists lists;
    CenterStore::Error error;
    QVERIFY2(store.centerLists(5, &lists, &error), qPrintable(error.message));

    auto terminate = [&] {
        QSqlDatabase admin = TestDatabases::connect(address, QStringLiteral("terminator"));
        QSqlQuery query(admin);
        const bool ok = query.exec(QStringLiteral("SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity "
                                                  "WHERE application_name = '%1'").arg(appName))
            && query.next();
        const int ended = ok ? query.value(0).toInt() : -1;
        query.finish();
        admin.close();
        admin = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("terminator"));
        return ended;
    };
    QCOMPARE(terminate(), 1);
    QVERIFY2(store.centerLists(5, &lists, &error), qPrintable(error.message));
    QCOMPARE(ids(lists.selected), (QList<qint32>{3, 200}));

    QCOMPARE(terminate(), 1);
    CenterStore::Outcome outcome;
    QVERIFY2(store.apply(request({insertText(5, 7)}), &outcome, &error), qPrintable(error.message));
    QCOMPARE(outcome.added, 1);
    QCOMPARE(assigned(store, 5), (QList<qint32>{2, 3, 7, 200}));
}

void TestCenterStore::concurrentWriters_data()
{
    backendRows();
}

void TestCenterStore::concurrentWriters()
{
    // Several connections, one per thread, commit at once: every commit
    // lands, and each employee ends where its own sequence leads.
    QFETCH(QString, backend);
    if (!TestDatabases::require(backend))
        return;
    const QString address = m_databases.create(backend);
    {
        CenterStore store({address});
        QString why;
        QVERIFY2(prepareFixture(store, &why), qPrintable(why));
    }
    constexpr int Writers = 4;
    constexpr int Rounds = 40;
    std::atomic<int> failures{0};
    QString firstFailure;
    std::mutex failureMutex;
    std::vector<std::thread> threads;
    for (int w = 0; w < Writers; ++w) {
        threads.emplace_back([&, w] {
            CenterStore store({address, 10000});
            const qint32 employee = 100 + w;
            for (int round = 0; round < Rounds; ++round) {
                // Alternate between adding 1 and 7 and removing 1.
                const QStringList statements = round % 2 == 0
                    ? QStringList{insertText(employee, 1), insertText(employee, 7)}
                    : QStringList{deleteText(employee, {1})};
                CenterStore::Outcome outcome;
                CenterStore::Error error;
                if (!store.apply(request(statements), &outcome, &error)) {
                    std::lock_guard lock(failureMutex);
                    if (failures++ == 0)
                        firstFailure = error.message;
                }
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    QVERIFY2(failures == 0, qPrintable(firstFailure));
    CenterStore store({address});
    for (int w = 0; w < Writers; ++w)
        QCOMPARE(assigned(store, 100 + w), QList<qint32>{7});
}

QTEST_GUILESS_MAIN(TestCenterStore)
#include "tst_centerstore.moc"
