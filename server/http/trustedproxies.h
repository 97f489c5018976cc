// The reverse proxies whose X-Forwarded-For velmora-server believes. A
// request that comes from one of them is the client's that the proxy names;
// from any other peer the header is ignored, so a client cannot choose the
// address that its sign-ins and connections are counted under.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <string_view>
#include <vector>

namespace VelmoraServerCore {

class TrustedProxies
{
public:
    // False, with the entry that is not an IPv4 or IPv6 address in bad.
    bool setAddresses(const QStringList &addresses, QString *bad);
    bool isEmpty() const { return m_addresses.isEmpty(); }
    bool contains(const QString &address) const;

    // The client of a request from peer whose X-Forwarded-For fields hold
    // forwardedFor (in their order): peer unless it is trusted; else the
    // right-most address of the list that is not itself a trusted proxy.
    // A list that is missing or unreadable there names the nearest trusted
    // one; a list of trusted proxies only, its left-most.
    QString client(const QString &peer, const std::vector<std::string_view> &forwardedFor) const;

private:
    bool trusts(const QHostAddress &address) const;

    QList<QHostAddress> m_addresses;
};

} // namespace VelmoraServerCore
