// Slows password guessing down: after a number of failed sign-ins from one
// address, that address is refused (429) without its password being checked
// until a back-off has passed since its last failure. Checks still running
// count as failures until they end, so that a flood cannot queue more key
// derivations than that number. Bounded in the addresses it remembers.
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

    // Before a password check for the address: 0, with the check counted
    // until finish(), or the seconds the address must wait (the check must
    // not run).
    enum class Outcome { Succeeded, Failed, NotChecked };
    int begin(const QString &address);
    void finish(const QString &address, Outcome outcome);

private:
    struct Record
    {
        int failures = 0;
        int running = 0;
        TimePoint last;
    };
    bool expired(const Record &record, TimePoint now) const { return now - record.last >= m_settings.backoff; }

    Settings m_settings;
    std::function<TimePoint()> m_clock;
    std::mutex m_mutex;
    QHash<QString, Record> m_records;
};

} // namespace VelmoraServerCore
