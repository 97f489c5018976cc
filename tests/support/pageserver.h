// Servers for the suites that talk to the control over HTTP, all on
// 127.0.0.1: a page server that answers /Velmora.asp with what the test
// sets and records what it received (cpp-httplib), a raw server that
// stays silent, hangs up or trickles, and the center document builder.
#pragma once

#include <QByteArray>
#include <QStringList>
#include <QTcpServer>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

class PageServer
{
public:
    struct Answer
    {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "text/xml";
        int delayMs = 0; // before answering (bounded by the test)
        QByteArray contentEncoding = {}; // sent as the header, the body as it is
    };

    PageServer();
    ~PageServer();
    QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    // The answer to every following GET, or POST.
    void answer(bool post, const Answer &answer);
    // "GET /Velmora.asp?EmployeeID=12" or "POST /Velmora.asp <body>", in order.
    QStringList requests() const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    Answer m_answers[2];
    QStringList m_requests;
};

// Takes connections and, once a whole request is in, does as told: nothing
// (Silent), hangs up (Closes), hangs up and stops listening as a killed
// server would (GoesAway), or answers 200 with a byte every 20 ms for ever
// (Trickles).
struct RawServer : QTcpServer
{
    enum Behaviour { Silent, Closes, GoesAway, Trickles };
    explicit RawServer(Behaviour behaviour = Silent);
    QString address() const { return QStringLiteral("http://127.0.0.1:%1").arg(serverPort()); }
};

using Centers = std::vector<std::pair<QString, QString>>; // ID, name

// A center document in the shape the server page writes.
QByteArray centerDocument(const Centers &nonSelected, const Centers &selected);

// data as one gzip member.
QByteArray gzip(const QByteArray &data);
