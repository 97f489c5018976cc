#include "auth/loginguard.h"

#include <QHostAddress>

namespace VelmoraServerCore {

namespace {

// Names in the credentials file are at most this long; a longer claimed name
// is nobody's, and cutting it keeps a record small whatever a client sends.
constexpr qsizetype UserKeyLength = 64;

} // namespace

LoginGuard::LoginGuard(Settings settings, std::function<TimePoint()> clock)
    : m_settings(settings), m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); })
{
}

QString LoginGuard::addressKey(const QString &address)
{
    const QHostAddress host(address);
    if (host.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    bool mapped = false;
    const quint32 v4 = host.toIPv4Address(&mapped);
    if (mapped)
        return QHostAddress(v4).toString();
    Q_IPV6ADDR network = host.toIPv6Address();
    std::fill(std::begin(network.c) + 8, std::end(network.c), quint8(0));
    return QHostAddress(network).toString() + QStringLiteral("/64");
}

int LoginGuard::limitOf(const QString &key) const
{
    // A user's key is the address's, a line break and the name.
    return key.contains(u'\n') ? m_settings.failures : m_settings.failures * AddressFactor;
}

LoginGuard::Wait LoginGuard::begin(const QString &address, const QString &user)
{
    const TimePoint now = m_clock();
    const QString addressOnly = addressKey(address);
    const QString keys[2] = {addressOnly, addressOnly + u'\n' + user.left(UserKeyLength)};
    std::lock_guard lock(m_mutex);
    if (!touch(keys[0], now, keys[0]) || !touch(keys[1], now, keys[0])) {
        // Every record is backed off or being checked: by the back-off's
        // end every one of them has made room.
        return {int(std::max<qint64>(1, m_settings.backoff.count())), Scope::Everyone};
    }
    // Looked up after both are in: an insertion may move the records.
    Record *records[2] = {&m_records[keys[0]], &m_records[keys[1]]};
    Wait wait;
    for (int i = 0; i < 2; ++i) {
        Record &record = *records[i];
        if (expired(record, now))
            record.failures = 0;
        const int limit = limitOf(keys[i]);
        int seconds = 0;
        if (record.failures >= limit) {
            const auto left = std::chrono::ceil<std::chrono::seconds>(record.last + m_settings.backoff - now);
            seconds = int(std::max<qint64>(1, left.count()));
        } else if (record.failures + record.running >= limit) {
            seconds = 1;
        }
        if (seconds > wait.seconds)
            wait = {seconds, i == 0 ? Scope::Address : Scope::User};
    }
    if (wait.seconds == 0) {
        ++records[0]->running;
        ++records[1]->running;
    }
    return wait;
}

bool LoginGuard::touch(const QString &key, TimePoint now, const QString &keep)
{
    if (const auto it = m_records.find(key); it != m_records.end()) {
        m_ages.splice(m_ages.begin(), m_ages, it->age);
        return true;
    }
    // Room from the back, the least recently seen. A record that must stay
    // goes to the front, so that the next search does not pass it again.
    for (qsizetype steps = m_records.size(); m_records.size() >= m_settings.records && steps > 0; --steps) {
        const auto oldest = std::prev(m_ages.end());
        const auto it = m_records.find(*oldest);
        if (it->running == 0 && !backedOff(*it, limitOf(*oldest), now) && *oldest != keep) {
            m_records.erase(it);
            m_ages.erase(oldest);
        } else {
            m_ages.splice(m_ages.begin(), m_ages, oldest);
        }
    }
    if (m_records.size() >= m_settings.records)
        return false;
    m_ages.push_front(key);
    m_records[key].age = m_ages.begin();
    return true;
}

void LoginGuard::finish(const QString &address, const QString &user, Outcome outcome)
{
    const TimePoint now = m_clock();
    const QString addressOnly = addressKey(address);
    std::lock_guard lock(m_mutex);
    count(addressOnly, outcome == Outcome::Succeeded ? Outcome::NotChecked : outcome, now);
    count(addressOnly + u'\n' + user.left(UserKeyLength), outcome, now);
}

void LoginGuard::count(const QString &key, Outcome outcome, TimePoint now)
{
    // A record being checked is never evicted; missing means never begun.
    const auto it = m_records.find(key);
    if (it == m_records.end())
        return;
    it->running = std::max(0, it->running - 1);
    if (outcome == Outcome::Succeeded) {
        it->failures = 0;
    } else if (outcome == Outcome::Failed) {
        if (expired(*it, now))
            it->failures = 0;
        ++it->failures;
        it->last = now;
    }
}

} // namespace VelmoraServerCore
