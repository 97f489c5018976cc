// How many connections velmora-server holds open, in all and from each
// client address, so that one address cannot take every connection.
// Thread-safe.
#pragma once

#include <QHash>
#include <QString>

#include <mutex>

namespace VelmoraServerCore {

class TrustedProxies;

class ConnectionCaps
{
public:
    // proxies: peers that carry many clients, bound by the total only.
    ConnectionCaps(int total, int perAddress, const TrustedProxies &proxies);

    // Whether another connection from remote fits under the caps; counts it
    // when it does.
    bool admit(const QString &remote);
    // A connection from remote has closed.
    void release(const QString &remote);

private:
    const int m_total;
    const int m_perAddress;
    const TrustedProxies &m_proxies;
    std::mutex m_mutex;
    QHash<QString, int> m_byAddress;
    int m_open = 0;
};

} // namespace VelmoraServerCore
