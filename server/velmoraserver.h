// velmora-server put together: the HTTP side (http/) that reads requests,
// the page (page/) that answers them, the sign-in (auth/) it asks, and the
// database workers (store/) that run its database work, each with its own
// connection. A commit travels socket -> HttpConnection -> Page (routing,
// sign-in) -> WorkerPool -> Page (password, commit request) -> CenterStore.
#pragma once

#include "serveroptions.h"

#include <QString>

#include <memory>

namespace VelmoraServerCore {

class VelmoraServer
{
public:
    using Options = ServerOptions;

    explicit VelmoraServer(Options options);
    ~VelmoraServer(); // stops
    VelmoraServer(const VelmoraServer &) = delete;
    VelmoraServer &operator=(const VelmoraServer &) = delete;

    // Checks the options, creates the schema if needed, reads the
    // credentials file and the TLS certificate and key, binds the address
    // and starts serving on threads of its own. Returns once the port is
    // bound (or false, with a reason).
    bool start(QString *error);
    // Stops accepting, finishes the requests in progress and returns when
    // every worker has ended. Safe to call more than once.
    void stop();

    bool isRunning() const;
    int port() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace VelmoraServerCore
