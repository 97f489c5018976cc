// The database side of the server on SQLite and PostgreSQL: commits in one
// transaction and the document's lists after them, retries, the largest
// commit. (Databases that cannot be reached are rows of tst_serverhttp's
// refused starts; one that goes away under a running server is in
// tst_faults.)
#include "servertexts.h"
#include "testdatabases.h"
#include "testlines.h"

#include "page/centercatalogue.h"
#include "page/commitrequest.h"
#include "page/documentwriter.h"
#include "store/centerstore.h"
#include "store/workerpool.h"

#include "core/gzipinflater.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

#include <array>
#include <atomic>
#include <barrier>
#include <thread>

using namespace VelmoraServerCore;

namespace {

ChangeList request(const QStringList &statements)
{
    QList<FormField> fields;
    for (const QString &s : statements)
        fields.append({QStringLiteral("SQL"), s});
    ChangeList result;
    CommitRequest::Refusal refusal;
    return CommitRequest::fromFields(fields, &result, &refusal) ? result : (qFatal("refused: %s", qPrintable(refusal.reason)), result);
}

// A store whose COMMIT goes through a function of the test's: to lose its
// answer, or to look at the connection as the transaction ends.
class SeamStore : public CenterStore
{
public:
    using Commit = std::function<QSqlError(QSqlDatabase &)>;
    SeamStore(const Settings &settings, Commit commit) : CenterStore(settings), m_commit(std::move(commit)) {}

protected:
    QSqlError sendCommit(QSqlDatabase &db) override { return m_commit ? m_commit(db) : CenterStore::sendCommit(db); }

private:
    Commit m_commit;
};

// A commit of the store's that first reads one number on its connection.
std::function<QSqlError(QSqlDatabase &)> readingAtCommit(const QString &sql, std::function<void(int)> seen)
{
    return [=](QSqlDatabase &db) {
        QSqlQuery read(db), commit(db);
        seen(read.exec(sql) && read.next() ? read.value(0).toInt() : -2);
        read.finish();
        return commit.exec(QStringLiteral("COMMIT")) ? QSqlError() : commit.lastError();
    };
}

QList<qint32> ids(const QList<Center> &centers)
{
    QList<qint32> result;
    for (const Center &c : centers)
        result << c.id;
    return result;
}

// Centers 2 and 8 are inactive; employee 5 holds 3, 200 and (assigned while
// it was active) 2.
const QList<Center> FixtureCenters = {
    {1, QStringLiteral("Assembly"), true}, {2, QStringLiteral("Old Paint Shop"), false},
    {3, QStringLiteral("Caf\u00e9 & <Kitchen>"), true}, {7, QStringLiteral("Welding"), true},
    {8, QStringLiteral("Closed Store"), false}, {10, QStringLiteral("Quality"), true}, {200, QStringLiteral("Shipping"), true},
};

QString prepareFixture(CenterStore &store)
{
    CenterStore::Error error;
    CenterStore::Outcome outcome;
    const bool ok = store.ensureSchema(&error) && store.putCenters(FixtureCenters, &error)
        && store.putCenters({{2, QStringLiteral("Old Paint Shop"), true}}, &error)
        && store.apply(request({ServerTexts::insert(5, 3), ServerTexts::insert(5, 2), ServerTexts::insert(5, 200)}), &outcome, &error)
        && store.putCenters({{2, QStringLiteral("Old Paint Shop"), false}}, &error);
    return ok ? QString() : error.message + u' ';
}

} // namespace

class TestCenterStore : public QObject
{
    Q_OBJECT

private slots:
    void largestCommit_data() { TestTable::load(VELMORA_TABLES "/backends.txt"); }
    void catalogueDocuments_data() { TestTable::load(VELMORA_TABLES "/catalogue-documents.txt"); }

    void catalogueDocuments()
    {
        // 1,000 centers with even IDs, in pieces of 128: the document, plain
        // and inflated, is the writer's for the same lists, whichever pieces
        // are copied and whichever written again.
        QFETCH(QList<qint32>, assigned);
        QList<Center> centers;
        CenterLists lists;
        for (qint32 id = 2; id <= 2000; id += 2) {
            centers.append({id, QStringLiteral("Caf\u00e9 & <%1>").arg(id * 7919 % 1000), true});
            (assigned.contains(id) ? lists.selected : lists.nonSelected).append(centers.last());
        }
        const CenterCatalogue catalogue(1, centers);
        QCOMPARE(catalogue.document(assigned), DocumentWriter::write(lists));
        VelmoraInternal::GzipInflater inflater(1 << 24);
        QCOMPARE(inflater.feed(catalogue.gzipDocument(assigned)), VelmoraInternal::GzipInflater::State::Complete);
        QCOMPARE(inflater.take(), DocumentWriter::write(lists));
        // With nothing assigned the answer is the kept pieces (level 6),
        // with everything assigned it is compressed anew (level 1).
        if (assigned.isEmpty())
            QVERIFY(catalogue.gzipDocument({}).size() * 10 < catalogue.gzipDocument(ids(centers)).size() * 9);
    }
    // The rows are in tables/commits.txt: what each column holds is said at the top.
    void apply_data() { TestTable::load(VELMORA_TABLES "/commits.txt"); }
    void serversStartingTogetherAllComeUp_data() { TestTable::load(VELMORA_TABLES "/backends.txt"); }

    void serversStartingTogetherAllComeUp()
    {
        // Servers started at once on an empty database take turns creating
        // its schema and tables instead of failing on each other's.
        QFETCH(QString, backend);
        if (!TestDatabases::require(backend))
            return;
        const QString address = m_databases.create(backend);
        QStringList errors(4);
        std::vector<std::thread> starts;
        for (QString &message : errors)
            starts.emplace_back([&address, &message] { CenterStore store({address}); CenterStore::Error e; message = store.ensureSchema(&e) ? QStringLiteral("started") : e.message; });
        for (std::thread &start : starts)
            start.join();
        COMPARE_LINES(errors, QStringList(4, QStringLiteral("started")));
    }

    void commitsForOneEmployeeTakeTurns()
    {
        // Employee e holds 1 and 3; "INSERT 3; DELETE 1" and "DELETE 3; INSERT 1" sent at the same moment from two
        // connections leave what one after the other does (1 alone or 3 alone), never neither or both. 8 employees
        // at once, for up to 100 rounds or 4 s.
        if (!TestDatabases::require(QStringLiteral("postgresql")))
            return;
        const QString address = m_databases.create(QStringLiteral("postgresql"));
        CenterStore setup({address});
        QCOMPARE(prepareFixture(setup), QString());
        constexpr int Pairs = 8;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(4);
        int phase = 0, rounds = 0;
        bool stop = false;
        std::atomic<int> faults{0}; // commits that failed, outcomes no serial order gives
        std::barrier sync(2 * Pairs, [&]() noexcept { if (phase++ % 2 == 0) stop = ++rounds > 100 || std::chrono::steady_clock::now() > until; });
        std::vector<std::thread> threads;
        for (int t = 0; t < 2 * Pairs; ++t) {
            threads.emplace_back([&, t] {
                const qint32 e = 100 + t / 2;
                const bool first = t % 2 == 0;
                const ChangeList mine = request(first ? QStringList{ServerTexts::insert(e, 3), ServerTexts::remove(e, {1})} : QStringList{ServerTexts::remove(e, {3}), ServerTexts::insert(e, 1)});
                CenterStore store({address});
                CenterStore::Outcome done; CenterStore::Error error;
                for (;;) {
                    faults += first && !store.apply(request({ServerTexts::insert(e, 1), ServerTexts::insert(e, 3)}), &done, &error);
                    sync.arrive_and_wait();
                    if (stop)
                        return;
                    faults += !store.apply(mine, &done, &error);
                    sync.arrive_and_wait();
                    QList<qint32> after{1};
                    faults += first && !store.assignedCenters(e, &after, &error);
                    faults += after != QList<qint32>{1} && after != QList<qint32>{3};
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(faults.load(), 0);
        qInfo("%d rounds of %d pairs", rounds - 1, Pairs);
    }

    // The same commit fails (the rows are in tables/failed-commits.txt): a
    // statement the database itself refuses undoes the ones before it; a
    // COMMIT that may have been applied leaves the outcome unknown (not
    // "nothing was changed", and the store does not run it again itself).
    // Sent again, it is refused again or leaves the same assignments.
    void failedCommit_data() { TestTable::load(VELMORA_TABLES "/failed-commits.txt"); }

    void failedCommit()
    {
        QFETCH(QString, backend);
        QFETCH(QString, commitMeets);
        QFETCH(QString, setup);
        QFETCH(QString, verdict);
        QFETCH(QList<qint32>, after);
        QFETCH(QList<qint32>, retried);
        if (!TestDatabases::require(backend))
            return;
        QString meets; // what the next COMMIT meets, once
        const CenterStore::Settings settings{m_databases.create(backend)};
        SeamStore store(settings, [&meets](QSqlDatabase &db) {
            const auto [what, code] = std::pair(meets.section(u' ', 0, 0), meets.section(u' ', 1));
            meets.clear();
            QSqlQuery query(db);
            if (what == u"refused" || (query.exec(QStringLiteral("COMMIT")) && what == u"applied"))
                return QSqlError(what, QString(), QSqlError::StatementError, code);
            if (what != u"lost")
                return query.lastError();
            if (db.driverName() == u"QSQLITE") // no connection to lose: an I/O error as COMMIT ends instead
                return QSqlError(QStringLiteral("disk I/O error"), QString(), QSqlError::StatementError, QStringLiteral("10"));
            QSqlQuery end(db);
            end.exec(QStringLiteral("SELECT pg_terminate_backend(pg_backend_pid())"));
            return end.lastError();
        });
        QCOMPARE(prepareFixture(store), QString());
        if (!setup.isEmpty())
            QVERIFY(QSqlQuery(TestDatabases::connect(settings.database, QStringLiteral("setup"))).exec(setup));
        const ChangeList change = request({ServerTexts::remove(5, {3}), ServerTexts::insert(5, 7)});
        CenterStore::Outcome done;
        CenterStore::Error error;
        meets = commitMeets;
        QVERIFY(!store.apply(change, &done, &error));
        const char *verdicts[] = {"none", "refused", "unavailable", "failed", "outcome unknown"};
        QVERIFY2(verdicts[int(error.kind)] == verdict && !error.message.isEmpty(), qPrintable(error.message));
        QCOMPARE(TestDatabases::assigned(settings.database, 5), after);
        store.apply(change, &done, &error);
        QCOMPARE(TestDatabases::assigned(settings.database, 5), retried);
    }

    // Every worker's own connection commits as the settings say; nothing
    // else would notice SQLite's default coming back.
    void everyWorkerSyncs_data() { TestTable::load(VELMORA_TABLES "/sqlite-sync.txt"); }

    void everyWorkerSyncs()
    {
        QFETCH(bool, syncEveryCommit);
        QFETCH(int, synchronous);
        constexpr int Workers = 3;
        CenterStore::Settings settings{m_databases.create(QStringLiteral("sqlite"))};
        QVERIFY(TestDatabases::putCenters(settings.database, 1));
        settings.syncEveryCommit = syncEveryCommit;
        std::atomic<int> synced{0}; // commits whose connection showed the value
        const auto reading = readingAtCommit(QStringLiteral("PRAGMA synchronous"), [&](int value) { synced += value == synchronous; });
        std::atomic<int> started{0};
        WorkerPool pool([&] { return std::make_unique<SeamStore>(settings, reading); }, {Workers, 0, Workers, Workers});
        for (qint32 e = 1; e <= Workers; ++e) {
            pool.post(WorkerPool::Lane::Commit, QString::number(e), [&started, e](CenterStore &store) {
                // Each job holds its worker until every worker has one.
                ++started;
                for (int round = 0; round < 500 && started < Workers; ++round)
                    QThread::msleep(10);
                CenterStore::Outcome done; CenterStore::Error error;
                store.apply(request({ServerTexts::insert(e, 1)}), &done, &error);
            });
        }
        pool.stop();
        QCOMPARE(synced.load(), Workers);
    }

    void apply()
    {
        QFETCH(QString, backend);
        QFETCH(QStringList, statements);
        QFETCH(int, times);
        QFETCH(QList<qint32>, after);
        QFETCH(QList<qint32>, selected);
        QFETCH(QList<qint32>, others);
        QFETCH(QString, outcome);
        QFETCH(int, deletes);
        if (!TestDatabases::require(backend))
            return;
        const QString address = m_databases.create(backend);
        int ran = -1; // the runs of SQLite's prepared DELETE, read as each commit ends
        SeamStore store({address}, backend == u"sqlite" ? readingAtCommit(QStringLiteral("SELECT total(run) FROM sqlite_stmt WHERE sql LIKE 'DELETE%'"), [&ran](int n) { ran = n; }) : SeamStore::Commit());
        QCOMPARE(prepareFixture(store), QString());
        CenterStore::Outcome done;
        CenterStore::Error error;
        for (int i = 0; i < times; ++i)
            QCOMPARE(store.apply(request(statements), &done, &error), !outcome.startsWith(u"change"));
        QCOMPARE(error.kind == CenterStore::ErrorKind::Refused ? QStringLiteral("change %1: %2").arg(error.change).arg(error.message) : QStringLiteral("%1 added, %2 removed").arg(done.added).arg(done.removed), outcome);
        QCOMPARE(ran, deletes);
        QCOMPARE(TestDatabases::assigned(address, 5), after);
        QCOMPARE(TestDatabases::assigned(address, 6), QList<qint32>{});
        CenterLists lists;
        QVERIFY2(store.centerLists(5, &lists, &error), qPrintable(error.message));
        QCOMPARE(ids(lists.selected), selected);
        QCOMPARE(ids(lists.nonSelected), others);
        for (const Center &c : lists.selected + lists.nonSelected)
            QCOMPARE(c.name, std::find_if(FixtureCenters.cbegin(), FixtureCenters.cend(), [&](const Center &f) { return f.id == c.id; })->name);
    }

    void largestCommit()
    {
        // 32,767 inserts, then one delete that lists them all; one center more
        // than a document can carry is refused, not cut off.
        QFETCH(QString, backend);
        if (!TestDatabases::require(backend))
            return;
        const QString address = m_databases.create(backend);
        CenterStore store({address});
        QList<Center> centers;
        QStringList inserts;
        for (int id = 1; id <= 32768; ++id)
            centers.append({id, QStringLiteral("Center %1").arg(id), true});
        for (int id = 1; id <= 32767; ++id)
            inserts << ServerTexts::insert(9, id);
        CenterStore::Error error;
        CenterStore::Outcome outcome;
        CenterLists lists;
        QVERIFY2(store.ensureSchema(&error) && store.putCenters(centers, &error) && store.apply(request(inserts), &outcome, &error), qPrintable(error.message));
        QCOMPARE(outcome.added, 32767);
        QVERIFY(!store.centerLists(9, &lists, &error));
        QVERIFY2(error.message.contains(u"more than 32767"), qPrintable(error.message));
        QVERIFY2(store.apply(request({ServerTexts::remove(9, ids(centers.first(32767)))}), &outcome, &error), qPrintable(error.message));
        QCOMPARE(outcome.removed, 32767);
        QVERIFY(TestDatabases::assigned(address, 9).isEmpty());
    }

private:
    TestDatabases m_databases;
};

QTEST_GUILESS_MAIN(TestCenterStore)
#include "tst_centerstore.moc"
