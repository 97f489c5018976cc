// An HTTP/1.1 server inside the test process that stands in for the server
// page. It answers from a table of canned responses, records every request
// it receives, and can misbehave on purpose (never answer, hang up, answer in
// chunks, redirect) so that suites can drive the control's transfer paths.
//
// It lives on the thread that creates it and is driven by socket events only,
// so it serves requests inside any event loop that runs there, a local
// QEventLoop with ExcludeUserInputEvents included. It listens on 127.0.0.1.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>

#include <memory>

class QTcpServer;
class QTcpSocket;

namespace VelmoraInternal {

class FixtureServer : public QObject
{
    Q_OBJECT

public:
    enum class Mode {
        Normal,             // status line, headers, the whole body with Content-Length
        NeverAnswer,        // read the request, then keep the connection open and silent
        CloseWithoutAnswer, // read the request, then close the connection
        Chunked,            // Transfer-Encoding: chunked, chunkSize bytes per chunk,
                            // one event-loop turn (plus chunkDelayMs) between chunks
        Redirect,           // status (302 unless set otherwise) with Location: location
    };

    struct Response
    {
        int status = 200;
        QByteArray contentType = "text/plain; charset=utf-8";
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers; // sent after the standard ones
        Mode mode = Mode::Normal;
        int chunkSize = 1024;  // Chunked only
        int chunkDelayMs = 0;  // Chunked only: pause between chunks
        int delayMs = 0;       // pause between reading the request and answering
        QByteArray location;   // Redirect only
        bool closeAfter = false; // answer with Connection: close and hang up

        static Response text(const QByteArray &body, int status = 200);
        static Response xml(const QByteArray &body, int status = 200);
        static Response chunked(const QByteArray &body, int chunkSize, const QByteArray &contentType = "text/plain");
        // Empty body, and closeAfter set: Qt's client may send the first
        // request again when a redirect arrives on a kept-alive connection.
        static Response redirect(const QByteArray &location, int status = 302);
        static Response withMode(Mode mode);
    };

    struct Request
    {
        QByteArray method;
        QByteArray target;                  // path and query as sent
        QByteArray path;                    // target without the query
        QByteArray query;                   // after '?', without it
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        int connection = 0;                 // 1-based number of the connection it came on
    };

    explicit FixtureServer(QObject *parent = nullptr);
    ~FixtureServer() override;

    // Listens on 127.0.0.1 at a free port. False when that fails.
    bool listen();
    quint16 port() const;
    // "http://127.0.0.1:PORT", without a trailing slash.
    QString baseUrl() const;

    // The response for a path (without query; the exact text of the request
    // target's path, e.g. "/Velmora.asp"). Replaces an earlier one.
    void setResponse(const QString &path, const Response &response);
    void removeResponse(const QString &path);
    // What paths without a response of their own get: 404 "Not Found" by default.
    void setDefaultResponse(const Response &response);

    QList<Request> requests() const;
    qsizetype requestCount() const;
    Request lastRequest() const; // a default Request when there is none
    void clearRequests();

    // Connections accepted so far (several requests on one connection count once).
    int connectionCount() const;
    // Drops every open connection at once, mid-answer or not.
    void closeAllConnections();

signals:
    // After a request was read completely and recorded, before it is answered.
    void requestReceived();

private:
    struct Connection;

    void acceptConnections();
    void readFrom(Connection *c);
    bool parseOne(Connection *c);
    void answer(Connection *c, const Request &request);
    void startReply(Connection *c, const Response &response, bool headOnly);
    void sendNextChunk(Connection *c);
    void finishReply(Connection *c, bool close);
    void fail(Connection *c, int status, const QByteArray &reason);
    void drop(Connection *c);
    Response responseFor(const QByteArray &path) const;

    QTcpServer *m_server = nullptr;
    QHash<QString, Response> m_responses;
    Response m_default;
    QList<Request> m_requests;
    QList<Connection *> m_connections;
    int m_connectionCount = 0;
};

} // namespace VelmoraInternal
