#include "auth/signin.h"

#include <QLoggingCategory>

namespace VelmoraServerCore {

namespace {

// Every sign-in and what the guard decides ("velmora.server.auth"), at
// debug level: quiet unless QT_LOGGING_RULES turns it on.
Q_LOGGING_CATEGORY(lcAuth, "velmora.server.auth", QtWarningMsg)

} // namespace

bool SignIn::load(const Settings &settings, QString *error)
{
    if (!Credentials::load(settings.credentialsFile, &m_credentials, error))
        return false;
    if (m_credentials.isEmpty()) {
        *error = QStringLiteral("the credentials file %1 names no user; add one with --add-user")
                     .arg(settings.credentialsFile);
        return false;
    }
    m_credentials.setCacheLifetime(settings.cacheLifetime);
    m_guard.emplace(settings.guard);
    return true;
}

// A pair verified before is accepted on a worker without a key derivation;
// any other check is counted against its address and the user it names
// first.
SignIn::Attempt SignIn::begin(const std::string &authorization, const QString &remote)
{
    Attempt attempt;
    if (authorization.empty())
        return attempt;
    attempt.authorization = QByteArray::fromStdString(authorization);
    if (m_credentials.isRemembered(attempt.authorization)) {
        attempt.verdict = Attempt::Verdict::Remembered;
        return attempt;
    }
    attempt.user = Credentials::claimedUser(attempt.authorization);
    attempt.wait = m_guard->begin(remote, attempt.user);
    attempt.verdict = attempt.wait.seconds > 0 ? Attempt::Verdict::TooMany : Attempt::Verdict::Counted;
    if (attempt.verdict == Attempt::Verdict::TooMany)
        qCDebug(lcAuth) << "backed off" << attempt.user << "from" << remote << "for" << attempt.wait.seconds << "s";
    return attempt;
}

std::optional<QString> SignIn::verify(const Attempt &attempt, const QString &remote)
{
    QString user;
    const bool verified = m_credentials.checkAuthorization(attempt.authorization, &user);
    qCDebug(lcAuth) << (verified ? "signed in" : "refused") << (verified ? user : attempt.user) << "from" << remote
                    << (attempt.verdict == Attempt::Verdict::Remembered ? "(remembered)" : "");
    if (attempt.verdict == Attempt::Verdict::Counted) {
        m_guard->finish(remote, attempt.user,
                        verified ? LoginGuard::Outcome::Succeeded : LoginGuard::Outcome::Failed);
    }
    return verified ? std::optional<QString>(user) : std::nullopt;
}

void SignIn::drop(const Attempt &attempt, const QString &remote)
{
    if (attempt.verdict == Attempt::Verdict::Counted)
        m_guard->finish(remote, attempt.user, LoginGuard::Outcome::NotChecked);
}

} // namespace VelmoraServerCore
