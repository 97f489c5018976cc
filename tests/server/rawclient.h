// Raw HTTP exchanges with velmora-server on loopback, for the suites that
// check its bytes: the client socket is bound to the address it plays
// (127.0.0.2 for an attacker, 127.0.0.1 for the client that must be served).
#pragma once

#include <QSslSocket>

#include <memory>

namespace RawClient {

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

// Sends the bytes and reads until the server closes (it serves one request
// per connection), for at most 15 seconds; over TLS, until the answer is
// complete.
inline QByteArray exchange(const QHostAddress &from, int port, const QByteArray &request, bool tls = false)
{
    auto socket = connectFrom(from, port, tls);
    const bool connected = tls ? socket->waitForEncrypted(5000) : socket->waitForConnected(5000);
    socket->write(connected ? request : QByteArray());
    QByteArray all;
    for (int round = 0; round < 60 && socket->state() == QAbstractSocket::ConnectedState; ++round) {
        socket->waitForReadyRead(250);
        all += socket->readAll();
        // Over TLS the server closes only after the client's own TLS shutdown
        // or its linger time: there the answer ends at its declared length.
        const qsizetype end = all.indexOf("\r\n\r\n");
        const qsizetype length = all.indexOf("Content-Length: ");
        if (tls && end > 0 && length > 0 && all.size() >= end + 4 + all.mid(length + 16, 12).split('\r').first().toInt())
            break;
    }
    return all + socket->readAll();
}

} // namespace RawClient
