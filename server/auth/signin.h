// Who a request is when the server asks for credentials (HTTP Basic): the
// checks that cost nothing run as a request arrives, the key derivation on a
// database worker later, and the login guard counts every check from its
// start to its end, so that guessing is slowed down per address and user
// without the guesses costing the server a derivation each.
#pragma once

#include "auth/credentials.h"
#include "auth/loginguard.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>

namespace VelmoraServerCore {

class SignIn
{
public:
    struct Settings
    {
        QString credentialsFile;
        std::chrono::seconds cacheLifetime{0}; // how long a verified pair is remembered (0: never)
        LoginGuard::Settings guard;
    };

    // Reads the credentials file; false, with a reason, when it cannot be
    // used (a file that names no user included).
    bool load(const Settings &settings, QString *error);

    // What is decided about a request's credentials as it arrives.
    struct Attempt
    {
        enum class Verdict {
            Missing,    // no Authorization header: 401
            TooMany,    // the guard refuses a check now: 429 for wait
            Remembered, // a pair verified before: accepted on a worker without a derivation
            Counted,    // to be checked on a worker, counted for user until then
        };
        Verdict verdict = Verdict::Missing;
        LoginGuard::Wait wait;
        QString user; // the user a counted check is for
        QByteArray authorization;
    };
    Attempt begin(const std::string &authorization, const QString &remote);
    // On a worker, for an attempt that is Remembered or Counted: the user
    // whose right password the header holds, or nothing.
    std::optional<QString> verify(const Attempt &attempt, const QString &remote);
    // The check of attempt will not run: the request ended before it.
    void drop(const Attempt &attempt, const QString &remote);

private:
    Credentials m_credentials;
    std::optional<LoginGuard> m_guard;
};

} // namespace VelmoraServerCore
