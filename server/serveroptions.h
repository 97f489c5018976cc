// What velmora-server is started with. Every option of the program stands
// once, in the table of serveroptions.cpp, with its name, its default, its
// --help text, its bounds and its lines in the service's settings file and
// in docs/deployment.md; the parsing, the help, the checks and those two
// files all come from that table (the files are kept in the sources, and a
// test holds them against what the table prints).
#pragma once

#include "store/centerstore.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

class QCommandLineParser;

namespace VelmoraServerCore {

class CatalogueCache;

struct ServerOptions
{
    // Every option at its default.
    ServerOptions();

    QString host;
    int port = 0;             // 0: any free port (see VelmoraServer::port())
    QString database;         // SQLite file path or postgresql:// URL (see CenterStore)
    QString credentialsFile;  // empty: no authentication
    // PEM files; both set: HTTPS (TLS 1.2 or later) instead of HTTP. The
    // certificate file may hold the intermediate certificates after the
    // server's own.
    QString tlsCertificateFile;
    QString tlsKeyFile;
    qint64 bodyLimit = 0;     // bytes of a POST body (413 above)
    qint64 bodyBudget = 0;    // bytes all request bodies may hold at once (503 above)
    int readTimeoutSeconds = 0; // for a whole body, and for writing an answer (408)
    int threads = 0;          // database workers, hence database connections
    int readThreads = 0;      // of them, those kept for documents (at most threads - 1)
    int queueLimit = 0;       // documents, and commits, waiting for a worker (503 above)
    int queuePerAddress = 0;  // requests of one address waiting for a worker (429 above)
    // Every request's database work, from its arrival: a request still
    // waiting for a worker then is answered 503 without running, and on
    // PostgreSQL a statement or lock wait ends with it (see
    // CenterStore::Settings::timeout).
    int dbTimeoutSeconds = 0;
    // SQLite: how long to wait for another writer, and whether to sync
    // every commit (see CenterStore::Settings).
    int busyTimeoutMs = 0;
    bool syncEveryCommit = true;
    // Deadlines and limits of a connection.
    int handshakeTimeoutSeconds = 0; // TLS handshake, from its first byte (closed after)
    int idleTimeoutSeconds = 0;      // from connecting (or the handshake) to the first byte (closed after)
    int headTimeoutSeconds = 0;      // from the first byte to the end of the head (408)
    qint64 headLimit = 0;            // bytes of request line and headers (431)
    int headerLimit = 0;             // header lines (431)
    int maxConnections = 0;          // open at once; more are closed at once
    int maxConnectionsPerAddress = 0; // open at once from one client address
    // Authentication under attack.
    int loginFailures = 0;       // failures from one address before 429
    int loginBackoffSeconds = 0; // how long 429 lasts after the last failure
    int authCacheSeconds = 0;    // how long a verified user and password are remembered
    // Reverse proxies whose X-Forwarded-For names the client (IPv4 or
    // IPv6 addresses); from any other peer the header is ignored.
    QStringList trustedProxies;

    // What the program's options do not set.
    int ioThreads = 2; // threads that serve the connections
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

    // Whether every value lies within its bounds and the values agree;
    // false with a reason that names the option.
    bool validate(QString *error) const;
    // The settings of every database connection the server opens.
    CenterStore::Settings storeSettings() const;
};

// The table of options, for the program.
namespace OptionTable {

// Adds every option (and --help, --version) to parser.
void addTo(QCommandLineParser &parser);
// The options that parser found, over the defaults; false with a reason
// that names the option when a value cannot be read or is out of bounds.
bool read(const QCommandLineParser &parser, ServerOptions *options, QString *error);
// The options the program prints and exits with: the service's settings
// file (packaging/velmora-server.default) and the table of limits in
// docs/deployment.md. Empty when parser asks for neither.
QString printout(const QCommandLineParser &parser);

} // namespace OptionTable

} // namespace VelmoraServerCore
