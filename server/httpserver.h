// velmora-server's HTTP side: the page /Velmora.asp that hands out the center
// document (GET ?EmployeeID=N) and receives the "SQL" fields of a commit
// (POST, application/x-www-form-urlencoded). Received statements are only
// recognised, never run: each becomes parameterised statements of our own,
// and all statements of one request are applied in one transaction.
//
// Connections are served on a few network threads (Boost.Asio), where an
// idle or slow client costs a timer, not a thread; every step of a request
// has a deadline and a size limit. The database work runs on a bounded pool
// of worker threads, each with its own database connection, opened on its
// first request and reopened after the database went away.
#pragma once

#include "centercatalogue.h"
#include "centerstore.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

namespace VelmoraServerCore {

class VelmoraServer
{
public:
    struct Options
    {
        QString host = QStringLiteral("127.0.0.1");
        int port = 8080;          // 0: any free port (see port())
        QString database;         // SQLite file path or postgresql:// URL (see CenterStore)
        QString credentialsFile;  // empty: no authentication
        // PEM files; both set: HTTPS (TLS 1.2 or later) instead of HTTP. The
        // certificate file may hold the intermediate certificates after the
        // server's own.
        QString tlsCertificateFile;
        QString tlsKeyFile;
        qint64 bodyLimit = 8 * 1024 * 1024; // bytes of a POST body (413 above)
        qint64 bodyBudget = 256 * 1024 * 1024; // bytes all request bodies may hold at once (503 above)
        int readTimeoutSeconds = 20;        // for a whole body, and for writing an answer (408)
        int threads = 8;                    // database workers, hence database connections
        int readThreads = 2;                // of them, those kept for documents (at most threads - 1)
        int queueLimit = 64;                // documents, and commits, waiting for a worker (503 above)
        int queuePerAddress = 16;           // requests of one address waiting for a worker (429 above)
        // Every request's database work, from its arrival: a request still
        // waiting for a worker then is answered 503 without running, and on
        // PostgreSQL a statement or lock wait ends with it (see
        // CenterStore::Settings::timeout).
        int dbTimeoutSeconds = int(CenterStore::Settings{}.timeout.count());
        // SQLite: how long to wait for another writer, and whether to sync
        // every commit (see CenterStore::Settings).
        int busyTimeoutMs = CenterStore::Settings{}.busyTimeoutMs;
        bool syncEveryCommit = CenterStore::Settings{}.syncEveryCommit;
        int ioThreads = 2;                  // threads that serve the connections
        // Deadlines and limits of a connection.
        int handshakeTimeoutSeconds = 10;   // TLS handshake, from its first byte (closed after)
        int idleTimeoutSeconds = 30;        // from connecting (or the handshake) to the first byte (closed after)
        int headTimeoutSeconds = 10;        // from the first byte to the end of the head (408)
        qint64 headLimit = 16 * 1024;       // bytes of request line and headers (431)
        int headerLimit = 100;              // header lines (431)
        int maxConnections = 4096;          // open at once; more are closed at once
        int maxConnectionsPerAddress = 128; // open at once from one client address
        // Authentication under attack.
        int loginFailures = 10;             // failures from one address before 429
        int loginBackoffSeconds = 60;       // how long 429 lasts after the last failure
        int authCacheSeconds = 300;         // how long a verified user and password are remembered
        // Reverse proxies whose X-Forwarded-For names the client (IPv4 or
        // IPv6 addresses); from any other peer the header is ignored.
        QStringList trustedProxies;
        // The catalogue of centers the workers share; empty: the server makes
        // its own. Given by those who count its builds (tests, benchmarks).
        std::shared_ptr<CatalogueCache> catalogue;
        // One line per request; nullptr for none.
        std::function<void(const QString &line)> log;
        // Called every heartbeat while the server makes progress (every
        // network thread answers and no worker is stuck on one job), for a
        // service manager's watchdog; none when either is unset.
        std::chrono::milliseconds heartbeat{0};
        std::function<void()> alive;
    };

    explicit VelmoraServer(Options options);
    ~VelmoraServer(); // stops
    VelmoraServer(const VelmoraServer &) = delete;
    VelmoraServer &operator=(const VelmoraServer &) = delete;

    // Creates the schema if needed, reads the credentials file and the TLS
    // certificate and key, binds the address and starts serving on a thread
    // of its own. Returns once the port is bound (or false, with a reason).
    bool start(QString *error);
    // Stops accepting, finishes the requests in progress and returns when
    // every worker has ended. Safe to call more than once.
    void stop();

    bool isRunning() const;
    int port() const;

    // A log sink that writes each line to stderr.
    static std::function<void(const QString &)> stderrLog();

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace VelmoraServerCore
