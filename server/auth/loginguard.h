// Slows password guessing down. Failed sign-ins count twice: for the user
// from the client's address, and for the address whatever user it names.
// After a number of failures for one user from one address, that user is
// refused (429) from there without its password being checked, and after
// AddressFactor times as many the whole address is, until a back-off has
// passed since the last failure. A success clears that user's count from
// that address only, so that knowing one password does not reset the
// guessing of another. Checks still running count as failures until they
// end, so that a flood cannot queue more key derivations than the limit.
// IPv6 addresses count by their /64 network, which one client usually has
// whole.
//
// The table is bounded: when it is full, the record seen least recently
// that is neither backed off nor being checked makes room; an attacker with
// many addresses thus fills it with its own records, never lifting a
// running back-off. When every record is backed off, new clients wait too.
#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <functional>
#include <list>
#include <mutex>

namespace VelmoraServerCore {

class LoginGuard
{
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // An address is refused after this many times the failures of one user.
    static constexpr int AddressFactor = 3;

    struct Settings
    {
        int failures = 10;                  // failures in a row of one user from one address
        std::chrono::seconds backoff{60};   // counted from the last failure
        int records = 10000;                // addresses and users from them remembered at most
    };

    // clock: the time source; the steady clock when empty.
    explicit LoginGuard(Settings settings, std::function<TimePoint()> clock = {});

    // Whom a refusal covers.
    enum class Scope { User, Address, Everyone };
    struct Wait
    {
        int seconds = 0; // 0: the check may run
        Scope scope = Scope::User;
    };

    // Before a password check of user from address: a Wait of 0 seconds,
    // with the check counted until finish(), or how long to wait (the check
    // must not run).
    Wait begin(const QString &address, const QString &user);
    enum class Outcome { Succeeded, Failed, NotChecked };
    void finish(const QString &address, const QString &user, Outcome outcome);

    // The key an address counts under: an IPv6 address's /64 network, an
    // IPv4-mapped IPv6 address as IPv4, other addresses as they are.
    static QString addressKey(const QString &address);

private:
    struct Record
    {
        int failures = 0;
        int running = 0;
        TimePoint last;
        std::list<QString>::iterator age; // its place in m_ages
    };
    bool expired(const Record &record, TimePoint now) const { return now - record.last >= m_settings.backoff; }
    bool backedOff(const Record &record, int limit, TimePoint now) const
    {
        return record.failures >= limit && !expired(record, now);
    }
    // Marks the record under key as seen, made (room made first, never
    // from keep) when missing; false when the table is full of records that
    // must stay.
    bool touch(const QString &key, TimePoint now, const QString &keep);
    int limitOf(const QString &key) const;
    void count(const QString &key, Outcome outcome, TimePoint now);

    Settings m_settings;
    std::function<TimePoint()> m_clock;
    std::mutex m_mutex;
    QHash<QString, Record> m_records;
    std::list<QString> m_ages; // keys, most recently seen first
};

} // namespace VelmoraServerCore
