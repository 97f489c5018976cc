#include "http/trustedproxies.h"

namespace VelmoraServerCore {

namespace {

// An address as proxies write it: "192.0.2.1", "2001:db8::1", and also with a
// port ("192.0.2.1:4711", "[2001:db8::1]:4711"). IPv4 addresses mapped into
// IPv6 (as a dual-stack socket names IPv4 peers) count as IPv4.
QHostAddress parseAddress(QStringView text)
{
    text = text.trimmed();
    if (text.startsWith(u'[')) {
        const qsizetype end = text.indexOf(u']');
        text = end < 0 ? QStringView() : text.sliced(1, end - 1);
    } else if (text.count(u':') == 1) {
        text = text.first(text.indexOf(u':'));
    }
    QHostAddress address;
    if (text.isEmpty() || !address.setAddress(text.toString()))
        return {};
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4) : address;
}

} // namespace

bool TrustedProxies::setAddresses(const QStringList &addresses, QString *bad)
{
    m_addresses.clear();
    for (const QString &text : addresses) {
        const QHostAddress address = parseAddress(text);
        if (address.isNull() || text.contains(u'[') || text.count(u':') == 1) {
            *bad = text;
            m_addresses.clear();
            return false;
        }
        m_addresses.append(address);
    }
    return true;
}

bool TrustedProxies::trusts(const QHostAddress &address) const
{
    return m_addresses.contains(address);
}

bool TrustedProxies::contains(const QString &address) const
{
    return !m_addresses.isEmpty() && trusts(parseAddress(address));
}

QString TrustedProxies::client(const QString &peer, const std::vector<std::string_view> &forwardedFor) const
{
    if (!contains(peer))
        return peer;
    QStringList hops;
    for (const std::string_view field : forwardedFor)
        hops += QString::fromLatin1(field.data(), qsizetype(field.size())).split(u',');
    QHostAddress nearest = parseAddress(peer);
    for (auto hop = hops.crbegin(); hop != hops.crend(); ++hop) {
        const QHostAddress address = parseAddress(*hop);
        if (address.isNull())
            break;
        nearest = address;
        if (!trusts(address))
            break;
    }
    return nearest.toString();
}

} // namespace VelmoraServerCore
