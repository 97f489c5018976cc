#include "fixtureserver.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace VelmoraInternal {

namespace {

constexpr qsizetype MaxHeaderBytes = 64 * 1024;
constexpr qsizetype MaxBodyBytes = 256 * 1024 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Content Too Large";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

// Responses that carry no body by definition.
bool bodyless(int status)
{
    return (status >= 100 && status < 200) || status == 204 || status == 304;
}

enum class Parse { Done, NeedMore, Bad };

// A chunked request body starting at `from`; on Done, *end is the offset
// just past the final CRLF.
Parse parseChunkedBody(const QByteArray &buffer, qsizetype from, QByteArray *body, qsizetype *end)
{
    QByteArray out;
    qsizetype at = from;
    for (;;) {
        const qsizetype lineEnd = buffer.indexOf("\r\n", at);
        if (lineEnd < 0)
            return buffer.size() - at > 1024 ? Parse::Bad : Parse::NeedMore;
        QByteArray sizeText = buffer.mid(at, lineEnd - at);
        if (const qsizetype semicolon = sizeText.indexOf(';'); semicolon >= 0)
            sizeText.truncate(semicolon); // chunk extensions are ignored
        bool ok = false;
        const qlonglong size = sizeText.trimmed().toLongLong(&ok, 16);
        if (!ok || size < 0 || out.size() + size > MaxBodyBytes)
            return Parse::Bad;
        at = lineEnd + 2;
        if (size == 0) {
            // Trailer fields up to an empty line.
            for (;;) {
                const qsizetype trailerEnd = buffer.indexOf("\r\n", at);
                if (trailerEnd < 0)
                    return Parse::NeedMore;
                const bool empty = trailerEnd == at;
                at = trailerEnd + 2;
                if (empty) {
                    *body = out;
                    *end = at;
                    return Parse::Done;
                }
            }
        }
        if (buffer.size() < at + size + 2)
            return Parse::NeedMore;
        out.append(buffer.constData() + at, size);
        at += size;
        if (buffer.mid(at, 2) != "\r\n")
            return Parse::Bad;
        at += 2;
    }
}

} // namespace

FixtureServer::Response FixtureServer::Response::text(const QByteArray &body, int status)
{
    Response r;
    r.status = status;
    r.body = body;
    return r;
}

FixtureServer::Response FixtureServer::Response::xml(const QByteArray &body, int status)
{
    Response r = text(body, status);
    r.contentType = "text/xml";
    return r;
}

FixtureServer::Response FixtureServer::Response::chunked(const QByteArray &body, int chunkSize,
                                                         const QByteArray &contentType)
{
    Response r = text(body);
    r.contentType = contentType;
    r.mode = Mode::Chunked;
    r.chunkSize = chunkSize;
    return r;
}

FixtureServer::Response FixtureServer::Response::redirect(const QByteArray &location, int status)
{
    Response r = text(QByteArray(), status);
    r.mode = Mode::Redirect;
    // Hang up after a redirect: on a kept-alive connection Qt's client was
    // seen to send the redirected request a second time under load.
    r.closeAfter = true;
    r.location = location;
    return r;
}

FixtureServer::Response FixtureServer::Response::withMode(Mode mode)
{
    Response r;
    r.mode = mode;
    return r;
}

// One accepted connection. It owns its socket; the timers of a delayed or
// chunked answer use it as context, so they die with it.
struct FixtureServer::Connection : QObject
{
    QTcpSocket *socket = nullptr;
    int number = 0;
    QByteArray buffer;
    bool busy = false;     // an answer is under way; later requests wait in buffer
    bool silent = false;   // told never to answer: nothing more is read
    bool closing = false;  // hanging up; nothing more is read or sent
    bool closed = false;   // gone; callbacks still queued must do nothing
    bool continueSent = false;
    bool closeAfterReply = false;

    // Chunked answer in progress.
    QByteArray pending;
    qsizetype sent = 0;
    int chunkSize = 1024;
    int chunkDelayMs = 0;
};

FixtureServer::FixtureServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_default(Response::text("Not Found", 404))
{
    connect(m_server, &QTcpServer::newConnection, this, &FixtureServer::acceptConnections);
}

FixtureServer::~FixtureServer()
{
    m_server->close();
    for (Connection *c : std::as_const(m_connections)) {
        c->closed = true;
        c->socket->abort();
    }
    qDeleteAll(m_connections);
    m_connections.clear();
}

bool FixtureServer::listen()
{
    if (m_server->isListening())
        return true;
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 FixtureServer::port() const
{
    return m_server->serverPort();
}

QString FixtureServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void FixtureServer::setResponse(const QString &path, const Response &response)
{
    m_responses.insert(path, response);
}

void FixtureServer::removeResponse(const QString &path)
{
    m_responses.remove(path);
}

void FixtureServer::setDefaultResponse(const Response &response)
{
    m_default = response;
}

QList<FixtureServer::Request> FixtureServer::requests() const
{
    return m_requests;
}

qsizetype FixtureServer::requestCount() const
{
    return m_requests.size();
}

FixtureServer::Request FixtureServer::lastRequest() const
{
    return m_requests.isEmpty() ? Request() : m_requests.constLast();
}

void FixtureServer::clearRequests()
{
    m_requests.clear();
}

int FixtureServer::connectionCount() const
{
    return m_connectionCount;
}

void FixtureServer::closeAllConnections()
{
    const QList<Connection *> open = m_connections;
    for (Connection *c : open) {
        c->socket->abort();
        drop(c);
    }
}

void FixtureServer::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto *c = new Connection;
        c->setParent(this);
        c->socket = socket;
        c->number = ++m_connectionCount;
        socket->setParent(c);
        m_connections.append(c);
        connect(socket, &QTcpSocket::readyRead, c, [this, c] { readFrom(c); });
        connect(socket, &QTcpSocket::disconnected, c, [this, c] { drop(c); });
        // Data may have arrived with the connection itself.
        if (socket->bytesAvailable() > 0)
            QTimer::singleShot(0, c, [this, c] { readFrom(c); });
    }
}

void FixtureServer::readFrom(Connection *c)
{
    if (c->closed)
        return;
    if (c->socket->bytesAvailable() > 0) {
        if (c->silent || c->closing) {
            c->socket->readAll(); // nobody will answer it
            return;
        }
        c->buffer.append(c->socket->readAll());
    }
    while (!c->closed && !c->busy && !c->silent && !c->closing && !c->buffer.isEmpty()) {
        if (!parseOne(c))
            break;
    }
}

// Reads one complete request from the buffer and answers it. False when the
// buffer does not hold a complete request yet, or the connection is done.
bool FixtureServer::parseOne(Connection *c)
{
    // Blank lines before a request are allowed.
    while (c->buffer.startsWith("\r\n"))
        c->buffer.remove(0, 2);
    const qsizetype headerEnd = c->buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0) {
        if (c->buffer.size() > MaxHeaderBytes)
            fail(c, 431, "Header too large");
        return false;
    }
    if (headerEnd > MaxHeaderBytes) {
        fail(c, 431, "Header too large");
        return false;
    }

    const QList<QByteArray> lines = c->buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || requestLine.at(0).isEmpty() || requestLine.at(1).isEmpty()
        || !requestLine.at(2).startsWith("HTTP/1.")) {
        fail(c, 400, "Malformed request line");
        return false;
    }

    Request request;
    request.method = requestLine.at(0);
    request.target = requestLine.at(1);
    request.connection = c->number;
    QByteArray pathAndQuery = request.target;
    if (const qsizetype scheme = pathAndQuery.indexOf("://"); scheme >= 0 && !pathAndQuery.startsWith('/')) {
        // Absolute form, as sent to a proxy: drop scheme and authority.
        const qsizetype slash = pathAndQuery.indexOf('/', scheme + 3);
        pathAndQuery = slash < 0 ? QByteArray("/") : pathAndQuery.mid(slash);
    }
    const qsizetype question = pathAndQuery.indexOf('?');
    request.path = question < 0 ? pathAndQuery : pathAndQuery.left(question);
    request.query = question < 0 ? QByteArray() : pathAndQuery.mid(question + 1);

    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            fail(c, 400, "Malformed header line");
            return false;
        }
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        auto it = request.headers.find(name);
        if (it == request.headers.end())
            request.headers.insert(name, value);
        else
            it.value() += ", " + value;
    }

    const qsizetype bodyStart = headerEnd + 4;
    qsizetype requestEnd = bodyStart;
    if (request.headers.value("transfer-encoding").toLower().contains("chunked")) {
        switch (parseChunkedBody(c->buffer, bodyStart, &request.body, &requestEnd)) {
        case Parse::Done:
            break;
        case Parse::NeedMore:
            if (!c->continueSent && request.headers.value("expect").toLower() == "100-continue") {
                c->continueSent = true;
                c->socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            }
            return false;
        case Parse::Bad:
            fail(c, 400, "Malformed chunked body");
            return false;
        }
    } else if (request.headers.contains("content-length")) {
        bool ok = false;
        const qlonglong length = request.headers.value("content-length").toLongLong(&ok);
        if (!ok || length < 0) {
            fail(c, 400, "Malformed Content-Length");
            return false;
        }
        if (length > MaxBodyBytes) {
            fail(c, 413, "Body too large");
            return false;
        }
        if (c->buffer.size() < bodyStart + length) {
            if (!c->continueSent && request.headers.value("expect").toLower() == "100-continue") {
                c->continueSent = true;
                c->socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            }
            return false;
        }
        request.body = c->buffer.mid(bodyStart, length);
        requestEnd = bodyStart + length;
    }

    c->buffer.remove(0, requestEnd);
    c->continueSent = false;

    const QByteArray connectionHeader = request.headers.value("connection").toLower();
    c->closeAfterReply = requestLine.at(2) == "HTTP/1.0" ? !connectionHeader.contains("keep-alive")
                                                         : connectionHeader.contains("close");

    m_requests.append(request);
    emit requestReceived();
    if (c->closed)
        return false; // a handler of requestReceived closed the connections
    answer(c, request);
    return true;
}

FixtureServer::Response FixtureServer::responseFor(const QByteArray &path) const
{
    const auto it = m_responses.constFind(QString::fromUtf8(path));
    return it == m_responses.constEnd() ? m_default : it.value();
}

void FixtureServer::answer(Connection *c, const Request &request)
{
    const Response response = responseFor(request.path);
    switch (response.mode) {
    case Mode::NeverAnswer:
        c->silent = true;
        return;
    case Mode::CloseWithoutAnswer:
        c->closing = true;
        c->socket->disconnectFromHost();
        return;
    case Mode::Normal:
    case Mode::Chunked:
    case Mode::Redirect:
        break;
    }

    const bool headOnly = request.method == "HEAD";
    c->busy = true;
    if (response.delayMs > 0) {
        QTimer::singleShot(response.delayMs, c, [this, c, response, headOnly] {
            if (!c->closed)
                startReply(c, response, headOnly);
        });
    } else {
        startReply(c, response, headOnly);
    }
}

void FixtureServer::startReply(Connection *c, const Response &response, bool headOnly)
{
    const bool close = c->closeAfterReply || response.closeAfter;
    const bool noBody = bodyless(response.status);
    const bool chunked = response.mode == Mode::Chunked && !noBody;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    if (!response.contentType.isEmpty() && !noBody)
        head += "Content-Type: " + response.contentType + "\r\n";
    if (chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (!noBody)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    if (response.mode == Mode::Redirect)
        head += "Location: " + response.location + "\r\n";
    head += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    head += "\r\n";
    c->socket->write(head);

    if (headOnly || noBody) {
        finishReply(c, close);
        return;
    }
    if (!chunked) {
        c->socket->write(response.body);
        finishReply(c, close);
        return;
    }

    c->pending = response.body;
    c->sent = 0;
    c->chunkSize = std::max(1, response.chunkSize);
    c->chunkDelayMs = std::max(0, response.chunkDelayMs);
    c->closeAfterReply = close;
    QTimer::singleShot(c->chunkDelayMs, c, [this, c] { sendNextChunk(c); });
}

void FixtureServer::sendNextChunk(Connection *c)
{
    if (c->closed)
        return;
    if (c->sent < c->pending.size()) {
        const QByteArray piece = c->pending.mid(c->sent, c->chunkSize);
        c->socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
        c->sent += piece.size();
        QTimer::singleShot(c->chunkDelayMs, c, [this, c] { sendNextChunk(c); });
        return;
    }
    c->socket->write("0\r\n\r\n");
    c->pending.clear();
    finishReply(c, c->closeAfterReply);
}

void FixtureServer::finishReply(Connection *c, bool close)
{
    c->busy = false;
    if (close) {
        c->closing = true;
        c->socket->disconnectFromHost();
        return;
    }
    // Requests that arrived while this answer was under way.
    if (!c->buffer.isEmpty())
        QTimer::singleShot(0, c, [this, c] { readFrom(c); });
}

void FixtureServer::fail(Connection *c, int status, const QByteArray &reason)
{
    const QByteArray body = reason + "\n";
    c->socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
                     + "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size())
                     + "\r\nConnection: close\r\n\r\n" + body);
    c->buffer.clear();
    c->closing = true;
    c->socket->disconnectFromHost();
}

void FixtureServer::drop(Connection *c)
{
    if (c->closed)
        return;
    c->closed = true;
    m_connections.removeOne(c);
    c->socket->disconnect(c);
    // Later: this may run inside one of the socket's own signals.
    c->deleteLater();
}

} // namespace VelmoraInternal
