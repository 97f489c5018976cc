// Faults under a commit, each with nothing lost and nothing half-applied:
//   - velmora-server killed (SIGKILL) in the middle of a commit: the database
//     holds all of that commit or none of it, and the same commit sent again
//     to a restarted server applies in full;
//   - the same with the control: it reports the failure, keeps the pending
//     changes, and its retry succeeds;
//   - the SQLite database locked by another writer: a bounded busy wait,
//     then 503 with a reason, never a half-applied commit.
#include "controlharness.h"
#include "reliabilitysupport.h"
#include "testdatabases.h"

#include <centerstore.h>
#include <httpserver.h>
#include <sampledata.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <httplib.h>

#include <atomic>
#include <memory>
#include <optional>
#include <set>
#include <thread>

using namespace VelmoraServerCore;
using namespace Reliability;

namespace {

const char *const Form = "application/x-www-form-urlencoded";

QString text(const httplib::Result &result)
{
    return result ? QString::fromStdString(result->body)
                  : QStringLiteral("(no answer: %1)").arg(QString::fromStdString(httplib::to_string(result.error())));
}

std::unique_ptr<httplib::Client> clientFor(int port)
{
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port);
    c->set_connection_timeout(10, 0);
    c->set_read_timeout(120, 0);
    c->set_write_timeout(120, 0);
    return c;
}

QList<qint32> range(qint32 first, qint32 last)
{
    QList<qint32> ids;
    for (qint32 id = first; id <= last; ++id)
        ids << id;
    return ids;
}

// Centers 1 to count, all active.
bool putCenters(const QString &address, int count, QString *error)
{
    QList<Center> centers;
    for (qint32 id = 1; id <= count; ++id)
        centers.append(Center{id, QStringLiteral("Work center %1").arg(id), true});
    CenterStore store(CenterStore::Settings{address});
    CenterStore::Error storeError;
    if (!store.ensureSchema(&storeError) || !store.putCenters(centers, &storeError)) {
        *error = storeError.message;
        return false;
    }
    return true;
}

// A QSqlDatabase connection for the test's own writer, removed on scope exit.
class OtherConnection
{
public:
    explicit OtherConnection(const QString &address)
        : m_name(QStringLiteral("other-%1").arg(QRandomGenerator::global()->generate()))
    {
        m_db = TestDatabases::connect(address, m_name);
    }
    ~OtherConnection()
    {
        if (m_db.isOpen()) {
            if (m_inTransaction)
                QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
            m_db.close();
        }
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    QSqlDatabase &db() { return m_db; }
    bool exec(const QString &sql, QString *error = nullptr)
    {
        QSqlQuery query(m_db);
        if (query.exec(sql)) {
            m_inTransaction = m_inTransaction || sql.startsWith(u"BEGIN");
            return true;
        }
        if (error)
            *error = query.lastError().text();
        return false;
    }
    // Whether a session with this application name waits for a lock.
    bool waitsForLock(const QString &appName)
    {
        QSqlQuery query(m_db);
        query.prepare(QStringLiteral("SELECT COUNT(*) FROM pg_stat_activity WHERE application_name = ? "
                                     "AND wait_event_type = 'Lock'"));
        query.addBindValue(appName);
        return query.exec() && query.next() && query.value(0).toInt() > 0;
    }

private:
    QString m_name;
    QSqlDatabase m_db;
    bool m_inTransaction = false;
};

QString lockInsert(qint32 employee, qint32 center)
{
    return QStringLiteral(R"(INSERT INTO "CenterEmployeeCrossReference" ("EmployeeID", "CenterID", "RecordLastUpdated")
                             VALUES (%1, %2, CURRENT_TIMESTAMP))")
        .arg(employee)
        .arg(center);
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void serverKilledMidCommitLeavesAllOrNothing_data();
    void serverKilledMidCommitLeavesAllOrNothing();
    void controlKeepsPendingChangesWhenTheServerIsKilled_data();
    void controlKeepsPendingChangesWhenTheServerIsKilled();
    void lockedSqliteDatabase_data();
    void lockedSqliteDatabase();
    void writerContentionOnSqlite();
};

void TestFaults::serverKilledMidCommitLeavesAllOrNothing_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<bool>("rowLock");   // PostgreSQL: kill while the server waits on a row lock
    QTest::addColumn<double>("fraction"); // otherwise: kill at this part of the commit's measured time
    QTest::newRow("postgresql: killed while its transaction waits on a row lock") << "postgresql" << true << 0.0;
    QTest::newRow("sqlite: killed at 20% of a large commit") << "sqlite" << false << 0.2;
    QTest::newRow("sqlite: killed at 50% of a large commit") << "sqlite" << false << 0.5;
    QTest::newRow("sqlite: killed at 80% of a large commit") << "sqlite" << false << 0.8;
    QTest::newRow("postgresql: killed at 30% of a large commit") << "postgresql" << false << 0.3;
    QTest::newRow("postgresql: killed at 70% of a large commit") << "postgresql" << false << 0.7;
}

void TestFaults::serverKilledMidCommitLeavesAllOrNothing()
{
    QFETCH(QString, backend);
    QFETCH(bool, rowLock);
    QFETCH(double, fraction);
    if (!TestDatabases::require(backend))
        return;

    // Employee E holds centers 1-200; the commit adds the next `inserts`
    // centers and removes the 200: afterwards E holds one set or the other.
    // Large enough that the commit takes a while (PostgreSQL is slower per
    // row than SQLite).
    constexpr int Held = 200;
    const int inserts = backend == u"sqlite" ? 30000 : 8000;
    TestDatabases databases;
    const QString appName = QStringLiteral("velmora-killed-%1").arg(QCoreApplication::applicationPid());
    const QString address = databases.create(backend, appName);
    QString error;
    QVERIFY2(putCenters(address, Held + inserts, &error), qPrintable(error));

    ServerProcess server;
    QVERIFY2(server.start(address), qPrintable(server.error()));
    const QList<qint32> held = range(1, Held);
    const QList<qint32> added = range(Held + 1, Held + inserts);
    auto commitFor = [&](qint32 employee) {
        QStringList statements;
        for (qint32 c : added)
            statements << insertStatement(employee, c);
        statements << deleteStatement(employee, held);
        return commitBody(statements);
    };
    auto give = [&](qint32 employee) {
        QStringList statements;
        for (qint32 c : held)
            statements << insertStatement(employee, c);
        const auto result = clientFor(server.port())->Post("/Velmora.asp", commitBody(statements), Form);
        return result && result->status == 200;
    };

    // The commit's time on this machine, measured on another employee.
    QVERIFY(give(2));
    QElapsedTimer timer;
    timer.start();
    const auto calibration = clientFor(server.port())->Post("/Velmora.asp", commitFor(2), Form);
    const qint64 commitMs = timer.elapsed();
    QVERIFY2(calibration && calibration->status == 200, qPrintable(text(calibration)));
    qInfo("a commit of %d inserts and a delete of %d takes %lld ms", inserts, Held, commitMs);

    // Up to three attempts: an attempt whose answer arrived before the kill
    // did not test a kill in the middle, and is repeated earlier.
    bool killedBeforeTheAnswer = false;
    qint32 employee = 10;
    for (int attempt = 0; attempt < 3 && !killedBeforeTheAnswer; ++attempt, ++employee) {
        if (!server.isRunning())
            QVERIFY2(server.start(address), qPrintable(server.error()));
        QVERIFY(give(employee));
        std::unique_ptr<OtherConnection> locker;
        if (rowLock) {
            // Another transaction inserts one of the commit's rows and keeps
            // it open: the server's insert of that row waits for it, with
            // half of the commit's rows written in its own transaction.
            locker = std::make_unique<OtherConnection>(address);
            QVERIFY(locker->exec(QStringLiteral("BEGIN")));
            QVERIFY2(locker->exec(lockInsert(employee, added[added.size() / 2]), &error), qPrintable(error));
        }
        const Snapshot before = snapshot(address);

        std::atomic<bool> answered{false};
        int status = 0;
        const std::string body = commitFor(employee);
        const int port = server.port();
        std::thread sender([&] {
            const auto result = clientFor(port)->Post("/Velmora.asp", body, Form);
            if (result) {
                status = result->status;
                answered = true;
            }
        });
        if (rowLock) {
            OtherConnection watcher(address);
            QDeadlineTimer deadline(60000);
            while (!watcher.waitsForLock(appName) && !deadline.hasExpired())
                QThread::msleep(20);
            QVERIFY2(!deadline.hasExpired(), "the server never reached the locked row");
        } else {
            QThread::msleep(std::max<unsigned long>(1, (unsigned long)(double(commitMs) * fraction / (attempt + 1))));
        }
        server.kill();
        sender.join();
        locker.reset(); // rolls the other transaction back
        killedBeforeTheAnswer = !answered;
        if (answered)
            qInfo("attempt %d: the answer (HTTP %d) came before the kill", attempt + 1, status);

        // All or nothing, read after a restart (SQLite recovers its log).
        QVERIFY2(server.start(address), qPrintable(server.error()));
        const Snapshot after = snapshot(address);
        QVERIFY2(after.error.isEmpty(), qPrintable(after.error));
        const auto it = after.assignments.find(employee);
        const QList<qint32> now = it == after.assignments.end() ? QList<qint32>() : it->second;
        QVERIFY2(now == held || now == added,
                 qPrintable(QStringLiteral("employee %1 holds %2 centers: a half-applied commit").arg(employee).arg(now.size())));
        qInfo("attempt %d: killed %s the answer; the database holds %s of the commit", attempt + 1,
              answered ? "after" : "before", now == added ? "all" : "none");
        if (rowLock)
            QCOMPARE(now, held); // the killed transaction never committed
        Snapshot others = after;
        others.assignments.erase(employee);
        Snapshot othersBefore = before;
        othersBefore.assignments.erase(employee);
        QVERIFY2(others == othersBefore, qPrintable(others.differenceFrom(othersBefore)));

        // The retry applies the whole commit.
        const auto retry = clientFor(server.port())->Post("/Velmora.asp", body, Form);
        QVERIFY2(retry && retry->status == 200, qPrintable(text(retry)));
        const Snapshot done = snapshot(address);
        QCOMPARE(done.assignments.at(employee), added);
    }
    QVERIFY2(killedBeforeTheAnswer, "every answer came before the kill: no kill in the middle of a commit");
}

void TestFaults::controlKeepsPendingChangesWhenTheServerIsKilled_data()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("postgresql: killed with half of the commit written") << "postgresql";
    QTest::newRow("sqlite: killed while the commit waits for the write lock") << "sqlite";
}

void TestFaults::controlKeepsPendingChangesWhenTheServerIsKilled()
{
    using namespace Harness;
    QFETCH(QString, backend);
    if (!TestDatabases::require(backend))
        return;
    TestDatabases databases;
    const QString appName = QStringLiteral("velmora-control-%1").arg(QCoreApplication::applicationPid());
    const QString address = databases.create(backend, appName);
    {
        QString error;
        QVERIFY2(seedSampleDatabase(address, &error), qPrintable(error));
    }
    ServerProcess server;
    QVERIFY2(server.start(address, 0, {QStringLiteral("--busy-timeout"), QStringLiteral("20000")}),
             qPrintable(server.error()));

    Velmora control;
    control.setTimeout(std::chrono::seconds(40));
    QVERIFY(control.setEmployeeID(QStringLiteral("1")));
    control.setServerName(server.baseUrl());
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    QVERIFY(lstCenters(control)->count() > 3);
    QVERIFY(lstSelected(control)->count() > 0);
    ModalWatcher watcher;

    // Three centers added, one removed.
    QList<qint32> addedIds;
    for (int i = 0; i < 3; ++i) {
        addedIds << ids(lstCenters(control)).first().toInt();
        doubleClickRow(lstCenters(control), 0);
    }
    // The first center the employee already had.
    qint32 removedId = 0;
    for (const QString &key : keys(lstSelected(control))) {
        if (!key.endsWith(u'N')) {
            removedId = key.toInt();
            break;
        }
    }
    QVERIFY(removedId > 0);
    doubleClickRow(lstSelected(control), rowOf(lstSelected(control), QString::number(removedId)));
    const QStringList pendingSelected = keys(lstSelected(control));
    const QStringList pendingCenters = keys(lstCenters(control));
    QCOMPARE(pendingSelected.filter(QStringLiteral("N")).size(), 3);
    QCOMPARE(pendingCenters.filter(QStringLiteral("D")).size(), 1);
    const Snapshot before = snapshot(address);

    // Hold the server in the middle of the commit, then kill it.
    auto locker = std::make_unique<OtherConnection>(address);
    QString error;
    if (backend == u"postgresql") {
        // The inserts go in list order; the last added center is locked, so
        // the first two are written when the server stops to wait.
        QVERIFY(locker->exec(QStringLiteral("BEGIN")));
        QVERIFY2(locker->exec(lockInsert(1, *std::max_element(addedIds.begin(), addedIds.end())), &error),
                 qPrintable(error));
    } else {
        QVERIFY2(locker->exec(QStringLiteral("BEGIN IMMEDIATE"), &error), qPrintable(error));
    }
    OtherConnection probe(address);
    QElapsedTimer sinceClick;
    QTimer killer;
    bool killed = false;
    killer.setInterval(20);
    connect(&killer, &QTimer::timeout, this, [&] {
        // PostgreSQL: once the server waits for the lock; SQLite: well
        // within its 20 s busy wait.
        const bool waiting = backend == u"postgresql" ? probe.waitsForLock(appName) : sinceClick.elapsed() > 1500;
        if (!killed && (waiting || sinceClick.elapsed() > 30000)) {
            killed = true;
            killer.stop();
            server.kill();
        }
    });
    sinceClick.start();
    killer.start();
    QTest::mouseClick(button(control, "cmdCommit"), Qt::LeftButton);
    killer.stop();
    QVERIFY(killed);
    locker.reset();

    // The control reports the failure and keeps every pending change.
    QCOMPARE(watcher.messages.size(), 1);
    QCOMPARE(watcher.messages.first().text, QStringLiteral("Error During saving to Database"));
    QCOMPARE(keys(lstSelected(control)), pendingSelected);
    QCOMPARE(keys(lstCenters(control)), pendingCenters);
    QVERIFY(button(control, "cmdCommit")->isEnabled());
    const Snapshot afterKill = snapshot(address);
    QVERIFY2(afterKill == before, qPrintable(afterKill.differenceFrom(before)));

    // The same address again, and the retry saves it all.
    const int port = server.port();
    QVERIFY2(server.start(address, port), qPrintable(server.error()));
    QTest::mouseClick(button(control, "cmdCommit"), Qt::LeftButton);
    QCOMPARE(watcher.messages.size(), 2);
    QCOMPARE(watcher.messages.last().text, QStringLiteral("Saved for employee 1: 3 centers added, 1 removed."));
    QVERIFY(keys(lstSelected(control)).filter(QStringLiteral("N")).isEmpty());
    QVERIFY(keys(lstCenters(control)).filter(QStringLiteral("D")).isEmpty());

    Snapshot expected = before;
    QList<qint32> &mine = expected.assignments[1];
    mine.removeOne(removedId);
    mine << addedIds;
    std::sort(mine.begin(), mine.end());
    const Snapshot after = snapshot(address);
    QVERIFY2(after == expected, qPrintable(after.differenceFrom(expected)));
}

void TestFaults::lockedSqliteDatabase_data()
{
    QTest::addColumn<QString>("hold");    // what the other connection does
    QTest::addColumn<int>("releaseMs");   // when it lets go (-1: after the answer)
    QTest::addColumn<int>("status");
    QTest::newRow("another writer holds the lock past the busy time-out") << "BEGIN IMMEDIATE" << -1 << 503;
    QTest::newRow("another writer holds an exclusive lock") << "BEGIN EXCLUSIVE" << -1 << 503;
    QTest::newRow("another writer lets go during the busy wait") << "BEGIN IMMEDIATE" << 300 << 200;
    QTest::newRow("a long read transaction") << "BEGIN" << -1 << 200;
}

void TestFaults::lockedSqliteDatabase()
{
    QFETCH(QString, hold);
    QFETCH(int, releaseMs);
    QFETCH(int, status);
    TestDatabases databases;
    const QString address = databases.create(QStringLiteral("sqlite"));
    {
        QString error;
        QVERIFY2(seedSampleDatabase(address, &error), qPrintable(error));
    }
    VelmoraServer::Options options = localServerOptions(address);
    options.busyTimeoutMs = 1500;
    VelmoraServer server(options);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));

    // Several statements: a half-applied commit would show.
    const QList<qint32> active = activeSampleCenters();
    QStringList statements;
    for (int i = 0; i < 20; ++i)
        statements << insertStatement(600, active[i * 3]);
    statements << deleteStatement(600, {active[0], active[3]});
    const Snapshot before = snapshot(address);

    std::atomic<bool> released{false};
    std::thread other([&] {
        OtherConnection connection(address);
        QSqlQuery query(connection.db());
        query.exec(hold);
        if (hold == u"BEGIN") {
            query.exec(QStringLiteral(R"(SELECT COUNT(*) FROM "CenterEmployeeCrossReference")"));
            query.next();
        }
        // Bounded: at most 10 s either way.
        QDeadlineTimer deadline(releaseMs >= 0 ? releaseMs : 10000);
        while (!deadline.hasExpired() && !released)
            QThread::msleep(10);
        query.finish();
        query.exec(QStringLiteral("ROLLBACK"));
        released = true;
    });
    QThread::msleep(100); // the other connection has its lock
    QElapsedTimer timer;
    timer.start();
    const auto result = clientFor(server.port())->Post("/Velmora.asp", commitBody(statements), Form);
    const qint64 waited = timer.elapsed();
    released = true;
    other.join();

    QVERIFY2(result, qPrintable(text(result)));
    QCOMPARE(result->status, status);
    const Snapshot after = snapshot(address);
    if (status == 503) {
        // A reason for the operator, and when to try again.
        QVERIFY(!result->body.empty());
        QVERIFY(!result->get_header_value("Retry-After").empty());
        // The wait was bounded by the busy time-out (generous bounds).
        QVERIFY2(waited >= 1000 && waited < 20000, qPrintable(QStringLiteral("answered after %1 ms").arg(waited)));
        QVERIFY2(after == before, qPrintable(after.differenceFrom(before)));
        // Once the lock is gone the same commit goes through.
        const auto retry = clientFor(server.port())->Post("/Velmora.asp", commitBody(statements), Form);
        QVERIFY2(retry && retry->status == 200, qPrintable(text(retry)));
    }
    const Snapshot done = snapshot(address);
    QCOMPARE(done.assignments.at(600).size(), 18);
}

void TestFaults::writerContentionOnSqlite()
{
    // Another writer takes the database for random spells (committing rows
    // of its own) while four clients commit, with a short busy time-out:
    // every answer is 200 or 503, a 503 changes nothing (the client sends
    // the same commit again), and in the end every commit of both sides is
    // there. Bounded: 300 commits per client and 20 s.
    TestDatabases databases;
    const QString address = databases.create(QStringLiteral("sqlite"));
    {
        QString error;
        QVERIFY2(seedSampleDatabase(address, &error), qPrintable(error));
    }
    VelmoraServer::Options options = localServerOptions(address);
    options.busyTimeoutMs = 150;
    VelmoraServer server(options);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    const Snapshot before = snapshot(address);
    const QList<qint32> active = activeSampleCenters();

    constexpr int Clients = 4;
    constexpr int Commits = 300;
    const QDeadlineTimer deadline(20000);
    std::atomic<bool> stop{false};
    std::atomic<int> writerRows{0};
    std::thread writer([&] {
        OtherConnection connection(address);
        QRandomGenerator random(7);
        int next = 0;
        while (!stop && !deadline.hasExpired()) {
            QSqlQuery query(connection.db());
            if (query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
                const qint32 center = active[next % active.size()];
                if (query.exec(lockInsert(9000 + next / active.size(), center)))
                    ++next;
                QThread::msleep(random.bounded(20, 300));
                if (!query.exec(QStringLiteral("COMMIT"))) {
                    query.exec(QStringLiteral("ROLLBACK"));
                    --next;
                }
            }
            QThread::msleep(random.bounded(0, 100));
        }
        writerRows = next;
    });

    std::atomic<int> ok{0};
    std::atomic<int> busy{0};
    std::atomic<int> unexpected{0};
    std::vector<std::set<qint32>> models(Clients);
    // A commit left unconfirmed when the time ran out: applied or not.
    std::vector<std::optional<std::set<qint32>>> unconfirmed(Clients);
    std::vector<std::thread> clients;
    for (int c = 0; c < Clients; ++c) {
        clients.emplace_back([&, c] {
            QRandomGenerator random(quint32(100 + c));
            auto client = clientFor(server.port());
            const qint32 employee = 700 + c;
            std::set<qint32> &model = models[size_t(c)];
            for (int i = 0; i < Commits && !deadline.hasExpired(); ++i) {
                QStringList statements;
                std::set<qint32> next = model;
                for (int k = 0; k < 3; ++k) {
                    const qint32 center = active[int(random.bounded(active.size()))];
                    statements << insertStatement(employee, center);
                    next.insert(center);
                }
                if (!model.empty()) {
                    const qint32 gone = *model.begin();
                    statements << deleteStatement(employee, {gone});
                    next.erase(gone);
                }
                // The same commit until it is answered 200 (bounded).
                bool saved = false;
                for (int attempt = 0; attempt < 100 && !saved && !deadline.hasExpired(); ++attempt) {
                    const auto result = client->Post("/Velmora.asp", commitBody(statements), Form);
                    if (result && result->status == 200) {
                        saved = true;
                        ++ok;
                    } else if (result && result->status == 503 && !result->body.empty()
                               && !result->get_header_value("Retry-After").empty()) {
                        ++busy;
                    } else {
                        ++unexpected;
                        return;
                    }
                }
                if (!saved) {
                    unconfirmed[size_t(c)] = next;
                    return;
                }
                model = next;
            }
        });
    }
    for (auto &t : clients)
        t.join();
    stop = true;
    writer.join();
    qInfo("%d commits saved, %d answered 503, %d rows by the other writer", ok.load(), busy.load(),
          writerRows.load());
    QCOMPARE(unexpected.load(), 0);
    QVERIFY(ok.load() >= Clients);

    const Snapshot after = snapshot(address);
    QVERIFY2(after.error.isEmpty(), qPrintable(after.error));
    // Every client's employee holds exactly its model (or, for a commit whose
    // retries ran out of time, the model with that whole commit).
    for (int c = 0; c < Clients; ++c) {
        const auto it = after.assignments.find(700 + c);
        const std::set<qint32> now = it == after.assignments.end() ? std::set<qint32>()
                                                                   : std::set<qint32>(it->second.begin(), it->second.end());
        QVERIFY2(now == models[size_t(c)] || (unconfirmed[size_t(c)] && now == *unconfirmed[size_t(c)]),
                 qPrintable(QStringLiteral("employee %1 lost or half-applied a commit").arg(700 + c)));
    }
    // The other writer's rows are all there, and nobody else changed.
    int otherRows = 0;
    for (const auto &[employee, centers] : after.assignments) {
        if (employee >= 9000)
            otherRows += int(centers.size());
    }
    QCOMPARE(otherRows, writerRows.load());
    Snapshot rest = after;
    Snapshot restBefore = before;
    for (auto *s : {&rest, &restBefore}) {
        for (auto it = s->assignments.begin(); it != s->assignments.end();) {
            if (it->first >= 700)
                it = s->assignments.erase(it);
            else
                ++it;
        }
    }
    QVERIFY2(rest == restBefore, qPrintable(rest.differenceFrom(restBefore)));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
