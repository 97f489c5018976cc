// PostgreSQL stopped and started, or restarted, under a running
// velmora-server while clients commit: meanwhile every answer is 200 or 503
// with a reason (never another error, never a dropped connection), the
// server recovers by itself once the database is back, and no commit is
// lost or half-applied (clients send a commit answered 503 again).
//
// Restarting the cluster needs root (runuser -u postgres -- pg_ctlcluster);
// the suite is skipped without root, and fails instead on CI. It restarts
// the cluster that every database suite uses, so ctest runs it alone
// (RUN_SERIAL), and it always leaves the cluster running.
#include "reliabilitysupport.h"
#include "testdatabases.h"

#include <centerstore.h>
#include <httpserver.h>
#include <sampledata.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <httplib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <unistd.h>

using namespace VelmoraServerCore;
using namespace Reliability;

namespace {

const char *const Form = "application/x-www-form-urlencoded";

struct Cluster
{
    QString version;
    QString name;
    int port = 0;
};

// Runs a command as root or as the postgres user, bounded in time.
bool run(const QStringList &command, QString *output, int timeoutMs = 120000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        *output = QStringLiteral("%1: did not finish").arg(command.join(u' '));
        return false;
    }
    *output = QString::fromUtf8(process.readAll());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QStringList asPostgres(const QStringList &command)
{
    return QStringList{QStringLiteral("runuser"), QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")}
        + command;
}

// The status column of pg_lsclusters for the cluster ("online", "down").
QString clusterStatus(const Cluster &cluster)
{
    QString output;
    if (!run({QStringLiteral("pg_lsclusters"), QStringLiteral("-h")}, &output, 30000))
        return QString();
    for (const QString &line : output.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList columns = line.simplified().split(u' ');
        if (columns.size() >= 4 && columns[0] == cluster.version && columns[1] == cluster.name)
            return columns[3];
    }
    return QString();
}

bool control(const Cluster &cluster, const QString &action, QString *output)
{
    QStringList command = asPostgres({QStringLiteral("pg_ctlcluster"), cluster.version, cluster.name, action});
    if (action != u"start")
        command << QStringLiteral("-m") << QStringLiteral("fast");
    return run(command, output);
}

// Starts the cluster if it is not running and waits (bounded) until it
// accepts connections.
bool ensureOnline(const Cluster &cluster, QString *output)
{
    if (cluster.version.isEmpty())
        return true;
    if (clusterStatus(cluster) != u"online" && !control(cluster, QStringLiteral("start"), output))
        return false;
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (run(asPostgres({QStringLiteral("pg_isready"), QStringLiteral("-q"), QStringLiteral("-p"),
                            QString::number(cluster.port)}),
                output, 10000))
            return true;
        QThread::msleep(200);
    }
    return false;
}

struct Tally
{
    std::mutex mutex;
    int ok = 0;
    int unavailable = 0;
    QStringList unexpected;

    void add(const httplib::Result &result, const QString &what)
    {
        std::lock_guard lock(mutex);
        if (result && result->status == 200) {
            ++ok;
        } else if (result && result->status == 503 && !result->body.empty()
                   && !result->get_header_value("Retry-After").empty()) {
            ++unavailable;
        } else if (unexpected.size() < 10) {
            unexpected << QStringLiteral("%1: %2").arg(what,
                result ? QStringLiteral("HTTP %1 %2").arg(result->status).arg(QString::fromStdString(result->body))
                       : QStringLiteral("no answer (%1)").arg(QString::fromStdString(httplib::to_string(result.error()))));
        }
    }
};

} // namespace

class TestPgRestart : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void serverRecoversByItself_data();
    void serverRecoversByItself();

private:
    Cluster m_cluster;
};

void TestPgRestart::initTestCase()
{
    if (!TestDatabases::require(QStringLiteral("postgresql")))
        return;
    if (geteuid() != 0) {
        if (qEnvironmentVariable("CI") == u"true")
            QFAIL("restarting PostgreSQL needs root, and CI runs as root");
        QSKIP("restarting PostgreSQL needs root");
    }
    m_cluster.port = QUrl(qEnvironmentVariable("VELMORA_TEST_PG")).port(5432);
    QString output;
    QVERIFY2(run({QStringLiteral("pg_lsclusters"), QStringLiteral("-h")}, &output, 30000), qPrintable(output));
    for (const QString &line : output.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList columns = line.simplified().split(u' ');
        if (columns.size() >= 4 && columns[2].toInt() == m_cluster.port) {
            m_cluster.version = columns[0];
            m_cluster.name = columns[1];
        }
    }
    QVERIFY2(!m_cluster.version.isEmpty(),
             qPrintable(QStringLiteral("no local cluster on port %1: %2").arg(m_cluster.port).arg(output)));
    QVERIFY2(ensureOnline(m_cluster, &output), qPrintable(output));
}

void TestPgRestart::cleanup()
{
    QString output;
    QVERIFY2(ensureOnline(m_cluster, &output), qPrintable(output));
}

void TestPgRestart::cleanupTestCase()
{
    QString output;
    QVERIFY2(ensureOnline(m_cluster, &output), qPrintable(output));
}

void TestPgRestart::serverRecoversByItself_data()
{
    QTest::addColumn<bool>("stopFirst"); // stop, probe the server, start; else one restart
    QTest::newRow("stopped, asked while down, started again") << true;
    QTest::newRow("restarted while clients commit") << false;
}

void TestPgRestart::serverRecoversByItself()
{
    QFETCH(bool, stopFirst);
    TestDatabases databases;
    const QString address = databases.create(QStringLiteral("postgresql"));
    {
        QString error;
        QVERIFY2(seedSampleDatabase(address, &error), qPrintable(error));
    }
    const Snapshot before = snapshot(address);
    VelmoraServer::Options options = localServerOptions(address);
    options.threads = 4;
    VelmoraServer server(options);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    const int port = server.port();
    const QList<qint32> active = activeSampleCenters();

    // Clients commit for employees of their own until told to stop; a
    // commit answered 503 is sent again until it is answered 200.
    constexpr int Clients = 3;
    const QDeadlineTimer deadline(90000);
    std::atomic<bool> stop{false};
    std::atomic<bool> abandon{false}; // the test ended early: give up at once
    Tally tally;
    std::vector<std::set<qint32>> models(Clients);
    std::vector<std::optional<std::set<qint32>>> unconfirmed(Clients);
    std::vector<std::atomic<int>> saved(Clients);
    std::vector<std::thread> threads;
    for (int c = 0; c < Clients; ++c) {
        threads.emplace_back([&, c] {
            QRandomGenerator random(quint32(40 + c));
            httplib::Client client("127.0.0.1", port);
            client.set_connection_timeout(10, 0);
            client.set_read_timeout(60, 0);
            const qint32 employee = 800 + c;
            std::set<qint32> &model = models[size_t(c)];
            for (int i = 0; i < 2000 && !stop && !deadline.hasExpired(); ++i) {
                QStringList statements;
                std::set<qint32> next = model;
                for (int k = 0; k < 4; ++k) {
                    const qint32 center = active[int(random.bounded(active.size()))];
                    statements << insertStatement(employee, center);
                    next.insert(center);
                }
                if (model.size() > 2) {
                    const qint32 gone = *std::next(model.begin(), int(random.bounded(int(model.size()))));
                    statements << deleteStatement(employee, {gone});
                    next.erase(gone);
                }
                bool done = false;
                while (!done && !abandon && !deadline.hasExpired()) {
                    const auto result = client.Post("/Velmora.asp", commitBody(statements), Form);
                    tally.add(result, QStringLiteral("commit of employee %1").arg(employee));
                    if (!result || (result->status != 200 && result->status != 503)) {
                        unconfirmed[size_t(c)] = next;
                        return;
                    }
                    done = result->status == 200;
                    if (!done)
                        QThread::msleep(50);
                }
                if (!done) {
                    unconfirmed[size_t(c)] = next;
                    return;
                }
                model = next;
                ++saved[size_t(c)];
            }
        });
    }
    auto allSavedAtLeast = [&](int n) {
        for (const auto &s : saved) {
            if (s < n)
                return false;
        }
        return true;
    };
    auto waitFor = [&](auto condition, int ms) {
        const QDeadlineTimer until(ms);
        while (!condition() && !until.hasExpired())
            QThread::msleep(20);
        return condition();
    };
    auto finish = [&] {
        stop = true;
        for (std::thread &t : threads) {
            if (t.joinable())
                t.join();
        }
    };
    struct Joiner
    {
        std::function<void()> run;
        ~Joiner() { run(); }
    } joiner{[&] {
        abandon = true;
        finish();
    }};

    QVERIFY2(waitFor([&] { return allSavedAtLeast(3); }, 30000), "the clients did not get going");
    auto probe = std::make_unique<httplib::Client>("127.0.0.1", port);
    probe->set_read_timeout(60, 0);
    const std::string probeCommit = commitBody({insertStatement(900, active[0]), insertStatement(900, active[1])});

    QString output;
    if (stopFirst) {
        QVERIFY2(control(m_cluster, QStringLiteral("stop"), &output), qPrintable(output));
        // While the database is down the server answers 503 with a reason.
        const auto document = probe->Get("/Velmora.asp?EmployeeID=1");
        QVERIFY(document);
        QCOMPARE(document->status, 503);
        QVERIFY(!document->body.empty());
        QVERIFY(document->body.find("<?xml") == std::string::npos);
        QVERIFY(!document->get_header_value("Retry-After").empty());
        const auto commit = probe->Post("/Velmora.asp", probeCommit, Form);
        QVERIFY(commit);
        QCOMPARE(commit->status, 503);
        QVERIFY(!commit->body.empty());
        QVERIFY(!commit->get_header_value("Retry-After").empty());
        QThread::msleep(1000);
        QVERIFY2(control(m_cluster, QStringLiteral("start"), &output), qPrintable(output));
    } else {
        QVERIFY2(control(m_cluster, QStringLiteral("restart"), &output), qPrintable(output));
    }
    QVERIFY2(ensureOnline(m_cluster, &output), qPrintable(output));

    // The same server recovers by itself (bounded: 30 s).
    bool recovered = false;
    const QDeadlineTimer recovery(30000);
    while (!recovered && !recovery.hasExpired()) {
        const auto document = probe->Get("/Velmora.asp?EmployeeID=1");
        recovered = document && document->status == 200;
        if (!recovered)
            QThread::msleep(200);
    }
    QVERIFY2(recovered, "the server did not recover within 30 s of the database coming back");
    const auto commit = probe->Post("/Velmora.asp", probeCommit, Form);
    QVERIFY(commit);
    QCOMPARE(commit->status, 200);
    // Every client commits again after the restart.
    std::vector<int> savedNow;
    for (const auto &s : saved)
        savedNow.push_back(s);
    QVERIFY2(waitFor([&] {
                 for (int c = 0; c < Clients; ++c) {
                     if (saved[size_t(c)] < savedNow[size_t(c)] + 3)
                         return false;
                 }
                 return true;
             }, 30000),
             "a client did not commit after the restart");
    finish();
    server.stop();

    {
        std::lock_guard lock(tally.mutex);
        qInfo("%d answers 200, %d answers 503 while the database was away", tally.ok, tally.unavailable);
        QVERIFY2(tally.unexpected.isEmpty(), qPrintable(tally.unexpected.join(u'\n')));
        if (stopFirst)
            QVERIFY(tally.unavailable >= 1);
    }
    const Snapshot after = snapshot(address);
    QVERIFY2(after.error.isEmpty(), qPrintable(after.error));
    Snapshot expected = before;
    expected.assignments[900] = {active[0], active[1]};
    for (int c = 0; c < Clients; ++c) {
        const auto it = after.assignments.find(800 + c);
        const std::set<qint32> now = it == after.assignments.end() ? std::set<qint32>()
                                                                   : std::set<qint32>(it->second.begin(), it->second.end());
        const bool matches = now == models[size_t(c)] || (unconfirmed[size_t(c)] && now == *unconfirmed[size_t(c)]);
        QVERIFY2(matches, qPrintable(QStringLiteral("employee %1 lost or half-applied a commit").arg(800 + c)));
        if (!now.empty())
            expected.assignments[800 + c] = QList<qint32>(now.begin(), now.end());
    }
    std::sort(expected.assignments[900].begin(), expected.assignments[900].end());
    QVERIFY2(after == expected, qPrintable(after.differenceFrom(expected)));
}

QTEST_GUILESS_MAIN(TestPgRestart)
#include "tst_pgrestart.moc"
