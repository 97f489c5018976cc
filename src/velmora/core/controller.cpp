#include "core/controller.h"

#include "core/changeset.h"
#include "protocol/page.h"

#include <QEvent>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QMetaEnum>
#include <QPointer>

#include <limits>

namespace VelmoraInternal {

namespace {

// What the control did: loads and commits with their ends, its phases, and
// what the busy gate refused. Quiet unless a host turns it on.
Q_LOGGING_CATEGORY(lcController, "velmora.controller", QtWarningMsg)

const char *phaseName(Controller::Phase phase)
{
    return QMetaEnum::fromType<Controller::Phase>().valueToKey(int(phase));
}

// An answer of nothing but blanks is no news for the operator; line breaks
// and tabs are.
bool holdsMoreThanBlanks(const QString &text)
{
    for (QChar c : text) {
        if (c != QLatin1Char(' '))
            return true;
    }
    return false;
}

} // namespace

Controller::Controller(QObject *parent)
    : QObject(parent)
{
    connect(&m_session, &Session::loaded, this, &Controller::onLoaded);
    connect(&m_session, &Session::loadFailed, this, &Controller::onLoadFailed);
    connect(&m_session, &Session::committed, this, &Controller::onCommitted);
    connect(&m_session, &Session::commitFailed, this, &Controller::onCommitFailed);
    connect(&m_session, &Session::busyChanged, this, &Controller::refreshBusy);
}

Controller::~Controller()
{
    // Whoever waits gets its call back at once; the running exchange is
    // dropped without a signal.
    for (const Wait &wait : std::as_const(m_waits))
        wait.loop->quit();
}

bool Controller::setEmployeeId(const QString &text)
{
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok || value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return false;
    m_employeeId = qint32(value);
    return true;
}

void Controller::setTimeout(std::chrono::milliseconds timeout)
{
    m_session.setTimeout(timeout.count() > 0 ? timeout : DefaultTimeout);
}

QString Controller::loadUrl() const
{
    return loadUrl(m_employeeId);
}

QString Controller::loadUrl(qint32 employeeId) const
{
    return m_serverName + VelmoraProtocol::PagePath + u'?' + VelmoraProtocol::EmployeeQuery + u'='
        + QString::number(employeeId);
}

QString Controller::commitUrl() const
{
    return m_serverName + VelmoraProtocol::PagePath;
}

Controller::Phase Controller::phase() const
{
    if (m_session.isCommitting())
        return Phase::Committing;
    if (m_awaitingReload)
        return Phase::Answer;
    return m_session.isBusy() ? Phase::Loading : Phase::Idle;
}

void Controller::refreshBusy()
{
    logPhase();
    const bool now = m_session.isBusy() || m_awaitingReload;
    if (now == m_busy)
        return;
    m_busy = now;
    Q_EMIT busyChanged(m_busy);
}

void Controller::logPhase()
{
    const Phase now = phase();
    if (now == m_loggedPhase)
        return;
    qCDebug(lcController, "phase: %s, was %s", phaseName(now), phaseName(m_loggedPhase));
    m_loggedPhase = now;
}

quint64 Controller::load()
{
    return startLoad(m_employeeId, LoadKind::Fresh);
}

void Controller::reloadKeepingChanges()
{
    if (m_busy) {
        qCDebug(lcController, "reload keeping the changes refused while busy (%s)", phaseName(phase()));
        return;
    }
    // Nothing to reload before a server is known.
    if (m_designMode || m_serverName.isEmpty())
        return;
    startLoad(m_shownEmployeeId, LoadKind::KeepingChanges);
}

quint64 Controller::startLoad(qint32 employeeId, LoadKind kind)
{
    if (m_designMode)
        return m_loadsStarted;
    ++m_loadsStarted;
    m_loadingEmployeeId = employeeId;
    // Only the shown employee's lists compare with the reload.
    m_reload.reset();
    if (kind != LoadKind::Fresh && employeeId == m_shownEmployeeId)
        m_reload = Reload{kind, m_rules.listsBefore()};
    if (kind != LoadKind::KeepingChanges)
        m_rules.beginLoad();
    static constexpr const char *kinds[] = {"load", "reload after a commit", "reload keeping the changes"}; // by LoadKind
    qCDebug(lcController, "%s of employee %d starts", kinds[int(kind)], employeeId);
    Q_EMIT loadStarted();
    m_session.load(loadUrl(employeeId));
    refreshBusy();
    return m_loadsStarted;
}

void Controller::loadEnded()
{
    // Only the newest load reports: replaced ones never do.
    m_loadsEnded = m_loadsStarted;
    refreshBusy();
}

void Controller::onLoaded(const CenterDocument &document)
{
    std::optional<ReloadReport> report;
    if (m_reload)
        report = m_rules.refill(document, m_reload->before, m_reload->kind == LoadKind::KeepingChanges);
    else
        m_rules.fill(document);
    m_reload.reset();
    m_shownEmployeeId = m_loadingEmployeeId;
    qCInfo(lcController, "employee %d loaded: %d unassigned and %d assigned centers", m_shownEmployeeId,
           m_rules.list(Side::NonSelected)->count(), m_rules.list(Side::Selected)->count());
    loadEnded();
    const QPointer<Controller> alive(this);
    Q_EMIT loaded();
    if (alive && report)
        Q_EMIT reloadReported(*report);
    if (alive)
        wakeWaits();
}

void Controller::onLoadFailed(const QString &reason)
{
    // A reload that keeps the changes has left the lists alone: they stay.
    const bool kept = m_reload && m_reload->kind == LoadKind::KeepingChanges;
    m_reload.reset();
    qCInfo(lcController, "load of employee %d failed%s", m_loadingEmployeeId, kept ? ", the lists kept" : "");
    // Emptied lists belong to the employee whose load failed: F5 retries it.
    if (!kept) {
        m_rules.fail();
        m_shownEmployeeId = m_loadingEmployeeId;
    }
    loadEnded();
    const QPointer<Controller> alive(this);
    Q_EMIT loadFailed(reason, kept);
    if (alive)
        wakeWaits();
}

bool Controller::refusedWhileBusy()
{
    if (!m_busy)
        return false;
    qCInfo(lcController, "save refused while busy (%s)", phaseName(phase()));
    Q_EMIT saveRefused();
    return true;
}

bool Controller::apply(const std::function<void(CrossReference &)> &request)
{
    if (m_busy) {
        qCDebug(lcController, "move, undo, redo or find next refused while busy (%s)", phaseName(phase()));
        return false;
    }
    request(m_rules);
    return true;
}

bool Controller::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        if (m_busy)
            return true;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

Controller::CommitStart Controller::startCommit(bool reloadAfter)
{
    if (m_designMode)
        return CommitStart::NothingToSend; // nor does anything go out
    QStringList statements;
    if (!m_rules.buildStatements(m_shownEmployeeId, &statements)) {
        qCInfo(lcController, "commit refused: more changes than one commit may carry");
        Q_EMIT tooManyChanges();
        return CommitStart::TooManyChanges;
    }
    const QByteArray body = ChangeSet::formBody(statements);
    if (body.isEmpty())
        return CommitStart::NothingToSend;
    m_reloadAfterCommit = reloadAfter;
    m_loadsBeforeCommit = m_loadsStarted;
    qCDebug(lcController, "%s of %lld statements for employee %d starts", reloadAfter ? "commit" : "save",
            qlonglong(statements.size()), m_shownEmployeeId);
    m_session.commit(commitUrl(), body);
    ++m_commitsStarted;
    refreshBusy();
    return CommitStart::Sent;
}

quint64 Controller::save(bool *refused)
{
    const bool busy = refusedWhileBusy();
    if (refused)
        *refused = busy;
    return !busy && startCommit(false) == CommitStart::Sent ? m_commitsStarted : 0;
}

bool Controller::saveAndWait()
{
    bool refused = false;
    const quint64 ticket = save(&refused);
    if (refused)
        return false;
    if (ticket && !waitForSave(ticket))
        return false;
    return !m_rules.state().pendingChanges;
}

bool Controller::commit()
{
    if (m_designMode)
        return true;
    if (refusedWhileBusy())
        return false;
    m_rules.beginCommit();
    switch (startCommit(true)) {
    case CommitStart::NothingToSend:
        // Nothing to save: the lists are reloaded all the same.
        startLoad(m_employeeId, LoadKind::AfterCommit);
        break;
    case CommitStart::TooManyChanges:
        // Nothing was sent: the changes stay for the operator.
        m_rules.commitFailed();
        break;
    case CommitStart::Sent:
        break;
    }
    return true;
}

void Controller::onCommitted(const QString &answer)
{
    m_commitsEnded = m_commitsStarted;
    // Unless a load has replaced them, the lists are what the server holds now.
    if (m_loadsStarted == m_loadsBeforeCommit)
        m_rules.commitSucceeded();
    const bool reload = m_reloadAfterCommit;
    m_awaitingReload = reload;
    qCInfo(lcController, "the server took the changes%s", reload ? "; the reload follows the answer" : "");
    refreshBusy();
    const QPointer<Controller> alive(this);
    Q_EMIT committed(answer);
    if (!alive)
        return;
    // The operator reads the answer first; the reload follows its box.
    if (holdsMoreThanBlanks(answer))
        Q_EMIT answerShown(answer, reload);
    else
        reloadAfterAnswer();
    if (alive)
        wakeWaits();
}

void Controller::answerClosed()
{
    reloadAfterAnswer();
}

void Controller::reloadAfterAnswer()
{
    if (!m_awaitingReload)
        return;
    m_awaitingReload = false;
    startLoad(m_employeeId, LoadKind::AfterCommit);
}

void Controller::onCommitFailed(const QString &reason, const QString &details)
{
    m_commitsEnded = m_commitsStarted;
    // Nothing is reloaded: every pending change stays for a retry, unless a
    // load asked for during the commit has thrown the changes away.
    const bool kept = m_loadsStarted == m_loadsBeforeCommit;
    if (m_reloadAfterCommit && kept)
        m_rules.commitFailed();
    qCInfo(lcController, "the commit failed%s", kept ? "; the changes are kept" : ", and a load has replaced them");
    refreshBusy();
    const QPointer<Controller> alive(this);
    Q_EMIT commitFailed(reason, details);
    if (alive)
        wakeWaits();
}

bool Controller::waitForLoad(quint64 ticket)
{
    return wait([this, ticket] { return m_loadsEnded >= ticket || m_loadsStarted > ticket; });
}

bool Controller::waitForSave(quint64 ticket)
{
    return wait([this, ticket] { return m_commitsEnded >= ticket; });
}

bool Controller::wait(const std::function<bool()> &done)
{
    if (done())
        return true;
    const QPointer<Controller> alive(this);
    QEventLoop loop;
    m_waits.append({&loop, &done});
    // No input is excluded here: the rest of the host works on, and the
    // control's own widgets hold their input while it is busy.
    loop.exec();
    if (!alive)
        return false;
    m_waits.removeIf([&](const Wait &wait) { return wait.loop == &loop; });
    return true;
}

void Controller::wakeWaits()
{
    for (const Wait &wait : std::as_const(m_waits)) {
        if ((*wait.done)())
            wait.loop->quit();
    }
}

} // namespace VelmoraInternal
