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
// per connection), for at most 15 seconds.
inline QByteArray exchange(const QHostAddress &from, int port, const QByteArray &request, bool tls = false)
{
    auto socket = connectFrom(from, port, tls);
    const bool connected = tls ? socket->waitForEncrypted(5000) : socket->waitForConnected(5000);
    socket->write(connected ? request : QByteArray());
    QByteArray all;
    for (int round = 0; round < 60 && socket->state() == QAbstractSocket::ConnectedState; ++round) {
        socket->waitForReadyRead(250);
        all += socket->readAll();
    }
    return all + socket->readAll();
}

} // namespace RawClient
