// Faults under a commit, one row each, with nothing lost and nothing
// half-applied: velmora-server killed in the middle of a commit, SQLite
// locked by another writer, PostgreSQL stopped and started again under a
// running server. Then a bounded soak of concurrent clients.
#include "servertexts.h"
#include "testdatabases.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <httplib.h>

#include <numeric>
#include <thread>

#include <unistd.h>

namespace {

constexpr qint32 Employee = 10;
constexpr int Held = 200; // centers 1 to 200, which the employee holds before the commit

// velmora-server as a process of its own, on a free port of 127.0.0.1.
struct ServerProcess
{
    QProcess process;
    int port = 0;
    bool start(const QString &database)
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(VELMORA_SERVER_BINARY), {"-p", "0", "-q", "--busy-timeout", "300", "--db", database});
        static const QRegularExpression serving(QStringLiteral(R"(serving http://127\.0\.0\.1:(\d+)/)"));
        QString output;
        for (int round = 0; round < 300 && port == 0 && process.state() != QProcess::NotRunning; ++round) {
            process.waitForReadyRead(100);
            output += QString::fromUtf8(process.readAll());
            port = serving.match(output).captured(1).toInt();
        }
        return port > 0 || (qWarning("velmora-server did not start: %s", qPrintable(output)), false);
    }
    ~ServerProcess() { process.kill(); process.waitForFinished(10000); }
};

int post(int port, qint32 employee, const QList<qint32> &inserts, const QList<qint32> &deletes = {})
{
    QStringList statements;
    for (qint32 c : inserts)
        statements << ServerTexts::insert(employee, c);
    if (!deletes.isEmpty())
        statements << ServerTexts::remove(employee, deletes);
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(60, 0);
    const auto result = client.Post("/Velmora.asp", ServerTexts::body(statements), "application/x-www-form-urlencoded");
    return result ? result->status : -1;
}

// Runs a command (as the postgres user when we are root), bounded in time.
bool run(QStringList command)
{
    if (getuid() == 0)
        command = QStringList{"runuser", "-u", "postgres", "--"} + command;
    QProcess process;
    process.start(command.first(), command.mid(1));
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    // The rows are in faults.txt.
    void fault_data() { TestTable::load(VELMORA_TABLES "/faults.txt"); }

    void fault()
    {
        QFETCH(QString, backend);
        QFETCH(QString, fault);
        if (!TestDatabases::require(backend))
            return;
        TestDatabases databases;
        const QString address = databases.create(backend, QStringLiteral("velmora_faults"));
        const int inserts = fault == u"lock" ? 10 : backend == u"sqlite" ? 30000 : 2000;
        QList<qint32> held(Held);
        QList<qint32> added(inserts);
        std::iota(held.begin(), held.end(), 1);
        std::iota(added.begin(), added.end(), Held + 1);
        QVERIFY(TestDatabases::putCenters(address, Held + inserts));
        ServerProcess server;
        QVERIFY(server.start(address));
        QCOMPARE(post(server.port, Employee, held), 200);
        // The commit's time on this machine, from one of the same size for
        // another employee: the kill comes at a third of it.
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        if (fault == u"kill" && backend == u"sqlite")
            QCOMPARE(post(server.port, Employee + 1, added), 200);
        const qint64 commitMs = QDateTime::currentMSecsSinceEpoch() - start;
        {
            // The other party: a writer holding SQLite's lock, or a
            // PostgreSQL transaction that inserted one of the commit's rows.
            QSqlDatabase other = TestDatabases::connect(address, QStringLiteral("other"));
            QSqlQuery query(other);
            if (backend == u"postgresql")
                QVERIFY(query.exec(QStringLiteral("BEGIN")) && query.exec(QStringLiteral(R"(INSERT INTO "CenterEmployeeCrossReference" VALUES (%1, %2, CURRENT_TIMESTAMP))").arg(Employee).arg(added[added.size() / 2])));
            else if (fault == u"lock")
                QVERIFY(query.exec(QStringLiteral("BEGIN IMMEDIATE")));
            std::atomic<int> status{0};
            std::thread sender([&] { status = post(server.port, Employee, added, held); });
            // A connection of its own: a transaction sees pg_stat_activity as
            // it was when it began.
            QSqlDatabase watch = QSqlDatabase::cloneDatabase(other, QStringLiteral("watch"));
            QSqlQuery waiting(watch);
            QDeadlineTimer deadline(60000);
            while (backend == u"postgresql" && watch.open() && !deadline.hasExpired() && !(waiting.exec(QStringLiteral("SELECT 1 FROM pg_stat_activity WHERE application_name = 'velmora_faults' AND wait_event_type = 'Lock'")) && waiting.next()))
                QThread::msleep(20);
            if (fault == u"kill") {
                QThread::msleep(backend == u"sqlite" ? std::max<qint64>(1, commitMs / 3) : 0);
                server.process.kill();
            }
            sender.join();
            QVERIFY2(!deadline.hasExpired(), "the server never reached the locked row");
            query.exec(QStringLiteral("ROLLBACK"));
            // Killed before the answer (on SQLite the commit may win the race);
            // SQLite locked past the busy time-out: 503.
            QVERIFY2(fault == u"lock" ? status == 503 : status == -1 || backend == u"sqlite", qPrintable(QString::number(status)));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        QSqlDatabase::removeDatabase(QStringLiteral("watch"));
        // All or nothing (with the row lock and the busy database: nothing),
        // and the same commit sent again applies in full.
        const QList<qint32> now = TestDatabases::assigned(address, Employee);
        QVERIFY2(now == held || (backend == u"sqlite" && fault == u"kill" && now == added), qPrintable(QString::number(now.size())));
        ServerProcess again;
        QVERIFY(again.start(address));
        QCOMPARE(post(again.port, Employee, added, held), 200);
        QCOMPARE(TestDatabases::assigned(address, Employee), added);
    }

    void postgresStoppedAndStarted()
    {
        // On a cluster of our own, so that the one every other suite uses
        // stays up: meanwhile 503 with Retry-After, then the same server
        // serves again by itself.
        if (!TestDatabases::require(QStringLiteral("postgresql")))
            return;
        QTemporaryDir dir;
        const QString bin = "/usr/lib/postgresql/" + QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).last() + "/bin/";
        const QString port = QString::number(20000 + QCoreApplication::applicationPid() % 20000);
        QVERIFY(getuid() != 0 || QProcess::execute(QStringLiteral("chown"), {"postgres", dir.path()}) == 0);
        QVERIFY(run({bin + "initdb", "-D", dir.path() + "/data", "-A", "trust", "-U", "velmora"}));
        const QStringList ctl{bin + "pg_ctl", "-D", dir.path() + "/data", "-w", "-l", dir.path() + "/log", "-o", "-p " + port + " -k " + dir.path()};
        QVERIFY(run(ctl + QStringList{"start"}));
        const QString address = QStringLiteral("postgresql://velmora@127.0.0.1:%1/postgres").arg(port);
        ServerProcess server;
        const bool started = TestDatabases::putCenters(address, 10) && server.start(address) && run(ctl + QStringList{"stop", "-m", "fast"});
        httplib::Client client("127.0.0.1", server.port);
        const auto away = client.Get("/Velmora.asp?EmployeeID=1");
        const int back = run(ctl + QStringList{"start"}) ? post(server.port, Employee, {3}) : 0;
        run(ctl + QStringList{"stop", "-m", "fast"});
        QVERIFY(started && away && away->status == 503 && away->get_header_value("Retry-After") == "5");
        QCOMPARE(back, 200);
    }

    void soak()
    {
        // Six clients commit for an employee each on PostgreSQL, 40 commits
        // apiece (some name an inactive center and must change nothing),
        // bounded by 30 seconds; each ends holding exactly center 2.
        if (!TestDatabases::require(QStringLiteral("postgresql")))
            return;
        TestDatabases databases;
        const QString address = databases.create(QStringLiteral("postgresql"));
        QVERIFY(TestDatabases::putCenters(address, 3, true));
        ServerProcess server;
        QVERIFY(server.start(address));
        std::atomic<int> wrong{0};
        const QDeadlineTimer deadline(30000);
        std::vector<std::thread> clients;
        for (int c = 0; c < 6; ++c) {
            clients.emplace_back([&, c] {
                for (int round = 0; round < 40 && !deadline.hasExpired(); ++round) {
                    const bool poisoned = round % 6 == 4;
                    const int status = round % 2 ? post(server.port, 100 + c, {}, {1}) : post(server.port, 100 + c, {1, poisoned ? 3 : 2});
                    wrong += status != (poisoned ? 409 : 200);
                }
            });
        }
        for (std::thread &t : clients)
            t.join();
        QCOMPARE(wrong.load(), 0);
        for (int c = 0; c < 6; ++c)
            QCOMPARE(TestDatabases::assigned(address, 100 + c), QList<qint32>{2});
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
