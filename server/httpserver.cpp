#include "httpserver.h"

#include "centerstore.h"
#include "commitrequest.h"
#include "credentials.h"
#include "formdecoder.h"
#include "gzipwriter.h"

#include "bodybudget.h"
#include "httpconnection.h"
#include "loginguard.h"
#include "trustedproxies.h"
#include "progressmonitor.h"
#include "workerpool.h"

#include "core/limits.h"
#include "core/maskedaddress.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QRegularExpression>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <optional>
#include <thread>
#include <unordered_map>

namespace VelmoraServerCore {

namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

// A health check (HEAD) is answered 503 when the database has not given its
// document within this time, however stuck the database or the workers are,
// so that a load balancer takes the server out.
constexpr std::chrono::seconds HealthCheckLimit{1};

// The network thread running the calling code (0 to ioThreads - 1), for the
// progress monitor's ticks; -1 on other threads.
thread_local int ioThreadIndex = -1;

// The page's path; a ServerName that ends in '/' makes the control ask for
// "//Velmora.asp", which a web server treats as the same page.
bool isPagePath(const std::string &path)
{
    static const QRegularExpression page(QStringLiteral(R"(^/+Velmora\.asp$)"));
    return page.match(QString::fromStdString(path)).hasMatch();
}

// OpenSSL's reason for the first failure of this thread, e.g. "key values
// mismatch" or "no start line".
QString openSslReason()
{
    const unsigned long code = ERR_peek_error();
    const char *reason = code ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return QString::fromLatin1(reason ? reason : "unknown OpenSSL error");
}

// The server's side of TLS: 1.2 at least, no compression or renegotiation,
// and a key that is checked against the certificate before any client comes.
bool setUpTls(SSL_CTX &context, const QString &certificateFile, const QString &keyFile, QString *error)
{
    // A file that cannot be read is named with the system's reason, which
    // OpenSSL's "system lib" would not give.
    for (const QString &path : {certificateFile, keyFile}) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the TLS %1 file %2: %3")
                         .arg(path == certificateFile ? u"certificate" : u"key", path, file.errorString());
            return false;
        }
    }
    ERR_clear_error();
    SSL_CTX_set_options(&context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    if (SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION) != 1) {
        *error = QStringLiteral("cannot require TLS 1.2: %1").arg(openSslReason());
        return false;
    }
    if (SSL_CTX_use_certificate_chain_file(&context, QFile::encodeName(certificateFile).constData()) != 1) {
        *error = QStringLiteral("the TLS certificate file %1 is not a usable PEM certificate: %2")
                     .arg(certificateFile, openSslReason());
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(&context, QFile::encodeName(keyFile).constData(), SSL_FILETYPE_PEM) != 1
        || SSL_CTX_check_private_key(&context) != 1) {
        // OpenSSL checks the pair while loading the key already.
        const bool mismatch = ERR_GET_REASON(ERR_peek_error()) == X509_R_KEY_VALUES_MISMATCH;
        *error = mismatch ? QStringLiteral("the TLS key file %1 does not match the certificate file %2 (%3)")
                                .arg(keyFile, certificateFile, openSslReason())
                          : QStringLiteral("the TLS key file %1 holds no usable unencrypted PEM private key: %2")
                                .arg(keyFile, openSslReason());
        return false;
    }
    return true;
}

int statusFor(CenterStore::ErrorKind kind)
{
    switch (kind) {
    case CenterStore::ErrorKind::Refused: return 409;
    case CenterStore::ErrorKind::Unavailable:
    case CenterStore::ErrorKind::OutcomeUnknown: return 503;
    case CenterStore::ErrorKind::None:
    case CenterStore::ErrorKind::Failed: break;
    }
    return 500;
}

// The operator sees why a change was refused; for a database that is down
// or failing, a short text (the details, which name hosts and tables, go to
// the log only).
HttpAnswer answerStoreError(const CenterStore::Error &error)
{
    const int status = statusFor(error.kind);
    HttpAnswer answer;
    switch (status) {
    case 409:
        return HttpAnswer::text(status, error.message);
    case 503:
        answer = HttpAnswer::text(
            status, error.kind == CenterStore::ErrorKind::OutcomeUnknown
                ? QStringLiteral("the connection to the database broke while the change was being saved, so it "
                                 "may or may not be saved; sending the same change again is safe, or reload to "
                                 "see what is stored")
                : QStringLiteral("the database is unavailable at the moment; nothing was changed, "
                                 "please try again shortly"));
        answer.headers.emplace_back("Retry-After", "5");
        break;
    default:
        answer = HttpAnswer::text(status, QStringLiteral("database error; nothing was changed"));
        break;
    }
    answer.reason = error.message;
    return answer;
}

QString count(int n, QStringView noun)
{
    return QStringLiteral("%1 %2%3").arg(n).arg(noun).arg(n == 1 ? "" : "s");
}

// The media type of a Content-Type value, without parameters, lower case.
std::string mediaType(const std::string &value)
{
    std::string type = value.substr(0, value.find(';'));
    const auto first = type.find_first_not_of(" \t");
    const auto last = type.find_last_not_of(" \t");
    type = first == std::string::npos ? std::string() : type.substr(first, last - first + 1);
    for (char &c : type)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return type;
}

} // namespace

class VelmoraServer::Private final : public HttpHost
{
public:
    explicit Private(Options o)
        : options(std::move(o)), budget(options.bodyBudget),
          catalogue(options.catalogue ? options.catalogue : std::make_shared<CatalogueCache>())
    {
        httpLimits.handshake = std::chrono::seconds(options.handshakeTimeoutSeconds);
        httpLimits.idle = std::chrono::seconds(options.idleTimeoutSeconds);
        httpLimits.head = std::chrono::seconds(options.headTimeoutSeconds);
        httpLimits.body = std::chrono::seconds(options.readTimeoutSeconds);
        httpLimits.headBytes = options.headLimit;
        httpLimits.headerCount = options.headerLimit;
        httpLimits.bodyBytes = options.bodyLimit;
    }

    CenterStore::Settings storeSettings() const
    {
        return {options.database, options.busyTimeoutMs, options.syncEveryCommit,
                std::chrono::seconds(options.dbTimeoutSeconds), {}, catalogue};
    }

    const HttpLimits &limits() const override { return httpLimits; }
    BodyBudget &bodyBudget() override { return budget; }
    const TrustedProxies &trustedProxies() const override { return proxies; }
    bool stopping() const override { return isStopping.load(); }

    // The checks that need neither a key derivation nor the database run
    // here, on the connection's thread; the rest waits for a worker.
    void serve(std::shared_ptr<HttpRequest> request, std::function<void(HttpAnswer)> answer) override
    {
        if (!isPagePath(request->path))
            return answer(HttpAnswer::text(404, QStringLiteral("not found: this server serves /Velmora.asp only")));
        if (request->method != "GET" && request->method != "HEAD" && request->method != "POST") {
            // The page takes GET (and HEAD) and POST; any other method is
            // named as not allowed rather than the page as missing.
            HttpAnswer refusal = HttpAnswer::text(
                405, QStringLiteral("method %1 is not allowed on /Velmora.asp: use GET (the document) or POST (a "
                                    "commit)")
                         .arg(QString::fromStdString(request->method).left(20)));
            refusal.headers.emplace_back("Allow", "GET, HEAD, POST");
            return answer(std::move(refusal));
        }
        // A pair verified before is accepted on a worker without a key
        // derivation; any other check is counted against its address and
        // the user it names first.
        std::optional<QString> checkedUser;
        if (credentials) {
            if (request->authorization.empty())
                return answer(unauthorised(QStringLiteral("authentication required")));
            const QByteArray authorization = QByteArray::fromStdString(request->authorization);
            if (!credentials->isRemembered(authorization)) {
                const QString user = Credentials::claimedUser(authorization);
                if (const LoginGuard::Wait wait = loginGuard->begin(request->remote, user); wait.seconds > 0)
                    return answer(tooManyFailures(wait));
                checkedUser = user;
            }
        }
        const bool health = request->method == "HEAD";
        const Clock::time_point deadline
            = Clock::now() + (health ? HealthCheckLimit : std::chrono::seconds(options.dbTimeoutSeconds));
        auto reply = health ? withinHealthCheckLimit(std::move(answer)) : std::move(answer);
        auto job = [this, request, reply, checkedUser, deadline](CenterStore &store) {
            answerPage(*request, store, checkedUser, deadline, reply);
        };
        const auto lane = request->method == "POST" ? WorkerPool::Lane::Commit : WorkerPool::Lane::Read;
        const WorkerPool::Posted posted = pool->post(lane, request->remote, std::move(job));
        if (posted == WorkerPool::Posted::Queued)
            return;
        if (checkedUser)
            loginGuard->finish(request->remote, *checkedUser, LoginGuard::Outcome::NotChecked);
        if (posted != WorkerPool::Posted::AddressShareFull)
            return reply(HttpAnswer::busy());
        HttpAnswer refusal = HttpAnswer::text(
            429, QStringLiteral("too many requests from this address are waiting; nothing was changed, please try "
                                "again shortly"));
        refusal.headers.emplace_back("Retry-After", "1");
        reply(std::move(refusal));
    }

    static HttpAnswer tooManyFailures(const LoginGuard::Wait &wait)
    {
        const QString whose = wait.scope == LoginGuard::Scope::User ? QStringLiteral("for this user from this address")
            : wait.scope == LoginGuard::Scope::Address                ? QStringLiteral("from this address")
                                                                      : QStringLiteral("from too many addresses");
        HttpAnswer refusal = HttpAnswer::text(
            429, QStringLiteral("too many failed sign-ins %1; try again in %2 seconds").arg(whose).arg(wait.seconds));
        refusal.headers.emplace_back("Retry-After", std::to_string(wait.seconds));
        return refusal;
    }

    // answer, or 503 once HealthCheckLimit has passed without it; whichever
    // comes first is sent, the other dropped.
    std::function<void(HttpAnswer)> withinHealthCheckLimit(std::function<void(HttpAnswer)> answer)
    {
        auto sent = std::make_shared<std::atomic<bool>>(false);
        auto timer = std::make_shared<net::steady_timer>(net::make_strand(io), HealthCheckLimit);
        auto reply = [answer = std::move(answer), sent, timer](HttpAnswer a) {
            if (sent->exchange(true))
                return;
            net::post(timer->get_executor(), [timer] { timer->cancel(); });
            answer(std::move(a));
        };
        timer->async_wait([reply](boost::system::error_code ec) {
            if (!ec) {
                reply(answerStoreError({CenterStore::ErrorKind::Unavailable,
                                        QStringLiteral("the database did not answer the health check within %1 second")
                                            .arg(HealthCheckLimit.count())}));
            }
        });
        return reply;
    }

    static HttpAnswer unauthorised(const QString &text)
    {
        HttpAnswer answer = HttpAnswer::text(401, text);
        answer.headers.emplace_back("WWW-Authenticate", R"(Basic realm="Velmora", charset="UTF-8")");
        return answer;
    }

    // Answers with page(), on a worker. Running out of memory ends this
    // request, not the process: whether a commit got through is then not
    // known, and without memory even to hand the answer over, the
    // connection closes unanswered.
    void answerPage(const HttpRequest &request, CenterStore &store, const std::optional<QString> &checkedUser,
                    Clock::time_point deadline, const std::function<void(HttpAnswer)> &answer)
    {
        try {
            HttpAnswer result;
            try {
                result = page(request, store, checkedUser, deadline);
            } catch (const std::bad_alloc &) {
                result = HttpAnswer::text(503, request.method == "POST"
                                                   ? QStringLiteral("the server ran short of memory while saving the "
                                                                    "change, so it may or may not be saved; sending the "
                                                                    "same change again is safe, or reload to see what is "
                                                                    "stored")
                                                   : QStringLiteral("the server is short of memory; please try again "
                                                                    "shortly"));
            }
            answer(std::move(result));
        } catch (const std::bad_alloc &) {
        }
    }

    // On a worker: a request whose client has gone or whose time has
    // passed is dropped; then authentication, then the document or the
    // commit. checkedUser: the user the guard counts this check for.
    HttpAnswer page(const HttpRequest &request, CenterStore &store, const std::optional<QString> &checkedUser,
                    Clock::time_point deadline)
    {
        const bool gone = request.clientGone && request.clientGone();
        if (gone || Clock::now() >= deadline) {
            if (checkedUser)
                loginGuard->finish(request.remote, *checkedUser, LoginGuard::Outcome::NotChecked);
            return gone ? HttpAnswer::text(503, QStringLiteral("the client left before its request ran; nothing was "
                                                               "changed"))
                        : answerStoreError({CenterStore::ErrorKind::Unavailable,
                                            QStringLiteral("no worker was free before the request's time for the "
                                                           "database had passed")});
        }
        store.setDeadline(deadline);
        QString user;
        if (credentials) {
            const bool verified = credentials->checkAuthorization(QByteArray::fromStdString(request.authorization), &user);
            if (checkedUser) {
                loginGuard->finish(request.remote, *checkedUser,
                                   verified ? LoginGuard::Outcome::Succeeded : LoginGuard::Outcome::Failed);
            }
            if (!verified)
                return unauthorised(QStringLiteral("wrong user name or password"));
        }
        HttpAnswer answer = request.method == "POST" ? postCommit(request, store) : getDocument(request, store);
        answer.user = user;
        return answer;
    }

    HttpAnswer getDocument(const HttpRequest &request, CenterStore &store)
    {
        QStringList values;
        for (const QByteArrayView piece : QByteArray::fromStdString(request.query).split('&')) {
            const qsizetype eq = piece.indexOf('=');
            QString name;
            QString value;
            if (!FormDecoder::decodeComponent(eq < 0 ? piece : piece.first(eq), &name)
                || (eq >= 0 && !FormDecoder::decodeComponent(piece.sliced(eq + 1), &value))) {
                return HttpAnswer::text(400, QStringLiteral("malformed percent escape in the query"));
            }
            if (name == u"EmployeeID")
                values << value;
        }
        if (values.size() != 1) {
            return HttpAnswer::text(400, values.isEmpty()
                                             ? QStringLiteral("EmployeeID is missing (Velmora.asp?EmployeeID=N)")
                                             : QStringLiteral("EmployeeID is given more than once"));
        }
        const QString text = values.first();
        qint32 employee = 0;
        if (!StatementParser::parseInteger(text, &employee)) {
            return HttpAnswer::text(400, QStringLiteral("EmployeeID \"%1\" is not a whole number as the control "
                                                        "writes one: expected -2147483648 to 2147483647 in plain "
                                                        "decimal digits, with an optional '-' and no leading zeros")
                                             .arg(text.left(32)));
        }
        std::shared_ptr<const CenterCatalogue> catalogue;
        QList<qint32> assigned;
        CenterStore::Error error;
        if (!store.document(employee, &catalogue, &assigned, &error))
            return answerStoreError(error);
        HttpAnswer answer;
        answer.contentType = "text/xml; charset=utf-8";
        answer.headers.emplace_back("Cache-Control", "no-store");
        // One address, plain or compressed bytes by what the client accepts.
        answer.headers.emplace_back("Vary", "Accept-Encoding");
        if (acceptsGzip(request.acceptEncoding)) {
            answer.headers.emplace_back("Content-Encoding", "gzip");
            answer.body = catalogue->gzipDocument(assigned);
        } else {
            answer.body = catalogue->document(assigned);
        }
        return answer;
    }

    HttpAnswer postCommit(const HttpRequest &request, CenterStore &store)
    {
        if (mediaType(request.contentType) != "application/x-www-form-urlencoded") {
            return HttpAnswer::text(415, QStringLiteral("the body must be application/x-www-form-urlencoded, not \"%1\"")
                                             .arg(QString::fromStdString(request.contentType).left(80)));
        }
        QList<FormField> fields;
        FormDecoder::Error formError;
        if (!FormDecoder::decode(QByteArrayView(request.body.data(), qsizetype(request.body.size())), VelmoraInternal::MaxCenters,
                                 &fields, &formError)) {
            return HttpAnswer::text(formError.field > VelmoraInternal::MaxCenters ? 413 : 400, formError.reason);
        }
        CommitRequest commit;
        CommitRequest::Refusal refusal;
        if (!CommitRequest::fromFields(fields, &commit, &refusal))
            return HttpAnswer::text(refusal.httpStatus, refusal.reason);
        fields = {};
        CenterStore::Outcome outcome;
        CenterStore::Error error;
        if (!store.apply(commit, &outcome, &error))
            return answerStoreError(error);
        return HttpAnswer::text(200, QStringLiteral("Saved for employee %1: %2 added, %3 removed.")
                                         .arg(commit.employee())
                                         .arg(count(outcome.added, u"center"))
                                         .arg(outcome.removed));
    }

    // The target with its passwords masked (in the user information of an
    // absolute one, and in query items such as ?token=); masked whole
    // before it is cut to its first 200 characters.
    void log(const HttpRequest &request, const HttpAnswer &answer, qint64 bytes) override
    {
        if (!options.log)
            return;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - request.start);
        QString line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + u' ' + request.remote + u' '
            + (answer.user.isEmpty() ? QStringLiteral("-") : answer.user)
            + QStringLiteral(" \"%1 %2\" %3 %4 %5ms")
                  .arg(QString::fromStdString(request.method).left(20),
                       VelmoraInternal::maskedAddress(QString::fromStdString(request.target)).left(200))
                  .arg(answer.status)
                  .arg(bytes)
                  .arg(ms.count());
        if (!answer.reason.isEmpty()) {
            QString reason = answer.reason.left(300);
            for (QChar &c : reason) {
                if (c.unicode() < 0x20)
                    c = u' ';
            }
            line += QStringLiteral(" \"%1\"").arg(reason);
        }
        options.log(line);
    }

    // Whether another connection from remote fits under the caps; counts it.
    // A trusted proxy carries many clients: only the total binds it.
    bool admit(const QString &remote)
    {
        std::lock_guard lock(connectionsMutex);
        int &fromAddress = perAddress[remote];
        if (openConnections >= options.maxConnections
            || (fromAddress >= options.maxConnectionsPerAddress && !proxies.contains(remote))) {
            if (fromAddress == 0)
                perAddress.remove(remote);
            return false;
        }
        ++fromAddress;
        ++openConnections;
        return true;
    }

    void closed(HttpConnection *connection, const QString &remote) override
    {
        std::lock_guard lock(connectionsMutex);
        connections.erase(connection);
        --openConnections;
        if (--perAddress[remote] <= 0)
            perAddress.remove(remote);
    }

    void accept()
    {
        acceptor->async_accept(net::make_strand(io), [this](boost::system::error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted || !acceptor->is_open())
                return;
            if (ec) {
                // Out of file descriptors, for example: try again shortly
                // rather than spin.
                acceptPause.expires_after(std::chrono::milliseconds(50));
                acceptPause.async_wait([this](boost::system::error_code) {
                    if (acceptor->is_open())
                        accept();
                });
                return;
            }
            try {
                serveConnection(std::move(socket));
            } catch (const std::bad_alloc &) {
                // The socket closes; the next connection may find memory.
            }
            accept();
        });
    }

    void serveConnection(tcp::socket socket)
    {
        boost::system::error_code addressError;
        const auto endpoint = socket.remote_endpoint(addressError);
        const QString remote = QString::fromStdString(endpoint.address().to_string());
        if (addressError || !admit(remote))
            return;
        auto connection = HttpConnection::create(std::move(socket), remote, tls ? &*tls : nullptr, this);
        {
            std::lock_guard lock(connectionsMutex);
            connections.emplace(connection.get(), connection);
        }
        connection->start();
        // stop() may have looked at the connections just before.
        if (isStopping)
            connection->stopWaiting();
    }

    // A network thread. A handler that runs out of memory ends its own
    // connection (whose handlers it held); the thread serves on.
    void runIo()
    {
        for (;;) {
            try {
                io.run();
                return;
            } catch (const std::bad_alloc &) {
            }
        }
    }

    // Every heartbeat: a tick on each network thread, then alive() if the
    // monitor finds the server healthy.
    void heartbeat()
    {
        std::unique_lock lock(heartbeatMutex);
        while (!heartbeatWake.wait_for(lock, options.heartbeat, [this] { return isStopping.load(); })) {
            lock.unlock();
            tickNetworkThreads();
            if (monitor->healthy())
                options.alive();
            lock.lock();
        }
    }

    // One tick per network thread: each waits (for at most half a heartbeat)
    // until all have started, so that no thread can run two of them and a
    // stuck thread leaves its tick undone.
    void tickNetworkThreads()
    {
        struct Round
        {
            std::mutex mutex;
            std::condition_variable arrived;
            int count = 0;
        };
        const auto round = std::make_shared<Round>();
        const int threads = options.ioThreads;
        const auto bound = options.heartbeat / 2;
        auto allArrived = [round, threads] { return round->count == threads; };
        for (int i = 0; i < threads; ++i) {
            net::post(io, [this, round, bound, allArrived] {
                monitor->ticked(ioThreadIndex);
                std::unique_lock lock(round->mutex);
                ++round->count;
                round->arrived.notify_all();
                round->arrived.wait_for(lock, bound, allArrived);
            });
        }
        std::unique_lock lock(round->mutex);
        round->arrived.wait_for(lock, bound, allArrived);
    }

    Options options;
    BodyBudget budget;
    TrustedProxies proxies;
    std::shared_ptr<CatalogueCache> catalogue;
    HttpLimits httpLimits;
    std::unique_ptr<Credentials> credentials;
    std::unique_ptr<LoginGuard> loginGuard;
    std::unique_ptr<ProgressMonitor> monitor;
    std::unique_ptr<WorkerPool> pool;
    net::io_context io;
    // The acceptor and its pause run on one strand: stop() closes it from
    // another thread.
    net::strand<net::io_context::executor_type> acceptStrand{net::make_strand(io)};
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
    std::optional<tcp::acceptor> acceptor;
    net::steady_timer acceptPause{acceptStrand};
    std::optional<net::ssl::context> tls;
    std::vector<std::thread> ioThreads;
    std::atomic<bool> isStopping{false};
    std::thread heartbeatThread;
    std::mutex heartbeatMutex;
    std::condition_variable heartbeatWake;
    std::mutex connectionsMutex;
    std::unordered_map<HttpConnection *, std::weak_ptr<HttpConnection>> connections;
    QHash<QString, int> perAddress;
    int openConnections = 0;
    bool running = false;
    int port = 0;
};

VelmoraServer::VelmoraServer(Options options) : d(std::make_unique<Private>(std::move(options))) {}

VelmoraServer::~VelmoraServer()
{
    stop();
}

std::function<void(const QString &)> VelmoraServer::stderrLog()
{
    return [](const QString &line) {
        static QMutex mutex;
        const QByteArray bytes = line.toUtf8() + '\n';
        QMutexLocker lock(&mutex);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    };
}

bool VelmoraServer::start(QString *error)
{
    if (d->running) {
        *error = QStringLiteral("the server is already running");
        return false;
    }
    const Options &o = d->options;
    if (o.threads < 1 || o.bodyLimit < 1 || o.readTimeoutSeconds < 1 || o.queueLimit < 1 || o.ioThreads < 1
        || o.handshakeTimeoutSeconds < 1 || o.idleTimeoutSeconds < 1 || o.headTimeoutSeconds < 1
        || o.headLimit < 256 || o.headerLimit < 1 || o.maxConnections < 1 || o.maxConnectionsPerAddress < 1
        || o.loginFailures < 1 || o.loginBackoffSeconds < 0 || o.authCacheSeconds < 0 || o.readThreads < 0
        || o.queuePerAddress < 1 || o.dbTimeoutSeconds < 1) {
        *error = QStringLiteral("threads, queue, limits and time-outs must be positive (the head limit at least "
                                "256 bytes)");
        return false;
    }
    if (o.bodyBudget < o.bodyLimit) {
        *error = QStringLiteral("the body budget (%1 bytes) must be at least the body limit (%2 bytes)")
                     .arg(o.bodyBudget).arg(o.bodyLimit);
        return false;
    }
    if (QString bad; !d->proxies.setAddresses(o.trustedProxies, &bad)) {
        *error = QStringLiteral("the trusted proxy \"%1\" is not an IPv4 or IPv6 address").arg(bad);
        return false;
    }
    {
        // Fail early on a database that cannot be opened, and create the
        // tables once rather than in every worker.
        CenterStore store(d->storeSettings());
        CenterStore::Error storeError;
        if (!store.ensureSchema(&storeError)) {
            *error = storeError.message;
            return false;
        }
    }
    if (!o.credentialsFile.isEmpty()) {
        auto credentials = std::make_unique<Credentials>();
        if (!Credentials::load(o.credentialsFile, credentials.get(), error))
            return false;
        if (credentials->isEmpty()) {
            *error = QStringLiteral("the credentials file %1 names no user; add one with --add-user")
                         .arg(o.credentialsFile);
            return false;
        }
        credentials->setCacheLifetime(std::chrono::seconds(o.authCacheSeconds));
        d->credentials = std::move(credentials);
        d->loginGuard = std::make_unique<LoginGuard>(
            LoginGuard::Settings{o.loginFailures, std::chrono::seconds(o.loginBackoffSeconds)});
    }
    if (o.tlsCertificateFile.isEmpty() != o.tlsKeyFile.isEmpty()) {
        *error = QStringLiteral("HTTPS needs both a TLS certificate and its key");
        return false;
    } else if (!o.tlsCertificateFile.isEmpty()) {
        d->tls.emplace(net::ssl::context::tls_server);
        if (!setUpTls(*d->tls->native_handle(), o.tlsCertificateFile, o.tlsKeyFile, error)) {
            d->tls.reset();
            return false;
        }
    }

    boost::system::error_code ec;
    const auto address = net::ip::make_address(o.host.toStdString(), ec);
    tcp::endpoint endpoint;
    if (!ec) {
        endpoint = tcp::endpoint(address, quint16(o.port));
    } else {
        tcp::resolver resolver(d->io);
        const auto found = resolver.resolve(o.host.toStdString(), std::to_string(o.port), ec);
        if (!ec && !found.empty())
            endpoint = found.begin()->endpoint();
    }
    d->acceptor.emplace(d->acceptStrand);
    // SO_REUSEADDR alone (never SO_REUSEPORT, with which a second server on
    // the same port would take half of the requests) still allows a restart
    // while old connections linger.
    if (!ec)
        d->acceptor->open(endpoint.protocol(), ec);
    if (!ec)
        d->acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec)
        d->acceptor->bind(endpoint, ec);
    if (!ec)
        d->acceptor->listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        d->acceptor.reset();
        d->tls.reset();
        d->credentials.reset();
        *error = o.port == 0 ? QStringLiteral("cannot listen on %1 (any port)").arg(o.host)
                             : QStringLiteral("cannot listen on %1:%2: the port is in use by another program (another "
                                              "velmora-server?) or %1 is not an address of this machine")
                                   .arg(o.host).arg(o.port);
        return false;
    }
    d->port = d->acceptor->local_endpoint().port();
    d->isStopping = false;
    d->io.restart();
    const bool watched = o.heartbeat.count() > 0 && o.alive;
    if (watched) {
        // Each job is bounded by the database's time-outs; one that runs ten
        // times as long is stuck.
        const auto longestWait = std::max<std::chrono::milliseconds>(std::chrono::seconds(o.dbTimeoutSeconds),
                                                                     std::chrono::milliseconds(o.busyTimeoutMs));
        d->monitor = std::make_unique<ProgressMonitor>(o.ioThreads, o.threads, 10 * longestWait);
    }
    // Reads keep workers of their own only when there are others for commits.
    const WorkerPool::Limits limits{o.threads, std::min(o.readThreads, o.threads - 1), o.queueLimit, o.queuePerAddress};
    d->pool = std::make_unique<WorkerPool>(d->storeSettings(), limits, d->monitor.get());
    d->work.emplace(d->io.get_executor());
    d->accept();
    for (int i = 0; i < o.ioThreads; ++i) {
        d->ioThreads.emplace_back([p = d.get(), i] {
            ioThreadIndex = i;
            p->runIo();
        });
    }
    if (watched)
        d->heartbeatThread = std::thread([p = d.get()] { p->heartbeat(); });
    d->running = true;
    return true;
}

void VelmoraServer::stop()
{
    if (!d->running)
        return;
    {
        std::lock_guard lock(d->heartbeatMutex);
        d->isStopping = true;
    }
    d->heartbeatWake.notify_all();
    if (d->heartbeatThread.joinable())
        d->heartbeatThread.join();
    // No new connections; those that wait for a client close, those whose
    // request is with a worker get their answer.
    net::post(d->acceptStrand, [p = d.get()] {
        boost::system::error_code ignored;
        p->acceptor->close(ignored);
        p->acceptPause.cancel();
    });
    std::vector<std::shared_ptr<HttpConnection>> open;
    {
        std::lock_guard lock(d->connectionsMutex);
        for (const auto &[raw, weak] : d->connections) {
            if (auto connection = weak.lock())
                open.push_back(std::move(connection));
        }
    }
    for (const auto &connection : open)
        connection->stopWaiting();
    open.clear();
    d->pool->stop();
    d->work.reset();
    for (std::thread &thread : d->ioThreads)
        thread.join();
    d->ioThreads.clear();
    d->pool.reset();
    d->monitor.reset();
    d->acceptor.reset();
    d->tls.reset();
    d->credentials.reset();
    d->loginGuard.reset();
    d->running = false;
}

bool VelmoraServer::isRunning() const
{
    return d->running;
}

int VelmoraServer::port() const
{
    return d->port;
}

} // namespace VelmoraServerCore
