// The users allowed to reach the server page when HTTP Basic authentication
// is on, read from a credentials file. Passwords are kept as salted
// PBKDF2-HMAC-SHA256 hashes, one user per line:
//
//   name:pbkdf2-sha256:iterations:salt-base64:hash-base64
//
// Blank lines and lines starting with '#' are ignored. Names hold no ':' and
// no blanks.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>

#include <chrono>
#include <functional>

namespace VelmoraServerCore {

class Credentials
{
public:
    static constexpr int DefaultIterations = 100000;
    // How long a verified pair is remembered unless set otherwise.
    static constexpr std::chrono::seconds DefaultCacheLifetime{300};
    // Verified pairs remembered at most; the expired ones make room first.
    static constexpr qsizetype MaxCachedPairs = 1024;
    using TimePoint = std::chrono::steady_clock::time_point;

    // Reads the whole file; any malformed line refuses it (with its number),
    // so that a typo never leaves a user locked out or let in unnoticed.
    static bool load(const QString &path, Credentials *credentials, QString *error);

    // Appends a line for a new user, creating the file (readable by its
    // owner only) if needed. Refuses a name that is already in the file.
    static bool addUser(const QString &path, const QString &name, const QByteArray &password, QString *error,
                        int iterations = DefaultIterations);

    // One line of the file for name and password, with a fresh random salt.
    static QString hashLine(const QString &name, const QByteArray &password, int iterations = DefaultIterations);
    static bool isValidName(const QString &name);
    // count bytes from the system's secure generator (salts, keys).
    static QByteArray randomBytes(int count);

    Credentials() = default;
    Credentials(const Credentials &other);
    Credentials &operator=(const Credentials &other);

    bool isEmpty() const { return m_users.isEmpty(); }
    bool verify(const QString &name, const QByteArray &password) const;

    // Checks the value of an Authorization header ("Basic " + base64 of
    // "name:password"). Sets *name to the user on success. A pair that was
    // verified is remembered for the cache lifetime (as a keyed hash, never
    // in clear), so that a busy client does not pay for the key derivation
    // on every request; *derived tells whether this call derived a key.
    bool checkAuthorization(const QByteArray &header, QString *name, bool *derived = nullptr) const;

    // The user an Authorization header names, unverified; empty when it
    // names none.
    static QString claimedUser(const QByteArray &header);

    // Whether the header holds a pair verified within the cache lifetime:
    // checkAuthorization() will accept it without deriving a key.
    bool isRemembered(const QByteArray &header) const;

    // How long a verified pair is remembered (0: not at all), and the clock
    // that judges it (the steady clock when empty).
    void setCacheLifetime(std::chrono::seconds lifetime, std::function<TimePoint()> clock = {});

private:
    struct Entry
    {
        int iterations = 0;
        QByteArray salt;
        QByteArray hash;
    };
    static bool parseLine(const QString &line, QString *name, Entry *entry);

    struct Verified
    {
        QString name;
        TimePoint expiry;
    };
    TimePoint now() const { return m_clock ? m_clock() : std::chrono::steady_clock::now(); }
    // The cache's key for the encoded credentials of an Authorization header.
    QByteArray cacheKeyOf(const QByteArray &encoded) const;

    QHash<QString, Entry> m_users;
    // The cost of an unknown user's check: that of the dearest known one.
    int m_dummyIterations = DefaultIterations;
    mutable QMutex m_cacheMutex;
    mutable QHash<QByteArray, Verified> m_verified;
    QByteArray m_cacheKey;
    std::chrono::seconds m_cacheLifetime = DefaultCacheLifetime;
    std::function<TimePoint()> m_clock;
};

} // namespace VelmoraServerCore
