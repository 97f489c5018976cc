#include "velmoraserver.h"

#include "auth/signin.h"
#include "http/httplistener.h"
#include "page/centercatalogue.h"
#include "page/pagehandler.h"
#include "progressmonitor.h"
#include "store/centerstore.h"
#include "store/workerpool.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace VelmoraServerCore {

class VelmoraServer::Private
{
public:
    explicit Private(Options o)
        : options(std::move(o)),
          catalogue(options.catalogue ? options.catalogue : std::make_shared<CatalogueCache>())
    {
    }

    bool checkDatabase(QString *error) const;
    bool loadSignIn(QString *error);
    void startWorkers();
    HttpListener::Settings listenerSettings() const;
    void heartbeat();
    void release();

    Options options;
    std::shared_ptr<CatalogueCache> catalogue;
    std::unique_ptr<SignIn> signIn;
    std::unique_ptr<ProgressMonitor> monitor;
    std::unique_ptr<WorkerPool> pool;
    std::unique_ptr<PageHandler> page;
    std::unique_ptr<HttpListener> listener;
    std::thread heartbeatThread;
    std::mutex heartbeatMutex;
    std::condition_variable heartbeatWake;
    bool stopping = false;
    bool running = false;
    int port = 0;
};

// Fails early on a database that cannot be opened, and creates the tables
// once rather than in every worker.
bool VelmoraServer::Private::checkDatabase(QString *error) const
{
    CenterStore store(options.storeSettings());
    CenterStore::Error storeError;
    if (!store.ensureSchema(&storeError)) {
        *error = storeError.message;
        return false;
    }
    return true;
}

bool VelmoraServer::Private::loadSignIn(QString *error)
{
    if (options.credentialsFile.isEmpty())
        return true;
    signIn = std::make_unique<SignIn>();
    const SignIn::Settings settings{options.credentialsFile, std::chrono::seconds(options.authCacheSeconds),
                                    {options.loginFailures, std::chrono::seconds(options.loginBackoffSeconds)}};
    if (!signIn->load(settings, error)) {
        signIn.reset();
        return false;
    }
    return true;
}

// The workers and, under a watchdog, the monitor that hears their jobs.
// Each job is bounded by the database's time-outs; one that runs ten times
// as long is stuck. Reads keep workers of their own only when there are
// others for commits.
void VelmoraServer::Private::startWorkers()
{
    const Options &o = options;
    WorkerPool::JobWatch watch;
    if (o.heartbeat.count() > 0 && o.alive) {
        const auto longestWait = std::max<std::chrono::milliseconds>(std::chrono::seconds(o.dbTimeoutSeconds),
                                                                     std::chrono::milliseconds(o.busyTimeoutMs));
        monitor = std::make_unique<ProgressMonitor>(o.ioThreads, o.threads, 10 * longestWait);
        watch = [m = monitor.get()](int worker, bool running) {
            running ? m->jobStarted(worker) : m->jobEnded(worker);
        };
    }
    const WorkerPool::Limits limits{o.threads, std::min(o.readThreads, o.threads - 1), o.queueLimit,
                                    o.queuePerAddress};
    pool = std::make_unique<WorkerPool>(o.storeSettings(), limits, std::move(watch));
}

HttpListener::Settings VelmoraServer::Private::listenerSettings() const
{
    const Options &o = options;
    HttpListener::Settings settings;
    settings.host = o.host;
    settings.port = o.port;
    settings.tlsCertificateFile = o.tlsCertificateFile;
    settings.tlsKeyFile = o.tlsKeyFile;
    settings.limits = {std::chrono::seconds(o.handshakeTimeoutSeconds), std::chrono::seconds(o.idleTimeoutSeconds),
                       std::chrono::seconds(o.headTimeoutSeconds),      std::chrono::seconds(o.readTimeoutSeconds),
                       o.headLimit,
                       o.headerLimit,
                       o.bodyLimit};
    settings.bodyBudget = o.bodyBudget;
    settings.maxConnections = o.maxConnections;
    settings.maxConnectionsPerAddress = o.maxConnectionsPerAddress;
    QString checked; // validate() has refused any address that is not one
    settings.proxies.setAddresses(o.trustedProxies, &checked);
    settings.ioThreads = o.ioThreads;
    settings.log = o.log;
    return settings;
}

// Every heartbeat: a tick on each network thread, then alive() if the
// monitor finds the server healthy.
void VelmoraServer::Private::heartbeat()
{
    std::unique_lock lock(heartbeatMutex);
    while (!heartbeatWake.wait_for(lock, options.heartbeat, [this] { return stopping; })) {
        lock.unlock();
        listener->tickEachThread([m = monitor.get()](int thread) { m->ticked(thread); }, options.heartbeat);
        if (monitor->healthy())
            options.alive();
        lock.lock();
    }
}

void VelmoraServer::Private::release()
{
    listener.reset();
    page.reset();
    pool.reset();
    monitor.reset();
    signIn.reset();
}

VelmoraServer::VelmoraServer(Options options) : d(std::make_unique<Private>(std::move(options))) {}

VelmoraServer::~VelmoraServer()
{
    stop();
}

bool VelmoraServer::start(QString *error)
{
    if (d->running) {
        *error = QStringLiteral("the server is already running");
        return false;
    }
    if (!d->options.validate(error) || !d->checkDatabase(error) || !d->loadSignIn(error))
        return false;
    d->startWorkers();
    PageHandler::Settings page{std::chrono::seconds(d->options.dbTimeoutSeconds), d->signIn.get(), d->pool.get(),
                        d->catalogue.get(), [p = d.get()](std::chrono::milliseconds delay, std::function<void()> then) {
                            return p->listener->after(delay, std::move(then));
                        }};
    d->page = std::make_unique<PageHandler>(std::move(page));
    d->listener = std::make_unique<HttpListener>(d->listenerSettings(), *d->page);
    if (!d->listener->start(error)) {
        d->pool->stop();
        d->release();
        return false;
    }
    d->port = d->listener->port();
    d->stopping = false;
    if (d->monitor)
        d->heartbeatThread = std::thread([p = d.get()] { p->heartbeat(); });
    d->running = true;
    return true;
}

// No new connections; those that wait for a client close, those whose
// request is with a worker get their answer.
void VelmoraServer::stop()
{
    if (!d->running)
        return;
    {
        std::lock_guard lock(d->heartbeatMutex);
        d->stopping = true;
    }
    d->heartbeatWake.notify_all();
    if (d->heartbeatThread.joinable())
        d->heartbeatThread.join();
    d->listener->stopAccepting();
    d->pool->stop();
    d->listener->finish();
    d->release();
    d->running = false;
}

bool VelmoraServer::isRunning() const
{
    return d->running;
}

int VelmoraServer::port() const
{
    return d->port;
}

} // namespace VelmoraServerCore
