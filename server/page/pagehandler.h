// The page Velmora.asp as velmora-server serves it: GET (and HEAD, the
// health check) hands out the center document of ?EmployeeID=N, POST applies
// the "SQL" fields of a commit. Received statements are only recognised,
// never run: each becomes changes that the store applies with statements of
// its own, all of one request in one transaction.
//
// The path, the method and the checks that need neither a key derivation
// nor the database run as a request arrives; the rest waits for a database
// worker, within the request's time for the database.
#pragma once

#include "auth/signin.h"
#include "http/httpmessage.h"
#include "store/workerpool.h"

#include <chrono>
#include <functional>
#include <memory>

namespace VelmoraServerCore {

class CatalogueCache;

class PageHandler final : public HttpHandler
{
public:
    // Runs a function after a delay, on any thread but the workers', and
    // returns what cancels it.
    using Timer = std::function<std::function<void()>(std::chrono::milliseconds, std::function<void()>)>;

    struct Settings
    {
        std::chrono::seconds dbTimeout{}; // a request's database work, from its arrival
        SignIn *signIn = nullptr;         // none: anyone may read and commit
        WorkerPool *pool = nullptr;
        CatalogueCache *catalogue = nullptr;
        Timer after;                      // for the health check's time limit
    };

    explicit PageHandler(Settings settings);

    void serve(std::shared_ptr<HttpRequest> request, std::function<void(HttpAnswer)> answer) override;

private:
    using Clock = std::chrono::steady_clock;
    // The way back to the connection: the answer, and who signed in for
    // it, which the request carries from then on (for the log).
    using Reply = std::function<void(HttpAnswer, QString user)>;

    Reply withinHealthCheckLimit(Reply answer);
    void answerOnWorker(const HttpRequest &request, CenterStore &store, const SignIn::Attempt &attempt,
                        Clock::time_point deadline, const Reply &reply);
    HttpAnswer respond(const HttpRequest &request, CenterStore &store, const SignIn::Attempt &attempt,
                       Clock::time_point deadline, QString *user);

    Settings m_settings;
};

} // namespace VelmoraServerCore
