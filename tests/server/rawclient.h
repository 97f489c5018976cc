// Raw HTTP exchanges with velmora-server on loopback, for the suites that
// check its bytes: the client socket is bound to the address it plays
// (127.0.0.2 for an attacker, 127.0.0.1 for the client that must be served).
#pragma once

#include <QDeadlineTimer>
#include <QSslSocket>

#include <memory>

namespace RawClient {

// The longest an exchange may take. Every answer the suites wait for comes
// within a few seconds (the slowest, a commit held by a lock, in 3.5), so a
// server that neither answers nor closes by then is at fault: the suite
// ends at once, saying so, rather than each later exchange waiting as long.
constexpr int ExchangeBoundMs = 10000;

inline std::unique_ptr<QSslSocket> connectFrom(const QHostAddress &from, int port, bool tls = false)
{
    auto socket = std::make_unique<QSslSocket>();
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    socket->bind(from);
    if (tls)
        socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(port));
    else
        socket->connectToHost(QHostAddress::LocalHost, quint16(port));
    return socket;
}

// Whether all holds a whole answer: over TLS the server closes only after
// the client's own TLS shutdown or its linger time, so there the answer
// ends at its declared length.
inline bool complete(const QByteArray &all)
{
    const qsizetype end = all.indexOf("\r\n\r\n");
    const qsizetype length = all.indexOf("Content-Length: ");
    return end > 0 && length > 0 && all.size() >= end + 4 + all.mid(length + 16, 12).split('\r').first().toInt();
}

// Sends the bytes and reads until the server closes (it serves one request
// per connection); over TLS, until the answer is complete.
inline QByteArray exchange(const QHostAddress &from, int port, const QByteArray &request, bool tls = false)
{
    const QDeadlineTimer bound(ExchangeBoundMs);
    auto socket = connectFrom(from, port, tls);
    const int connectMs = int(bound.remainingTime());
    const bool connected = tls ? socket->waitForEncrypted(connectMs) : socket->waitForConnected(connectMs);
    socket->write(connected ? request : QByteArray());
    QByteArray all;
    while (socket->state() == QAbstractSocket::ConnectedState && !(tls && complete(all))) {
        if (bound.hasExpired()) {
            qFatal("RawClient: 127.0.0.1:%d neither answered nor closed the connection within %d ms; it sent: %s",
                   port, ExchangeBoundMs, all.left(300).constData());
        }
        socket->waitForReadyRead(int(std::min<qint64>(250, bound.remainingTime())));
        all += socket->readAll();
    }
    return all + socket->readAll();
}

} // namespace RawClient
