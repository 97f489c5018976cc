#include "page/pageanswers.h"

#include "page/commitrequest.h"

#include "protocol/page.h"

namespace VelmoraServerCore {

namespace {

using VelmoraProtocol::PagePath;

int statusFor(CenterStore::ErrorKind kind)
{
    switch (kind) {
    case CenterStore::ErrorKind::Refused: return 409;
    case CenterStore::ErrorKind::Unavailable:
    case CenterStore::ErrorKind::OutcomeUnknown: return 503;
    case CenterStore::ErrorKind::None:
    case CenterStore::ErrorKind::Failed: break;
    }
    return 500;
}

} // namespace

HttpAnswer PageAnswers::notFound()
{
    return HttpAnswer::text(404, QStringLiteral("not found: this server serves %1 only").arg(PagePath));
}

// The page takes GET (and HEAD) and POST; any other method is named as not
// allowed rather than the page as missing.
HttpAnswer PageAnswers::methodNotAllowed(const std::string &method)
{
    HttpAnswer refusal = HttpAnswer::text(
        405, QStringLiteral("method %1 is not allowed on %2: use GET (the document) or POST (a commit)")
                 .arg(QString::fromStdString(method).left(20), PagePath));
    refusal.headers.emplace_back("Allow", "GET, HEAD, POST");
    return refusal;
}

HttpAnswer PageAnswers::unauthorised(const QString &text)
{
    HttpAnswer answer = HttpAnswer::text(401, text);
    answer.headers.emplace_back("WWW-Authenticate", R"(Basic realm="Velmora", charset="UTF-8")");
    return answer;
}

HttpAnswer PageAnswers::tooManyFailures(const LoginGuard::Wait &wait)
{
    const QString whose = wait.scope == LoginGuard::Scope::User ? QStringLiteral("for this user from this address")
        : wait.scope == LoginGuard::Scope::Address                ? QStringLiteral("from this address")
                                                                  : QStringLiteral("from too many addresses");
    HttpAnswer refusal = HttpAnswer::text(
        429, QStringLiteral("too many failed sign-ins %1; try again in %2 seconds").arg(whose).arg(wait.seconds));
    refusal.headers.emplace_back("Retry-After", std::to_string(wait.seconds));
    return refusal;
}

HttpAnswer PageAnswers::tooManyWaiting()
{
    HttpAnswer refusal = HttpAnswer::text(
        429, QStringLiteral("too many requests from this address are waiting; nothing was changed, please try again "
                            "shortly"));
    refusal.headers.emplace_back("Retry-After", "1");
    return refusal;
}

HttpAnswer PageAnswers::clientGone()
{
    return HttpAnswer::text(503, QStringLiteral("the client left before its request ran; nothing was changed"));
}

HttpAnswer PageAnswers::shortOfMemory(bool commit)
{
    return HttpAnswer::text(503, commit ? QStringLiteral("the server ran short of memory while saving the change, so "
                                                         "it may or may not be saved; sending the same change again "
                                                         "is safe, or reload to see what is stored")
                                        : QStringLiteral("the server is short of memory; please try again shortly"));
}

HttpAnswer PageAnswers::storeError(const CenterStore::Error &error)
{
    const int status = statusFor(error.kind);
    const QString message = error.change > 0 ? QStringLiteral("%1: %2").arg(CommitRequest::fieldName(error.change), error.message)
                                             : error.message;
    if (status == 409)
        return HttpAnswer::text(status, message);
    HttpAnswer answer;
    if (status == 503) {
        answer = HttpAnswer::text(
            status, error.kind == CenterStore::ErrorKind::OutcomeUnknown
                ? QStringLiteral("the connection to the database broke while the change was being saved, so it "
                                 "may or may not be saved; sending the same change again is safe, or reload to "
                                 "see what is stored")
                : QStringLiteral("the database is unavailable at the moment; nothing was changed, "
                                 "please try again shortly"));
        answer.headers.emplace_back("Retry-After", "5");
    } else {
        answer = HttpAnswer::text(status, QStringLiteral("database error; nothing was changed"));
    }
    answer.reason = message;
    return answer;
}

} // namespace VelmoraServerCore
