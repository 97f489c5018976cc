#include "http/connectioncaps.h"

#include "http/trustedproxies.h"

namespace VelmoraServerCore {

ConnectionCaps::ConnectionCaps(int total, int perAddress, const TrustedProxies &proxies)
    : m_total(total), m_perAddress(perAddress), m_proxies(proxies)
{
}

bool ConnectionCaps::admit(const QString &remote)
{
    std::lock_guard lock(m_mutex);
    int &fromAddress = m_byAddress[remote];
    if (m_open >= m_total || (fromAddress >= m_perAddress && !m_proxies.contains(remote))) {
        if (fromAddress == 0)
            m_byAddress.remove(remote);
        return false;
    }
    ++fromAddress;
    ++m_open;
    return true;
}

void ConnectionCaps::release(const QString &remote)
{
    std::lock_guard lock(m_mutex);
    --m_open;
    if (--m_byAddress[remote] <= 0)
        m_byAddress.remove(remote);
}

} // namespace VelmoraServerCore
