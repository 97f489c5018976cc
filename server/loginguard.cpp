#include "loginguard.h"

namespace VelmoraServerCore {

LoginGuard::LoginGuard(Settings settings, std::function<TimePoint()> clock)
    : m_settings(settings), m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); })
{
}

int LoginGuard::retryAfter(const QString &address)
{
    const TimePoint now = m_clock();
    std::lock_guard lock(m_mutex);
    const auto it = m_records.constFind(address);
    if (it == m_records.cend() || it->failures < m_settings.failures || expired(*it, now))
        return 0;
    const auto left = std::chrono::ceil<std::chrono::seconds>(it->last + m_settings.backoff - now);
    return int(std::max<qint64>(1, left.count()));
}

void LoginGuard::failed(const QString &address)
{
    const TimePoint now = m_clock();
    std::lock_guard lock(m_mutex);
    if (!m_records.contains(address) && m_records.size() >= m_settings.addresses) {
        // Room first from the records whose back-off is over; a flood of
        // addresses beyond that starts the table afresh rather than grow it.
        m_records.removeIf([&](const auto &record) { return expired(record.value(), now); });
        if (m_records.size() >= m_settings.addresses)
            m_records.clear();
    }
    Record &record = m_records[address];
    if (expired(record, now))
        record.failures = 0;
    ++record.failures;
    record.last = now;
}

void LoginGuard::succeeded(const QString &address)
{
    std::lock_guard lock(m_mutex);
    m_records.remove(address);
}

} // namespace VelmoraServerCore
