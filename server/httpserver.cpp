#include "httpserver.h"

#include "centerstore.h"
#include "commitrequest.h"
#include "credentials.h"
#include "documentwriter.h"
#include "formdecoder.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>

#include <httplib.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <thread>

namespace VelmoraServerCore {

namespace {

using Clock = std::chrono::steady_clock;

// The page's path; a ServerName that ends in '/' makes the control ask for
// "//Velmora.asp", which a web server treats as the same page.
constexpr auto PagePattern = R"(/+Velmora\.asp)";

// What the request log line needs to know about the request that this
// worker thread is serving.
struct RequestTrace
{
    bool started = false;
    Clock::time_point start;
    QString user;
    QString reason;
};
thread_local RequestTrace t_trace;

// The database connection of this worker thread, for the server that owns
// the thread.
struct WorkerStore
{
    const void *owner = nullptr;
    std::unique_ptr<CenterStore> store;
};
thread_local WorkerStore t_store;

void answer(httplib::Response &res, int status, const QString &text)
{
    res.status = status;
    res.set_content(text.toStdString(), "text/plain; charset=utf-8");
    if (status >= 400)
        t_trace.reason = text;
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
void answerStoreError(httplib::Response &res, const CenterStore::Error &error)
{
    const int status = statusFor(error.kind);
    switch (status) {
    case 409:
        answer(res, status, error.message);
        return;
    case 503:
        res.set_header("Retry-After", "5");
        answer(res, status, error.kind == CenterStore::ErrorKind::OutcomeUnknown
                   ? QStringLiteral("the connection to the database broke while the change was being saved, so it "
                                    "may or may not be saved; sending the same change again is safe, or reload to "
                                    "see what is stored")
                   : QStringLiteral("the database is unavailable at the moment; nothing was changed, "
                                    "please try again shortly"));
        break;
    default:
        answer(res, status, QStringLiteral("database error; nothing was changed"));
        break;
    }
    t_trace.reason = error.message;
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

class VelmoraServer::Private
{
public:
    explicit Private(Options o) : options(std::move(o)) {}

    CenterStore &store()
    {
        if (t_store.owner != this || !t_store.store) {
            t_store.store = std::make_unique<CenterStore>(storeSettings());
            t_store.owner = this;
        }
        return *t_store.store;
    }

    CenterStore::Settings storeSettings() const { return {options.database, options.busyTimeoutMs, options.syncEveryCommit}; }

    bool authorised(const httplib::Request &req, httplib::Response &res)
    {
        if (!credentials)
            return true;
        QString user;
        if (credentials->checkAuthorization(QByteArray::fromStdString(req.get_header_value("Authorization")), &user)) {
            t_trace.user = user;
            return true;
        }
        res.set_header("WWW-Authenticate", R"(Basic realm="Velmora", charset="UTF-8")");
        answer(res, 401, req.has_header("Authorization") ? QStringLiteral("wrong user name or password")
                                                           : QStringLiteral("authentication required"));
        return false;
    }

    void getDocument(const httplib::Request &req, httplib::Response &res)
    {
        if (!authorised(req, res))
            return;
        // The query is decoded here rather than by httplib, which keeps only
        // the last '='-separated piece of a value ("1 OR 1=1" would read 1).
        QStringList values;
        const std::string &target = req.target;
        const auto question = target.find('?');
        const QByteArrayView query = question == std::string::npos
            ? QByteArrayView()
            : QByteArrayView(target.data() + question + 1, qsizetype(target.size() - question - 1));
        for (const QByteArrayView piece : QByteArray(query.data(), query.size()).split('&')) {
            const qsizetype eq = piece.indexOf('=');
            QString name;
            QString value;
            if (!FormDecoder::decodeComponent(eq < 0 ? piece : piece.first(eq), &name)
                || (eq >= 0 && !FormDecoder::decodeComponent(piece.sliced(eq + 1), &value))) {
                answer(res, 400, QStringLiteral("malformed percent escape in the query"));
                return;
            }
            if (name == u"EmployeeID")
                values << value;
        }
        if (values.size() != 1) {
            answer(res, 400, values.isEmpty() ? QStringLiteral("EmployeeID is missing (Velmora.asp?EmployeeID=N)")
                                              : QStringLiteral("EmployeeID is given more than once"));
            return;
        }
        const QString text = values.first();
        qint32 employee = 0;
        if (!StatementParser::parseInteger(text, &employee)) {
            answer(res, 400, QStringLiteral("EmployeeID \"%1\" is not a whole number as the control writes one: "
                                            "expected -2147483648 to 2147483647 in plain decimal digits, with an "
                                            "optional '-' and no leading zeros")
                                 .arg(text.left(32)));
            return;
        }
        CenterLists lists;
        CenterStore::Error error;
        if (!store().centerLists(employee, &lists, &error)) {
            answerStoreError(res, error);
            return;
        }
        res.status = 200;
        res.set_header("Cache-Control", "no-store");
        const QByteArray document = DocumentWriter::write(lists);
        // Sent as it is, from a body of known length: with set_content()
        // cpp-httplib compresses on the fly for a client that accepts "br" (as
        // QNetworkAccessManager does), at Brotli's slowest quality: 4 s for
        // 32,767 centers.
        res.set_content_provider(size_t(document.size()), "text/xml; charset=utf-8",
                                 [document](size_t offset, size_t length, httplib::DataSink &sink) {
                                     return sink.write(document.constData() + offset, length);
                                 });
    }

    // Reads the body into *body within the size limit and the read deadline.
    // A refused request is still read to its end (up to the limit) so that
    // the connection stays in step for the client's next request.
    bool readBody(httplib::Response &res, const httplib::ContentReader &reader,
                  std::string *body, bool keep)
    {
        const auto limit = static_cast<size_t>(options.bodyLimit);
        const auto deadline = Clock::now() + std::chrono::seconds(options.readTimeoutSeconds);
        bool tooLarge = false;
        bool tooSlow = false;
        size_t received = 0;
        const bool ok = reader([&](const char *data, size_t length) {
            received += length;
            if (received > limit) {
                tooLarge = true;
                return false;
            }
            if (Clock::now() >= deadline) {
                tooSlow = true;
                return false;
            }
            if (keep)
                body->append(data, length);
            return true;
        });
        if (ok)
            return true;
        // httplib refuses a declared length over the limit itself (413), and
        // a read that waited out the time-out fails without reaching us.
        tooSlow = tooSlow || Clock::now() >= deadline;
        if (tooLarge || res.status == 413) {
            answer(res, 413, QStringLiteral("the request body is larger than the limit of %1 bytes").arg(limit));
        } else if (tooSlow) {
            answer(res, 408, QStringLiteral("the request body did not arrive within %1 seconds")
                                 .arg(options.readTimeoutSeconds));
        } else {
            answer(res, 400, QStringLiteral("the request body could not be read"));
        }
        // No "Connection: close" of our own: with one request per connection
        // httplib sends it on every answer.
        return false;
    }

    void postCommit(const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &reader)
    {
        std::string body;
        if (!authorised(req, res)) {
            const int status = res.status;
            const std::string content = res.body;
            if (readBody(res, reader, &body, false)) {
                res.status = status;
                res.body = content;
            }
            return;
        }
        if (mediaType(req.get_header_value("Content-Type")) != "application/x-www-form-urlencoded") {
            // A multipart body can only be read through httplib's multipart
            // reader; either way it is read and dropped.
            const bool drained = req.is_multipart_form_data()
                ? reader([](const httplib::MultipartFormData &) { return true; },
                         [](const char *, size_t) { return true; })
                : readBody(res, reader, &body, false);
            if (drained || res.status != 413) {
                answer(res, 415, QStringLiteral("the body must be application/x-www-form-urlencoded, not \"%1\"")
                                     .arg(QString::fromStdString(req.get_header_value("Content-Type")).left(80)));
            }
            return;
        }
        if (!readBody(res, reader, &body, true))
            return;

        QList<FormField> fields;
        FormDecoder::Error formError;
        if (!FormDecoder::decode(QByteArrayView(body.data(), qsizetype(body.size())), MaxFields, &fields, &formError)) {
            answer(res, formError.field > MaxFields ? 413 : 400, formError.reason);
            return;
        }
        body = std::string();
        CommitRequest request;
        CommitRequest::Refusal refusal;
        if (!CommitRequest::fromFields(fields, &request, &refusal)) {
            answer(res, refusal.httpStatus, refusal.reason);
            return;
        }
        fields = {};
        CenterStore::Outcome outcome;
        CenterStore::Error error;
        if (!store().apply(request, &outcome, &error)) {
            answerStoreError(res, error);
            return;
        }
        answer(res, 200, QStringLiteral("Saved for employee %1: %2 added, %3 removed.")
                             .arg(request.employee())
                             .arg(count(outcome.added, u"center"))
                             .arg(outcome.removed));
    }

    // The body bytes that went out: a document is sent from a provider, and
    // a HEAD answer carries no body at all.
    static size_t bytesSent(const httplib::Request &req, const httplib::Response &res)
    {
        if (req.method == "HEAD")
            return 0;
        return res.content_provider_ ? res.content_length_ : res.body.size();
    }

    void logRequest(const httplib::Request &req, const httplib::Response &res)
    {
        if (!options.log)
            return;
        const RequestTrace trace = std::exchange(t_trace, RequestTrace{});
        QString line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + u' '
            + QString::fromStdString(req.remote_addr) + u' ' + (trace.user.isEmpty() ? QStringLiteral("-") : trace.user)
            + QStringLiteral(" \"%1 %2\" %3 %4")
                  .arg(QString::fromStdString(req.method), QString::fromStdString(req.target).left(200))
                  .arg(res.status)
                  .arg(bytesSent(req, res));
        if (trace.started) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - trace.start);
            line += QStringLiteral(" %1ms").arg(ms.count());
        }
        if (!trace.reason.isEmpty()) {
            QString reason = trace.reason.left(300);
            for (QChar &c : reason) {
                if (c.unicode() < 0x20)
                    c = u' ';
            }
            line += QStringLiteral(" \"%1\"").arg(reason);
        }
        options.log(line);
    }

    Options options;
    std::unique_ptr<Credentials> credentials;
    std::unique_ptr<httplib::Server> http;
    std::thread listener;
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
    if (d->http) {
        *error = QStringLiteral("the server is already running");
        return false;
    }
    const Options &o = d->options;
    if (o.threads < 1 || o.bodyLimit < 1 || o.readTimeoutSeconds < 1) {
        *error = QStringLiteral("threads, body limit and read time-out must be positive");
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
        d->credentials = std::move(credentials);
    }

    std::unique_ptr<httplib::Server> http;
    if (o.tlsCertificateFile.isEmpty() != o.tlsKeyFile.isEmpty()) {
        *error = QStringLiteral("HTTPS needs both a TLS certificate and its key");
        return false;
    } else if (o.tlsCertificateFile.isEmpty()) {
        http = std::make_unique<httplib::Server>();
    } else {
        QString tlsError;
        auto secure = std::make_unique<httplib::SSLServer>([&](SSL_CTX &context) {
            return setUpTls(context, o.tlsCertificateFile, o.tlsKeyFile, &tlsError);
        });
        if (!secure->is_valid()) {
            *error = tlsError.isEmpty() ? QStringLiteral("cannot set up TLS: %1").arg(openSslReason()) : tlsError;
            return false;
        }
        http = std::move(secure);
    }
    const int threads = o.threads;
    http->new_task_queue = [threads] { return new httplib::ThreadPool(size_t(threads)); };
    http->set_read_timeout(o.readTimeoutSeconds, 0);
    http->set_write_timeout(o.readTimeoutSeconds, 0);
    // Short, so that an idle client does not hold a worker (and stop()) long.
    http->set_keep_alive_timeout(2);
    http->set_payload_max_length(size_t(o.bodyLimit));
    // Headers and body go out in separate writes; without this, Nagle's
    // algorithm and the client's delayed ACK add tens of milliseconds.
    http->set_tcp_nodelay(true);
    Private *p = d.get();
    // One request per connection: after a refused body (413, 408) the rest
    // of it must never be read as a request of its own, and httplib keeps a
    // connection open whatever the answer says.
    http->set_keep_alive_max_count(1);
    // A declared length over the limit is refused before any of the body
    // is read (httplib would otherwise read and drop all of it first), and
    // before a "100 Continue" that would invite the client to send it.
    auto refuseDeclaredLength = [p](const httplib::Request &req, httplib::Response &res) {
        t_trace = RequestTrace{true, Clock::now(), {}, {}};
        if (!req.has_header("Content-Length"))
            return false;
        const std::string value = req.get_header_value("Content-Length");
        unsigned long long length = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), length);
        if (ec != std::errc::result_out_of_range
            && (ec != std::errc() || length <= static_cast<unsigned long long>(p->options.bodyLimit)))
            return false;
        answer(res, 413, QStringLiteral("the request body is larger than the limit of %1 bytes")
                             .arg(p->options.bodyLimit));
        return true;
    };
    http->set_expect_100_continue_handler([refuseDeclaredLength](const httplib::Request &req, httplib::Response &res) {
        return refuseDeclaredLength(req, res) ? 413 : 100;
    });
    http->set_pre_routing_handler([refuseDeclaredLength](const httplib::Request &req, httplib::Response &res) {
        return refuseDeclaredLength(req, res) ? httplib::Server::HandlerResponse::Handled
                                              : httplib::Server::HandlerResponse::Unhandled;
    });
    http->Get(PagePattern, [p](const httplib::Request &req, httplib::Response &res) { p->getDocument(req, res); });
    http->Post(PagePattern, [p](const httplib::Request &req, httplib::Response &res,
                                const httplib::ContentReader &reader) { p->postCommit(req, res, reader); });
    // The page takes GET (and HEAD) and POST; any other method is named as
    // not allowed rather than the page as missing.
    const httplib::Server::Handler notAllowed = [](const httplib::Request &req, httplib::Response &res) {
        res.set_header("Allow", "GET, HEAD, POST");
        answer(res, 405, QStringLiteral("method %1 is not allowed on /Velmora.asp: use GET (the document) or "
                                        "POST (a commit)")
                             .arg(QString::fromStdString(req.method).left(20)));
    };
    // With a content reader httplib leaves the body unread: a PUT without
    // a length would otherwise be waited for until the read time-out.
    const httplib::Server::HandlerWithContentReader notAllowedWithBody =
        [notAllowed](const httplib::Request &req, httplib::Response &res, const httplib::ContentReader &) {
            notAllowed(req, res);
        };
    http->Put(PagePattern, notAllowedWithBody);
    http->Patch(PagePattern, notAllowedWithBody);
    http->Delete(PagePattern, notAllowedWithBody);
    http->Options(PagePattern, notAllowed);
    http->set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request &, httplib::Response &res) {
            if (!res.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            answer(res, res.status,
                   res.status == 404 ? QStringLiteral("not found: this server serves /Velmora.asp only")
                                     : QStringLiteral("the request was refused (HTTP status %1)").arg(res.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    http->set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        answer(res, 500, QStringLiteral("internal error"));
    });
    // httplib's default also sets SO_REUSEPORT, with which a second server
    // on the same port listens alongside the first and takes half of its
    // requests. SO_REUSEADDR alone still allows a restart while old
    // connections linger.
    http->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const void *>(&yes), sizeof(yes));
    });
    http->set_logger([p](const httplib::Request &req, const httplib::Response &res) { p->logRequest(req, res); });

    const std::string host = o.host.toStdString();
    if (o.port == 0) {
        d->port = http->bind_to_any_port(host);
        if (d->port <= 0) {
            *error = QStringLiteral("cannot listen on %1 (any port)").arg(o.host);
            return false;
        }
    } else if (!http->bind_to_port(host, o.port)) {
        *error = QStringLiteral("cannot listen on %1:%2: the port is in use by another program (another "
                                "velmora-server?) or %1 is not an address of this machine")
                     .arg(o.host).arg(o.port);
        return false;
    } else {
        d->port = o.port;
    }
    httplib::Server *server = http.get();
    d->http = std::move(http);
    d->listener = std::thread([server] { server->listen_after_bind(); });
    // stop() only acts on a server that is running: wait until listening
    // has begun (it does at once; the bound keeps a failure from hanging).
    for (int i = 0; i < 5000 && !server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!server->is_running()) {
        stop();
        *error = QStringLiteral("cannot listen on %1:%2").arg(o.host).arg(d->port);
        return false;
    }
    return true;
}

void VelmoraServer::stop()
{
    if (!d->http)
        return;
    d->http->stop();
    if (d->listener.joinable())
        d->listener.join();
    d->http.reset();
    d->credentials.reset();
}

bool VelmoraServer::isRunning() const
{
    return d->http != nullptr;
}

int VelmoraServer::port() const
{
    return d->port;
}

} // namespace VelmoraServerCore
