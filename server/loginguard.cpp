#include "loginguard.h"

namespace VelmoraServerCore {

LoginGuard::LoginGuard(Settings settings, std::function<TimePoint()> clock)
    : m_settings(settings), m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); })
{
}

int LoginGuard::begin(const QString &address)
{
    const TimePoint now = m_clock();
    std::lock_guard lock(m_mutex);
    if (!m_records.contains(address) && m_records.size() >= m_settings.addresses) {
        // Room first from the records whose back-off is over; a flood of
        // addresses beyond that starts the table afresh rather than grow it.
        m_records.removeIf([&](const auto &record) { return !record.value().running && expired(record.value(), now); });
        if (m_records.size() >= m_settings.addresses)
            m_records.clear();
    }
    Record &record = m_records[address];
    if (expired(record, now))
        record.failures = 0;
    if (record.failures >= m_settings.failures) {
        const auto left = std::chrono::ceil<std::chrono::seconds>(record.last + m_settings.backoff - now);
        return int(std::max<qint64>(1, left.count()));
    }
    if (record.failures + record.running >= m_settings.failures)
        return 1;
    ++record.running;
    return 0;
}

void LoginGuard::finish(const QString &address, Outcome outcome)
{
    const TimePoint now = m_clock();
    std::lock_guard lock(m_mutex);
    const auto it = m_records.find(address);
    if (it == m_records.end())
        return; // the table was started afresh meanwhile
    it->running = std::max(0, it->running - 1);
    if (outcome == Outcome::NotChecked)
        return;
    if (outcome == Outcome::Succeeded) {
        it->failures = 0;
        if (!it->running)
            m_records.erase(it);
        return;
    }
    if (expired(*it, now))
        it->failures = 0;
    ++it->failures;
    it->last = now;
}

} // namespace VelmoraServerCore
