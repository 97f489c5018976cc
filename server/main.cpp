// velmora-server: the server page Velmora.asp on a real database.

#include "auth/credentials.h"
#include "http/requestlog.h"
#include "serveroptions.h"
#include "store/centerstore.h"
#include "velmoraserver.h"

#include "protocol/maskedaddress.h"
#include "protocol/page.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include <pthread.h>
#include <systemd/sd-daemon.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace VelmoraServerCore;
using VelmoraProtocol::maskedAddress;

namespace {

void fail(const QString &message)
{
    std::fprintf(stderr, "velmora-server: %s\n", qPrintable(message));
}

// Reads one line from stdin, without echo when it is a terminal.
QByteArray readPassword()
{
    const bool terminal = isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::fprintf(stderr, "Password: ");
        std::fflush(stderr);
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    std::getline(std::cin, line);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fprintf(stderr, "\n");
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QByteArray::fromStdString(line);
}

void describe(QCommandLineParser &parser)
{
    using namespace VelmoraProtocol;
    parser.setApplicationDescription(QStringLiteral(
        "Serves the page %1 for the Velmora Cross Reference control:\n"
        "  GET  %2?%3=N  the center document of employee N\n"
        "  POST %2               a commit: \"%4\" fields, form-URL-encoded from Windows-1252\n"
        "Only the control's two statements are accepted (INSERT of one center, DELETE of listed\n"
        "centers, for one employee numbered 1 or above); they are applied with statements of the\n"
        "server's own, all fields of a request in one transaction. The tables are created on first\n"
        "start. SIGINT or SIGTERM stop the server after the requests in progress.\n"
        "The page's protocol (documents, commit bodies, status codes, curl examples) is described in\n"
        "docs/protocol.md of the Velmora sources.")
                                         .arg(PagePath.sliced(1), PagePath, EmployeeQuery, FieldName));
    OptionTable::addTo(parser);
}

// --add-user: the exit status.
int addUser(const QCommandLineParser &parser)
{
    const QString file = parser.value(QStringLiteral("credentials"));
    const QString name = parser.value(QStringLiteral("add-user"));
    if (file.isEmpty()) {
        fail(QStringLiteral("--add-user needs --credentials FILE"));
        return 2;
    }
    QString error;
    if (!Credentials::addUser(file, name, readPassword(), &error)) {
        fail(error);
        return 1;
    }
    std::fprintf(stderr, "velmora-server: user \"%s\" added to %s\n", qPrintable(name), qPrintable(file));
    return 0;
}

// --seed: 0 when the database holds the sample now or held centers before
// (which are left alone), else the exit status.
int seed(const QCommandLineParser &parser, const ServerOptions &options)
{
    if (parser.value(QStringLiteral("seed")) != u"sample") {
        fail(QStringLiteral("--seed knows only \"sample\""));
        return 2;
    }
    CenterStore store(options.storeSettings());
    CenterStore::Error error;
    if (!store.ensureSchema(&error)) {
        fail(error.message);
        return 1;
    }
    if (store.seedSample(&error)) {
        std::fprintf(stderr, "velmora-server: seeded %s with the sample data\n",
                     qPrintable(maskedAddress(options.database)));
    } else if (error.kind == CenterStore::ErrorKind::Refused) {
        std::fprintf(stderr, "velmora-server: not seeded: %s\n", qPrintable(error.message));
    } else {
        fail(error.message);
        return 1;
    }
    return 0;
}

void sayServing(const ServerOptions &options, int port)
{
    const bool tls = !options.tlsCertificateFile.isEmpty();
    if (!tls && !options.credentialsFile.isEmpty() && options.host != u"localhost"
        && !QHostAddress(options.host).isLoopback()) {
        std::fprintf(stderr, "velmora-server: warning: plain HTTP on %s with --credentials: user names and "
                             "passwords travel in clear text; serve HTTPS with --tls-cert and --tls-key, or behind "
                             "a proxy that terminates TLS on this machine\n",
                     qPrintable(options.host));
    }
    std::fprintf(stderr, "velmora-server: serving %s://%s:%d%s on %s%s\n", tls ? "https" : "http",
                 qPrintable(options.host), port, VelmoraProtocol::PagePath.data(),
                 qPrintable(maskedAddress(options.database)),
                 options.credentialsFile.isEmpty() ? "" : " (authentication on)");
}

// Serves until SIGINT or SIGTERM: the exit status.
int serve(ServerOptions options, const sigset_t &stopSignals)
{
    // Every connection takes a file descriptor: allow as many as the system
    // lets this process have, so that --max-connections is what binds.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    // Under systemd with WatchdogSec=, the server is reported alive twice per
    // period while it makes progress (see ServerOptions::alive).
    if (std::uint64_t watchdog = 0; sd_watchdog_enabled(0, &watchdog) > 0) {
        options.heartbeat = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(watchdog / 2));
        options.alive = [] { sd_notify(0, "WATCHDOG=1"); };
    }
    VelmoraServer server(options);
    QString error;
    if (!server.start(&error)) {
        fail(error);
        return 1;
    }
    sayServing(options, server.port());
    sd_notify(0, "READY=1");
    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::fprintf(stderr, "velmora-server: %s received, stopping\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    sd_notify(0, "STOPPING=1");
    server.stop();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // SIGINT and SIGTERM are taken by sigwait() in serve(); block them before
    // any thread starts so that every thread inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velmora-server"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QCommandLineParser parser;
    describe(parser);
    parser.process(app);
    if (const QString printout = OptionTable::printout(parser); !printout.isEmpty()) {
        std::fputs(qPrintable(printout), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument \"%1\" (see --help)").arg(parser.positionalArguments().first()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("add-user")))
        return addUser(parser);
    ServerOptions options;
    if (QString error; !OptionTable::read(parser, &options, &error)) {
        fail(error);
        return 2;
    }
    if (!parser.isSet(QStringLiteral("quiet")))
        options.log = RequestLog::toStderr();
    const bool seedOnly = parser.isSet(QStringLiteral("seed-only"));
    if (parser.isSet(QStringLiteral("seed"))) {
        if (const int status = seed(parser, options); status != 0)
            return status;
    } else if (seedOnly) {
        fail(QStringLiteral("--seed-only needs --seed"));
        return 2;
    }
    return seedOnly ? 0 : serve(std::move(options), stopSignals);
}
