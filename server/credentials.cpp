#include "credentials.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QPasswordDigestor>
#include <QRandomGenerator>
#include <QStringList>

namespace VelmoraServerCore {

namespace {

constexpr QStringView Scheme = u"pbkdf2-sha256";
constexpr int HashBytes = 32;
constexpr int SaltBytes = 16;
// Remembered verifications; the table is emptied when it grows past this.
constexpr qsizetype MaxCachedPairs = 1024;

QByteArray derive(const QByteArray &password, const QByteArray &salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password, salt, iterations, HashBytes);
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
    : m_users(other.m_users), m_cacheKey(other.m_cacheKey)
{
}

Credentials &Credentials::operator=(const Credentials &other)
{
    if (this != &other) {
        m_users = other.m_users;
        m_cacheKey = other.m_cacheKey;
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
        derive(password, QByteArrayLiteral("velmora-no-such-user"), DefaultIterations);
        return false;
    }
    return sameBytes(derive(password, it->salt, it->iterations), it->hash);
}

bool Credentials::checkAuthorization(const QByteArray &header, QString *name) const
{
    const QByteArray trimmed = header.trimmed();
    if (trimmed.size() < 6 || qstrnicmp(trimmed.constData(), "basic ", 6) != 0)
        return false;
    const QByteArray encoded = trimmed.mid(6).trimmed();
    const QByteArray cacheKey = QMessageAuthenticationCode::hash(encoded, m_cacheKey, QCryptographicHash::Sha256);
    {
        QMutexLocker lock(&m_cacheMutex);
        if (const auto it = m_verified.constFind(cacheKey); it != m_verified.cend()) {
            *name = *it;
            return true;
        }
    }
    const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    const qsizetype colon = decoded.decoded.indexOf(':');
    if (colon <= 0)
        return false;
    const QString user = QString::fromUtf8(decoded.decoded.first(colon));
    if (!verify(user, decoded.decoded.sliced(colon + 1)))
        return false;
    QMutexLocker lock(&m_cacheMutex);
    if (m_verified.size() >= MaxCachedPairs)
        m_verified.clear();
    m_verified.insert(cacheKey, user);
    *name = user;
    return true;
}

} // namespace VelmoraServerCore
