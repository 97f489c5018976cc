#include "serverbench.h"

#include "benchdata.h"
#include "measure.h"

#include "velmoraserver.h"
#include "core/changeset.h"

#include <httplib.h>
#include <zlib.h>

#include <ctime>

#include <atomic>
#include <optional>
#include <cstdio>
#include <string>
#include <thread>

namespace Bench {

namespace {

namespace ChangeSet = VelmoraInternal::ChangeSet;
using VelmoraServerCore::Center;
using VelmoraServerCore::VelmoraServer;

constexpr int MaxSmallCommits = 200000; // per client and run
constexpr auto FormType = "application/x-www-form-urlencoded";

void progress(const QString &text)
{
    std::fprintf(stderr, "bench: %s\n", qPrintable(text));
    std::fflush(stderr);
}

std::string toStd(const QByteArray &bytes)
{
    return std::string(bytes.constData(), size_t(bytes.size()));
}

std::unique_ptr<httplib::Client> client(int port)
{
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port);
    c->set_keep_alive(true);
    // The request's header and body go out without waiting for an ACK.
    c->set_tcp_nodelay(true);
    c->set_connection_timeout(5, 0);
    c->set_read_timeout(120, 0);
    c->set_write_timeout(120, 0);
    return c;
}

int countOf(const std::string &text, const std::string &needle)
{
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

// The text of a gzip answer, or the answer itself when it is not gzip.
std::string inflated(const httplib::Result &result)
{
    if (result->get_header_value("Content-Encoding") != "gzip")
        return result->body;
    z_stream stream{};
    inflateInit2(&stream, 16 + MAX_WBITS);
    std::string out(64 * 1024 * 1024, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(result->body.data()));
    stream.avail_in = uInt(result->body.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const bool complete = inflate(&stream, Z_FINISH) == Z_STREAM_END;
    out.resize(complete ? stream.total_out : 0);
    inflateEnd(&stream);
    return out;
}

double cpuMs(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void record(Report &report, const QString &key, int size, const std::vector<double> &values, bool failed)
{
    report.set(key, size, Figure{median(values), int(values.size()), false, failed || values.empty()});
}

// Small commits: each client assigns one center to an employee of its own
// and removes it again, one statement per request, as fast as the server
// answers, for a bounded time and count.
void benchSmallCommits(Report &report, const QString &key, int port, const QList<Center> &centers,
                       const ServerOptions &options)
{
    const int size = int(centers.size());
    const std::string page = "/Velmora.asp";
    const int clients = options.clients;
    std::vector<double> rates;
    bool failed = false;
    const int runs = options.quick ? 1 : 3;
    for (int run = 0; run < runs; ++run) {
        std::atomic<long> ok{0};
        std::atomic<long> refused{0};
        std::vector<std::thread> threads;
        const Clock::time_point start = Clock::now();
        const auto deadline = start + std::chrono::milliseconds(qint64(options.smallCommitSeconds * 1000.0));
        for (int t = 0; t < clients; ++t) {
            threads.emplace_back([&, t] {
                const qint32 employee = FirstSmallCommitEmployee + t;
                const QString center = QString::number(centers[qsizetype(t) * centers.size() / clients].id);
                const std::string bodies[2] = {
                    toStd(ChangeSet::formBody({ChangeSet::insertStatement(employee, center)})),
                    toStd(ChangeSet::formBody({ChangeSet::deleteStatement(employee, {center})}))};
                auto c = client(port);
                for (int i = 0; i < MaxSmallCommits && Clock::now() < deadline; ++i) {
                    const auto result = c->Post(page, bodies[i % 2], FormType);
                    if (result && result->status == 200)
                        ++ok;
                    else
                        ++refused;
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        const double seconds = msSince(start) / 1000.0;
        rates.push_back(double(ok.load()) / seconds);
        if (refused.load() > 0) {
            failed = true;
            progress(QStringLiteral("%1 of %2 small commits on %3 at %4 failed")
                         .arg(refused.load()).arg(refused.load() + ok.load()).arg(key).arg(size));
        }
    }
    record(report, QStringLiteral("srv.small.") + key, size, rates, failed);
}

} // namespace

void benchServer(Report &report, const QString &backend, const QString &database, const QList<Center> &centers,
                 const ServerOptions &options)
{
    const int size = int(centers.size());
    progress(QStringLiteral("server on %1 at %2 centers").arg(backend).arg(size));

    VelmoraServer::Options serverOptions;
    serverOptions.host = QStringLiteral("127.0.0.1");
    serverOptions.port = 0;
    serverOptions.database = database;
    VelmoraServer server(serverOptions);
    QString error;
    if (!server.start(&error)) {
        report.note(QStringLiteral("The server on %1 at %2 centers did not start: %3").arg(backend).arg(size).arg(error));
        return;
    }
    const int port = server.port();
    const std::string page = "/Velmora.asp";

    // The document of an employee with no assignment: every center, as it
    // is and gzip-compressed for a client that asks for it (on a server
    // that does not compress, the same bytes again); then the same just
    // after a center was renamed through a store of another server; then
    // the server's CPU time per document, this thread's (the client's) left
    // out.
    {
        const std::string path = page + "?EmployeeID=" + std::to_string(LoadEmployee);
        // Untimed: every worker opens its database connection and prepares
        // its statements on its first request.
        std::vector<std::thread> warmUp;
        for (int t = 0; t < VelmoraServer::Options{}.threads; ++t)
            warmUp.emplace_back([&] {
                auto w = client(port);
                for (int i = 0; i < 3; ++i)
                    w->Get(path);
            });
        for (std::thread &thread : warmUp)
            thread.join();
        auto c = client(port);
        c->set_decompress(false);
        const httplib::Headers gzip{{"Accept-Encoding", "gzip"}};
        VelmoraServerCore::CenterStore other({database});
        Center renamed = centers.first();
        for (const QString &kind : {QString(), QStringLiteral("gz."), QStringLiteral("changed.gz.")}) {
            bool failed = false;
            Runs runs{options.quick ? 3 : 15, options.quick ? 3.0 : 10.0, options.quick ? 1 : 3};
            const auto prepare = [&] {
                if (!kind.startsWith(u"changed"))
                    return;
                renamed.name = (renamed.name.endsWith(u'*') ? renamed.name.chopped(1) : renamed.name + u'*');
                VelmoraServerCore::CenterStore::Error error;
                failed = !other.putCenters({renamed}, &error) || failed;
            };
            const auto times = repeat(runs, prepare, [&] {
                std::optional<httplib::Result> result;
                const double t = timeMs([&] { result.emplace(kind.isEmpty() ? c->Get(path) : c->Get(path, gzip)); });
                if (!*result || (*result)->status != 200 || countOf(inflated(*result), "</Center>") != size) {
                    progress(QStringLiteral("the document on %1 at %2 is not complete").arg(backend).arg(size));
                    failed = true;
                }
                return t;
            });
            record(report, QStringLiteral("srv.doc.") + kind + backend, size, times, failed);
        }
        for (const QString &kind : {QString(), QStringLiteral("gz.")}) {
            constexpr int Documents = 20;
            double client = 0.0;
            const double start = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
            bool failed = false;
            for (int i = 0; i < Documents; ++i) {
                const double before = cpuMs(CLOCK_THREAD_CPUTIME_ID);
                const auto result = kind.isEmpty() ? c->Get(path) : c->Get(path, gzip);
                client += cpuMs(CLOCK_THREAD_CPUTIME_ID) - before;
                failed = failed || !result || result->status != 200;
            }
            const double server = (cpuMs(CLOCK_PROCESS_CPUTIME_ID) - start - client) / Documents;
            report.set(QStringLiteral("srv.cpu.") + kind + backend, size, Figure{server, Documents, false, failed});
        }
    }

    // A commit that assigns every center, then one that removes them all
    // again (one DELETE with every ID), as the control builds them.
    {
        QStringList inserts;
        QStringList ids;
        inserts.reserve(size);
        ids.reserve(size);
        for (const Center &center : centers) {
            ids << QString::number(center.id);
            inserts << ChangeSet::insertStatement(BulkCommitEmployee, ids.back());
        }
        const std::string insertBody = toStd(ChangeSet::formBody(inserts));
        const std::string deleteBody = toStd(ChangeSet::formBody({ChangeSet::deleteStatement(BulkCommitEmployee, ids)}));
        const std::string added = QStringLiteral("%1 center%2 added").arg(size).arg(size == 1 ? "" : "s").toStdString();
        const std::string removed = QStringLiteral(", %1 removed").arg(size).toStdString();

        auto c = client(port);
        bool failed = false;
        std::vector<double> deletes;
        Runs runs{options.quick ? 1 : 5, options.quick ? 10.0 : 40.0, 1};
        const auto times = repeat(runs, nullptr, [&] {
            std::optional<httplib::Result> result;
            const double t = timeMs([&] { result.emplace(c->Post(page, insertBody, FormType)); });
            if (!*result || (*result)->status != 200 || (*result)->body.find(added) == std::string::npos) {
                progress(QStringLiteral("the bulk insert on %1 at %2 failed: %3")
                             .arg(backend).arg(size)
                             .arg(*result ? QString::fromStdString((*result)->body).left(200) : QStringLiteral("no answer")));
                failed = true;
            }
            deletes.push_back(timeMs([&] { result.emplace(c->Post(page, deleteBody, FormType)); }));
            if (!*result || (*result)->status != 200 || (*result)->body.find(removed) == std::string::npos) {
                progress(QStringLiteral("the bulk delete on %1 at %2 failed").arg(backend).arg(size));
                failed = true;
            }
            return t;
        });
        record(report, QStringLiteral("srv.commit.") + backend, size, times, failed);
        record(report, QStringLiteral("srv.delete.") + backend, size, deletes, failed);
    }

    benchSmallCommits(report, backend, port, centers, options);
    server.stop();
    // The same on SQLite synced at checkpoints only: what syncing every commit costs.
    if (backend == u"sqlite") {
        serverOptions.syncEveryCommit = false;
        VelmoraServer unsynced(serverOptions);
        if (unsynced.start(&error))
            benchSmallCommits(report, QStringLiteral("sqlite.normal"), unsynced.port(), centers, options);
    }
}

} // namespace Bench
