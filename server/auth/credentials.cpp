#include "auth/credentials.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>

#include <openssl/evp.h>

namespace VelmoraServerCore {

namespace {

constexpr QStringView Scheme = u"pbkdf2-sha256";
constexpr int HashBytes = 32;
constexpr int SaltBytes = 16;
// OpenSSL's PBKDF2 is several times faster than Qt's, which matters for the
// CPU an attacker can make the server spend; the result is the same.
QByteArray derive(const QByteArray &password, const QByteArray &salt, int iterations)
{
    QByteArray key(HashBytes, Qt::Uninitialized);
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
                          reinterpret_cast<const unsigned char *>(salt.constData()), int(salt.size()), iterations,
                          EVP_sha256(), HashBytes, reinterpret_cast<unsigned char *>(key.data())) != 1)
        return {};
    return key;
}

// Compares without stopping at the first difference, so that the time taken
// tells nothing about the stored hash.
bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

QByteArray Credentials::randomBytes(int count)
{
    // The generator fills whole 32-bit words: draw enough of them and keep
    // the bytes asked for, so that no byte is left unset at any length.
    QList<quint32> words(qMax(0, count + 3) / 4);
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), qMax(0, count));
}

Credentials::Credentials(const Credentials &other)
    : m_users(other.m_users), m_dummyIterations(other.m_dummyIterations), m_cacheKey(other.m_cacheKey),
      m_cacheLifetime(other.m_cacheLifetime), m_clock(other.m_clock)
{
}

Credentials &Credentials::operator=(const Credentials &other)
{
    if (this != &other) {
        m_users = other.m_users;
        m_dummyIterations = other.m_dummyIterations;
        m_cacheKey = other.m_cacheKey;
        m_cacheLifetime = other.m_cacheLifetime;
        m_clock = other.m_clock;
        QMutexLocker lock(&m_cacheMutex);
        m_verified.clear();
    }
    return *this;
}

bool Credentials::isValidName(const QString &name)
{
    if (name.isEmpty() || name.size() > 64)
        return false;
    for (QChar c : name) {
        if (c == u':' || c.isSpace() || !c.isPrint())
            return false;
    }
    return !name.startsWith(u'#');
}

QString Credentials::hashLine(const QString &name, const QByteArray &password, int iterations)
{
    const QByteArray salt = randomBytes(SaltBytes);
    return QStringList{name, Scheme.toString(), QString::number(iterations), QString::fromLatin1(salt.toBase64()),
                       QString::fromLatin1(derive(password, salt, iterations).toBase64())}
        .join(u':');
}

bool Credentials::parseLine(const QString &line, QString *name, Entry *entry)
{
    const QStringList parts = line.split(u':');
    if (parts.size() != 5 || !isValidName(parts[0]) || parts[1] != Scheme)
        return false;
    bool ok = false;
    entry->iterations = parts[2].toInt(&ok);
    if (!ok || entry->iterations < 1)
        return false;
    const auto salt = QByteArray::fromBase64Encoding(parts[3].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    const auto hash = QByteArray::fromBase64Encoding(parts[4].toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!salt || !hash || salt.decoded.isEmpty() || hash.decoded.size() != HashBytes)
        return false;
    entry->salt = salt.decoded;
    entry->hash = hash.decoded;
    *name = parts[0];
    return true;
}

bool Credentials::load(const QString &path, Credentials *credentials, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read the credentials file %1: %2").arg(path, file.errorString());
        return false;
    }
    Credentials result;
    int lineNumber = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        QString name;
        Entry entry;
        if (!parseLine(line, &name, &entry)) {
            *error = QStringLiteral("%1 line %2: not \"name:%3:iterations:salt:hash\"").arg(path).arg(lineNumber).arg(Scheme);
            return false;
        }
        if (result.m_users.contains(name)) {
            *error = QStringLiteral("%1 line %2: user \"%3\" appears twice").arg(path).arg(lineNumber).arg(name);
            return false;
        }
        result.m_users.insert(name, entry);
    }
    result.m_cacheKey = randomBytes(32);
    if (!result.m_users.isEmpty()) {
        result.m_dummyIterations = std::max_element(result.m_users.cbegin(), result.m_users.cend(),
                                                    [](const Entry &a, const Entry &b) {
                                                        return a.iterations < b.iterations;
                                                    })->iterations;
    }
    *credentials = result;
    return true;
}

bool Credentials::addUser(const QString &path, const QString &name, const QByteArray &password, QString *error,
                          int iterations)
{
    if (!isValidName(name)) {
        *error = QStringLiteral("\"%1\" is not a valid user name (no ':', no blanks, at most 64 characters)").arg(name);
        return false;
    }
    if (password.isEmpty()) {
        *error = QStringLiteral("the password is empty");
        return false;
    }
    if (QFile::exists(path)) {
        Credentials existing;
        if (!load(path, &existing, error))
            return false;
        if (existing.m_users.contains(name)) {
            *error = QStringLiteral("user \"%1\" is already in %2").arg(name, path);
            return false;
        }
    }
    QFile file(path);
    const bool created = !file.exists();
    if (!file.open(QIODevice::Append | QIODevice::Text)) {
        *error = QStringLiteral("cannot write the credentials file %1: %2").arg(path, file.errorString());
        return false;
    }
    if (created)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(hashLine(name, password, iterations).toUtf8() + '\n');
    if (!file.flush()) {
        *error = QStringLiteral("cannot write the credentials file %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool Credentials::verify(const QString &name, const QByteArray &password) const
{
    const auto it = m_users.constFind(name);
    if (it == m_users.cend()) {
        // Spend about the same time as for a real user, so that timing does
        // not reveal which names exist.
        derive(password, QByteArrayLiteral("velmora-no-such-user"), m_dummyIterations);
        return false;
    }
    return sameBytes(derive(password, it->salt, it->iterations), it->hash);
}

void Credentials::setCacheLifetime(std::chrono::seconds lifetime, std::function<TimePoint()> clock)
{
    m_cacheLifetime = lifetime;
    m_clock = std::move(clock);
    QMutexLocker lock(&m_cacheMutex);
    m_verified.clear();
}

// The base64 of "name:password" in a Basic Authorization header; empty for
// another scheme.
static QByteArray basicCredentials(const QByteArray &header)
{
    const QByteArray trimmed = header.trimmed();
    if (trimmed.size() < 6 || qstrnicmp(trimmed.constData(), "basic ", 6) != 0)
        return {};
    return trimmed.mid(6).trimmed();
}

// The user and password of a Basic credentials' Base64 text; false when it
// holds no "user:password".
static bool splitBasic(const QByteArray &encoded, QByteArray *user, QByteArray *password)
{
    const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    const qsizetype colon = decoded ? decoded.decoded.indexOf(':') : -1;
    if (colon <= 0)
        return false;
    *user = decoded.decoded.first(colon);
    *password = decoded.decoded.sliced(colon + 1);
    return true;
}

QString Credentials::claimedUser(const QByteArray &header)
{
    QByteArray user;
    QByteArray password;
    return splitBasic(basicCredentials(header), &user, &password) ? QString::fromUtf8(user) : QString();
}

QByteArray Credentials::cacheKeyOf(const QByteArray &encoded) const
{
    // Keyed with a secret of this process, so the cache holds no password
    // nor anything a password can be guessed from offline.
    return QMessageAuthenticationCode::hash(encoded, m_cacheKey, QCryptographicHash::Sha256);
}

bool Credentials::isRemembered(const QByteArray &header) const
{
    const QByteArray encoded = basicCredentials(header);
    if (encoded.isEmpty())
        return false;
    const QByteArray cacheKey = cacheKeyOf(encoded);
    QMutexLocker lock(&m_cacheMutex);
    const auto it = m_verified.constFind(cacheKey);
    return it != m_verified.cend() && now() < it->expiry;
}

bool Credentials::checkAuthorization(const QByteArray &header, QString *name, bool *derived) const
{
    if (derived)
        *derived = false;
    const QByteArray encoded = basicCredentials(header);
    if (encoded.isEmpty())
        return false;
    const QByteArray cacheKey = cacheKeyOf(encoded);
    {
        QMutexLocker lock(&m_cacheMutex);
        if (const auto it = m_verified.constFind(cacheKey); it != m_verified.cend()) {
            if (now() < it->expiry) {
                *name = it->name;
                return true;
            }
            m_verified.erase(it);
        }
    }
    QByteArray userBytes;
    QByteArray password;
    if (!splitBasic(encoded, &userBytes, &password))
        return false;
    const QString user = QString::fromUtf8(userBytes);
    if (derived)
        *derived = true;
    if (!verify(user, password))
        return false;
    *name = user;
    if (m_cacheLifetime.count() <= 0)
        return true;
    const TimePoint at = now();
    QMutexLocker lock(&m_cacheMutex);
    if (m_verified.size() >= MaxCachedPairs) {
        m_verified.removeIf([at](const auto &entry) { return entry.value().expiry <= at; });
        if (m_verified.size() >= MaxCachedPairs)
            m_verified.clear();
    }
    m_verified.insert(cacheKey, Verified{user, at + m_cacheLifetime});
    return true;
}

} // namespace VelmoraServerCore
