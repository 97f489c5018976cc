// A bounded soak: many clients at once, each committing random changes for
// an employee of its own, against one server on SQLite and against two
// server instances that share one PostgreSQL database. Every commit must be
// answered 200 (or 409 when it names an inactive center on purpose, and then
// change nothing); after each commit the document shows exactly the
// client's own expectation, and at the end the whole table equals the
// expected state. Bounded by a number of commits per client and by time.
#include "reliabilitysupport.h"
#include "testdatabases.h"

#include <centerstore.h>
#include <httpserver.h>
#include <sampledata.h>

#include "core/centerdocument.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutex>
#include <QRandomGenerator>
#include <QTest>

#include <httplib.h>

#include <atomic>
#include <memory>
#include <set>
#include <thread>

using namespace VelmoraServerCore;
using namespace Reliability;

namespace {

const char *const Form = "application/x-www-form-urlencoded";
constexpr int Clients = 12;
constexpr int CommitsPerClient = 1500;
constexpr int SoakSeconds = 30;

struct ClientReport
{
    int commits = 0;   // answered 200
    int refused = 0;   // answered 409 on purpose
    int checks = 0;    // documents compared with the expectation
    int serverErrors = 0;
    QStringList problems; // the first few, for the failure message
    std::set<qint32> expected;

    void problem(const QString &text)
    {
        if (problems.size() < 5)
            problems << text;
    }
};

// What the document shows for an employee: the IDs of the selected list.
bool selectedInDocument(httplib::Client &client, qint32 employee, std::set<qint32> *selected, QString *why)
{
    const auto result = client.Get("/Velmora.asp?EmployeeID=" + std::to_string(employee));
    if (!result) {
        *why = QStringLiteral("document: no answer (%1)").arg(QString::fromStdString(httplib::to_string(result.error())));
        return false;
    }
    if (result->status != 200) {
        *why = QStringLiteral("document: HTTP %1 %2").arg(result->status).arg(QString::fromStdString(result->body));
        return false;
    }
    VelmoraInternal::CenterDocument document;
    QString error;
    if (!VelmoraInternal::CenterDocumentReader::read(QByteArray::fromStdString(result->body), &document, &error)) {
        *why = QStringLiteral("document unreadable: %1").arg(error);
        return false;
    }
    selected->clear();
    for (const auto &record : document.selected)
        selected->insert(record.id.toInt());
    return true;
}

void runClient(const QList<int> &ports, qint32 employee, std::set<qint32> start, quint32 seed,
               const QDeadlineTimer &deadline, ClientReport *report)
{
    QRandomGenerator random(seed);
    const QList<qint32> active = activeSampleCenters();
    const QList<qint32> inactive = inactiveSampleCenters();
    std::vector<std::unique_ptr<httplib::Client>> clients;
    for (int port : ports) {
        auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
        client->set_connection_timeout(10, 0);
        client->set_read_timeout(60, 0);
        client->set_write_timeout(60, 0);
        clients.push_back(std::move(client));
    }
    // Only active centers can be shown; inactive ones the employee already
    // had stay in the table untouched unless deleted.
    std::set<qint32> expected = std::move(start);

    for (int round = 0; round < CommitsPerClient && !deadline.hasExpired(); ++round) {
        // A commit as the control could send it: inserts, then at most one
        // delete; some inserts name centers the employee has already, some
        // deletes centers it does not have (both change nothing).
        QStringList statements;
        std::set<qint32> next = expected;
        const int inserts = int(random.bounded(6));
        for (int i = 0; i < inserts; ++i) {
            const qint32 center = active[int(random.bounded(active.size()))];
            statements << insertStatement(employee, center);
            next.insert(center);
        }
        if (!expected.empty() && random.bounded(3) != 0) {
            QList<qint32> removed;
            const std::vector<qint32> mine(expected.begin(), expected.end());
            const int count = 1 + int(random.bounded(std::min<int>(4, int(mine.size()))));
            for (int i = 0; i < count; ++i)
                removed << mine[size_t(random.bounded(int(mine.size())))];
            if (random.bounded(4) == 0)
                removed << active[int(random.bounded(active.size()))];
            statements << deleteStatement(employee, removed);
            for (qint32 c : std::as_const(removed))
                next.erase(c);
        }
        if (statements.isEmpty()) {
            const qint32 center = active[int(random.bounded(active.size()))];
            statements << insertStatement(employee, center);
            next.insert(center);
        }
        const bool poisoned = random.bounded(10) == 0 && !inactive.isEmpty();
        if (poisoned) // an inactive center anywhere refuses the whole commit
            statements.insert(int(random.bounded(statements.size() + 1)),
                              insertStatement(employee, inactive[int(random.bounded(inactive.size()))]));

        httplib::Client &client = *clients[size_t(random.bounded(int(clients.size())))];
        const auto result = client.Post("/Velmora.asp", commitBody(statements), Form);
        if (!result) {
            ++report->serverErrors;
            report->problem(QStringLiteral("commit %1: no answer (%2)").arg(round).arg(QString::fromStdString(httplib::to_string(result.error()))));
            break;
        }
        if (result->status >= 500)
            ++report->serverErrors;
        if (result->status != (poisoned ? 409 : 200)) {
            report->problem(QStringLiteral("commit %1: HTTP %2 %3").arg(round).arg(result->status).arg(QString::fromStdString(result->body)));
            break;
        }
        if (poisoned) {
            ++report->refused;
        } else {
            ++report->commits;
            expected = next;
        }

        // The document, from either server, shows the commit at once.
        if (random.bounded(2) == 0) {
            std::set<qint32> shown;
            QString why;
            httplib::Client &reader = *clients[size_t(random.bounded(int(clients.size())))];
            if (!selectedInDocument(reader, employee, &shown, &why)) {
                report->problem(why);
                break;
            }
            std::set<qint32> expectedShown;
            for (qint32 c : expected) {
                if (active.contains(c))
                    expectedShown.insert(c);
            }
            ++report->checks;
            if (shown != expectedShown) {
                report->problem(QStringLiteral("commit %1: the document does not show the commits so far").arg(round));
                break;
            }
        }
    }
    report->expected = expected;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void concurrentCommitsLoseNothing_data();
    void concurrentCommitsLoseNothing();
};

void TestSoak::concurrentCommitsLoseNothing_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<int>("servers");
    QTest::newRow("sqlite: one server") << "sqlite" << 1;
    QTest::newRow("postgresql: two servers sharing one database") << "postgresql" << 2;
}

void TestSoak::concurrentCommitsLoseNothing()
{
    QFETCH(QString, backend);
    QFETCH(int, servers);
    if (!TestDatabases::require(backend))
        return;
    TestDatabases databases;
    const QString address = databases.create(backend);
    {
        QString error;
        QVERIFY2(seedSampleDatabase(address, &error), qPrintable(error));
    }
    const Snapshot before = snapshot(address);
    QVERIFY2(before.error.isEmpty(), qPrintable(before.error));

    std::vector<std::unique_ptr<VelmoraServer>> instances;
    QList<int> ports;
    for (int i = 0; i < servers; ++i) {
        VelmoraServer::Options options = localServerOptions(address);
        options.threads = 6;
        instances.push_back(std::make_unique<VelmoraServer>(options));
        QString error;
        QVERIFY2(instances.back()->start(&error), qPrintable(error));
        ports << instances.back()->port();
    }

    // The sample's employees (with assignments, some to inactive centers)
    // and new ones.
    QList<qint32> employees;
    for (qint32 e = 1; e <= SampleData::EmployeeCount; ++e)
        employees << e;
    for (qint32 e = 500; employees.size() < Clients; ++e)
        employees << e;

    // VELMORA_SOAK_SEED repeats a run's random changes.
    bool fixedSeed = false;
    const quint32 chosen = qEnvironmentVariable("VELMORA_SOAK_SEED").toUInt(&fixedSeed);
    const quint32 seed = fixedSeed ? chosen : QRandomGenerator::global()->generate();
    qInfo("soak seed %u (VELMORA_SOAK_SEED=%u repeats it)", seed, seed);
    QElapsedTimer timer;
    timer.start();
    const QDeadlineTimer deadline(SoakSeconds * 1000);
    std::vector<ClientReport> reports(static_cast<size_t>(Clients));
    std::vector<std::thread> threads;
    for (int i = 0; i < Clients; ++i) {
        const qint32 employee = employees[i];
        std::set<qint32> start;
        if (const auto it = before.assignments.find(employee); it != before.assignments.end())
            start.insert(it->second.begin(), it->second.end());
        threads.emplace_back(runClient, ports, employee, start, seed + quint32(i), deadline, &reports[size_t(i)]);
    }
    for (std::thread &t : threads)
        t.join();
    const qint64 elapsed = timer.elapsed();
    for (auto &instance : instances)
        instance->stop();

    int commits = 0;
    int refused = 0;
    int checks = 0;
    int serverErrors = 0;
    QStringList problems;
    Snapshot expected = before;
    for (int i = 0; i < Clients; ++i) {
        const ClientReport &r = reports[size_t(i)];
        commits += r.commits;
        refused += r.refused;
        checks += r.checks;
        serverErrors += r.serverErrors;
        for (const QString &p : r.problems)
            problems << QStringLiteral("employee %1: %2").arg(employees[i]).arg(p);
        expected.assignments.erase(employees[i]);
        if (!r.expected.empty())
            expected.assignments[employees[i]] = QList<qint32>(r.expected.begin(), r.expected.end());
    }
    qInfo("%d clients, %d server(s) on %s: %d commits applied, %d refused on purpose, %d documents checked, "
          "%d 5xx answers, %lld ms",
          Clients, servers, qPrintable(backend), commits, refused, checks, serverErrors, elapsed);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    QCOMPARE(serverErrors, 0);
    // The soak did real work (also in a slow sanitizer build).
    QVERIFY2(commits >= 2 * Clients, qPrintable(QStringLiteral("only %1 commits").arg(commits)));

    const Snapshot after = snapshot(address);
    QVERIFY2(after.error.isEmpty(), qPrintable(after.error));
    QVERIFY2(after == expected, qPrintable(after.differenceFrom(expected)));
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
