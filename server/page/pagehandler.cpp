#include "page/pagehandler.h"

#include "page/commitanswer.h"
#include "page/documentanswer.h"
#include "page/pageanswers.h"

#include "protocol/page.h"

#include <QLoggingCategory>

#include <atomic>
#include <optional>

namespace VelmoraServerCore {

namespace {

// What the page does with each request ("velmora.server.page"), at debug
// level: quiet unless QT_LOGGING_RULES turns it on.
Q_LOGGING_CATEGORY(lcPage, "velmora.server.page", QtWarningMsg)

// A health check (HEAD) is answered 503 when the database has not given its
// document within this time, however stuck the database or the workers are,
// so that a load balancer takes the server out.
constexpr std::chrono::seconds HealthCheckLimit{1};

// The page's path; a ServerName that ends in '/' makes the control ask for
// "//Velmora.asp", which a web server treats as the same page.
bool isPagePath(const std::string &path)
{
    const std::size_t slashes = path.find_first_not_of('/');
    return slashes != std::string::npos && slashes > 0
        && QLatin1StringView(path.data() + slashes - 1, qsizetype(path.size() - slashes + 1))
        == VelmoraProtocol::PagePath;
}

// The refusal of a request for another path or with another method, if so.
std::optional<HttpAnswer> refusedRoute(const HttpRequest &request)
{
    if (!isPagePath(request.path))
        return PageAnswers::notFound();
    if (request.method != "GET" && request.method != "HEAD" && request.method != "POST")
        return PageAnswers::methodNotAllowed(request.method);
    return std::nullopt;
}

} // namespace

PageHandler::PageHandler(Settings settings) : m_settings(std::move(settings)) {}

void PageHandler::serve(std::shared_ptr<HttpRequest> request, std::function<void(HttpAnswer)> answer)
{
    if (std::optional<HttpAnswer> refusal = refusedRoute(*request))
        return answer(std::move(*refusal));
    SignIn *signIn = m_settings.signIn;
    const SignIn::Attempt attempt = signIn ? signIn->begin(request->authorization, request->remote)
                                           : SignIn::Attempt{};
    if (signIn && attempt.verdict == SignIn::Attempt::Verdict::Missing)
        return answer(PageAnswers::unauthorised(QStringLiteral("authentication required")));
    if (attempt.verdict == SignIn::Attempt::Verdict::TooMany)
        return answer(PageAnswers::tooManyFailures(attempt.wait));
    const bool health = request->method == "HEAD";
    const Clock::time_point deadline = Clock::now() + (health ? HealthCheckLimit : m_settings.dbTimeout);
    Reply reply = [request, answer = std::move(answer)](HttpAnswer a, QString user) {
        request->user = std::move(user);
        answer(std::move(a));
    };
    if (health)
        reply = withinHealthCheckLimit(std::move(reply));
    auto job = [this, request, reply, attempt, deadline](CenterStore &store) {
        answerOnWorker(*request, store, attempt, deadline, reply);
    };
    const auto lane = request->method == "POST" ? WorkerPool::Lane::Commit : WorkerPool::Lane::Read;
    const WorkerPool::Posted posted = m_settings.pool->post(lane, request->remote, std::move(job));
    if (posted == WorkerPool::Posted::Queued)
        return;
    qCDebug(lcPage) << "no room for" << request->method.c_str() << "from" << request->remote << "among the workers"
                    << (posted == WorkerPool::Posted::AddressShareFull ? "(its address's share)" : "");
    if (signIn)
        signIn->drop(attempt, request->remote);
    reply(posted == WorkerPool::Posted::AddressShareFull ? PageAnswers::tooManyWaiting() : HttpAnswer::busy(), {});
}

// answer, or 503 once HealthCheckLimit has passed without it; whichever
// comes first is sent, the other dropped (and so is the user of a worker's
// answer that comes too late).
PageHandler::Reply PageHandler::withinHealthCheckLimit(Reply answer)
{
    struct Race
    {
        std::atomic<bool> sent{false};
        std::function<void()> cancelTimer;
    };
    auto race = std::make_shared<Race>();
    race->cancelTimer = m_settings.after(HealthCheckLimit, [race, answer] {
        if (!race->sent.exchange(true)) {
            qCDebug(lcPage) << "the health check found no document within" << HealthCheckLimit.count() << "s";
            answer(PageAnswers::storeError(
                       {CenterStore::ErrorKind::Unavailable,
                        QStringLiteral("the database did not answer the health check within %1 second")
                            .arg(HealthCheckLimit.count())}),
                   {});
        }
    });
    return [race, answer](HttpAnswer a, QString user) {
        if (race->sent.exchange(true))
            return;
        race->cancelTimer();
        answer(std::move(a), std::move(user));
    };
}

// Running out of memory ends this request, not the process: whether a
// commit got through is then not known, and without memory even to hand
// the answer over, the connection closes unanswered.
void PageHandler::answerOnWorker(const HttpRequest &request, CenterStore &store, const SignIn::Attempt &attempt,
                                 Clock::time_point deadline, const Reply &reply)
{
    try {
        HttpAnswer result;
        QString user;
        try {
            result = respond(request, store, attempt, deadline, &user);
        } catch (const std::bad_alloc &) {
            result = PageAnswers::shortOfMemory(request.method == "POST");
        }
        reply(std::move(result), std::move(user));
    } catch (const std::bad_alloc &) {
    }
}

// On a worker: a request whose client has gone or whose time has passed is
// dropped; then the password check, then the document or the commit.
HttpAnswer PageHandler::respond(const HttpRequest &request, CenterStore &store, const SignIn::Attempt &attempt,
                                Clock::time_point deadline, QString *user)
{
    SignIn *signIn = m_settings.signIn;
    const bool gone = request.clientGone && request.clientGone();
    if (gone || Clock::now() >= deadline) {
        qCDebug(lcPage) << "dropped" << request.method.c_str() << "from" << request.remote
                        << (gone ? "whose client had left" : "whose time for the database had passed");
        if (signIn)
            signIn->drop(attempt, request.remote);
        return gone ? PageAnswers::clientGone()
                    : PageAnswers::storeError({CenterStore::ErrorKind::Unavailable,
                                               QStringLiteral("no worker was free before the request's time for "
                                                              "the database had passed")});
    }
    store.setDeadline(deadline);
    if (signIn) {
        const std::optional<QString> signedIn = signIn->verify(attempt, request.remote);
        if (!signedIn)
            return PageAnswers::unauthorised(QStringLiteral("wrong user name or password"));
        *user = *signedIn;
    }
    if (request.method == "POST")
        return CommitAnswer::forRequest(request, store);
    return DocumentAnswer::forRequest(request, store, *m_settings.catalogue);
}

} // namespace VelmoraServerCore
