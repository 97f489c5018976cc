// velmora-server's HTTP side: it listens on one address, plain or over TLS,
// and serves every connection on a few network threads (Boost.Asio), where
// an idle or slow client costs a timer, not a thread. It admits connections
// under its caps, reads each request within the limits of HttpConnection,
// hands it to the handler, writes the answer and logs it. It knows nothing
// of what is served.
#pragma once

#include "http/bodybudget.h"
#include "http/connectioncaps.h"
#include "http/httpconnection.h"
#include "http/trustedproxies.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace VelmoraServerCore {

class HttpListener final : public HttpHost
{
public:
    struct Settings
    {
        QString host;
        int port = 0; // 0: any free port (see port())
        // PEM files; both set: HTTPS (TLS 1.2 or later) instead of HTTP.
        QString tlsCertificateFile;
        QString tlsKeyFile;
        HttpLimits limits;
        qint64 bodyBudget = 0;            // bytes all request bodies may hold at once
        int maxConnections = 0;           // open at once
        int maxConnectionsPerAddress = 0; // open at once from one client address
        TrustedProxies proxies;
        int ioThreads = 1;
        // One line per request (see RequestLog); none: no log.
        std::function<void(const QString &line)> log;
    };

    HttpListener(Settings settings, HttpHandler &handler);
    ~HttpListener() override; // stops
    HttpListener(const HttpListener &) = delete;
    HttpListener &operator=(const HttpListener &) = delete;

    // Reads the TLS certificate and key, binds the address and serves on
    // the network threads. False, with a reason, when it cannot.
    bool start(QString *error);
    int port() const;

    // Accepts no more connections; those that wait for their client close,
    // those whose request is with the handler wait for its answer.
    void stopAccepting();
    // Returns once every answer under way is written and the network
    // threads have ended. Safe to call more than once.
    void finish();

    // Runs tick(i) once on each network thread i; each waits (at most half
    // of bound) until all have started, so that no thread runs two ticks
    // and a stuck thread leaves its own undone. Returns within bound.
    void tickEachThread(const std::function<void(int thread)> &tick, std::chrono::milliseconds bound);
    // Runs then on a network thread after delay; the function returned
    // cancels it (from any thread). A waiting one holds finish() up.
    std::function<void()> after(std::chrono::milliseconds delay, std::function<void()> then);

    // HttpHost
    const HttpLimits &limits() const override;
    BodyBudget &bodyBudget() override;
    const TrustedProxies &trustedProxies() const override;
    void serve(std::shared_ptr<HttpRequest> request, std::function<void(HttpAnswer)> answer) override;
    void log(const HttpRequest &request, const HttpAnswer &answer, qint64 bytes) override;
    bool stopping() const override;
    void closed(HttpConnection *connection, const QString &remote) override;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace VelmoraServerCore
