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

namespace VelmoraServerCore {

class Credentials
{
public:
    static constexpr int DefaultIterations = 100000;

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
    // verified once is remembered (as a keyed hash, never in clear), so that
    // a busy client does not pay for the key derivation on every request.
    bool checkAuthorization(const QByteArray &header, QString *name) const;

private:
    struct Entry
    {
        int iterations = 0;
        QByteArray salt;
        QByteArray hash;
    };
    static bool parseLine(const QString &line, QString *name, Entry *entry);

    QHash<QString, Entry> m_users;
    mutable QMutex m_cacheMutex;
    mutable QHash<QByteArray, QString> m_verified;
    QByteArray m_cacheKey;
};

} // namespace VelmoraServerCore
