// What velmora-server's HTTP side hands over and takes back: a request read
// within the limits below, the answer to it, and the handler that turns one
// into the other. Nothing here knows the page that is served.
#pragma once

#include "http/bodybudget.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace VelmoraServerCore {

// What the HTTP side does with connections ("velmora.server.http"), at
// debug level: quiet unless QT_LOGGING_RULES turns it on.
Q_DECLARE_LOGGING_CATEGORY(lcHttp)

// What a connection allows a client; every deadline is for the whole step,
// however the bytes trickle in.
struct HttpLimits
{
    std::chrono::seconds handshake{}; // TLS handshake, from its first byte
    std::chrono::seconds idle{};      // from connecting (or the handshake) to the next first byte
    std::chrono::seconds head{};      // from the first byte to the end of the head
    std::chrono::seconds body{};      // the whole body; also each answer's writing
    qint64 headBytes = 0;             // request line and headers (431 above)
    int headerCount = 0;              // header lines (431 above)
    qint64 bodyBytes = 0;             // declared or received, chunk lines included (413 above)
};

// A line of a chunked body (the size and its extensions) may be this long;
// a longer one is refused (400) as it arrives.
constexpr qint64 ChunkLineLimit = 4096;

// A request whose head and body have been read completely.
struct HttpRequest
{
    std::string method;
    std::string target;        // as sent, for the log
    std::string path;          // without query, scheme or authority
    std::string query;         // after '?', still encoded
    std::string authorization; // the first Authorization header
    std::string contentType;
    std::string acceptEncoding; // every Accept-Encoding header, joined by ','
    std::string body;
    BodyBudget::Share bodyShare; // what the body holds of the budget, until the answer is written
    QString remote;            // the client's address: the peer's, or the one a trusted proxy forwarded
    QString peer;              // the address of the connection's other end
    std::chrono::steady_clock::time_point start; // when the head was complete
    // While the request waits for its answer, from any thread: whether the
    // client has closed the connection (or its sending side) meanwhile.
    std::function<bool()> clientGone;
    // Who signed in, for the log; set by the handler before it answers.
    QString user;
};

// An answer; the connection adds Content-Length and Connection: close.
struct HttpAnswer
{
    int status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    QByteArray body;
    QString reason; // for the log: why a request was refused

    // A plain-text answer; for a refusal the text is also the log's reason.
    static HttpAnswer text(int status, const QString &text);
    // 503 with Retry-After: 1, for a request the server has no room for
    // now; nothing was changed.
    static HttpAnswer busy();
    // 503 for a request that met no memory; nothing was changed.
    static HttpAnswer shortOfMemory();
};

// What the server serves. serve() is called on the connection's thread and
// must not wait; the answer may be given from any thread, once.
class HttpHandler
{
public:
    virtual ~HttpHandler() = default;
    virtual void serve(std::shared_ptr<HttpRequest> request, std::function<void(HttpAnswer)> answer) = 0;
};

} // namespace VelmoraServerCore
