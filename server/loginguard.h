// Slows password guessing down: after a number of failed sign-ins from one
// address, that address is refused (429) without its password being checked
// until a back-off has passed since its last failure. Bounded in the
// addresses it remembers.
#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <functional>
#include <mutex>

namespace VelmoraServerCore {

class LoginGuard
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    struct Settings
    {
        int failures = 10;                  // failures in a row that start the back-off
        std::chrono::seconds backoff{60};   // counted from the last failure
        int addresses = 10000;              // remembered at most
    };

    // clock: the time source; the steady clock when empty.
    explicit LoginGuard(Settings settings, std::function<TimePoint()> clock = {});

    // Seconds the address must still wait before its next try; 0: none.
    int retryAfter(const QString &address);
    void failed(const QString &address);
    void succeeded(const QString &address);

private:
    struct Record
    {
        int failures = 0;
        TimePoint last;
    };
    bool expired(const Record &record, TimePoint now) const { return now - record.last >= m_settings.backoff; }

    Settings m_settings;
    std::function<TimePoint()> m_clock;
    std::mutex m_mutex;
    QHash<QString, Record> m_records;
};

} // namespace VelmoraServerCore
