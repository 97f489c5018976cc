// The control's process without a window: it owns the cross-reference being
// edited and the session with the server, builds the server's addresses, and
// runs load, commit, the server's answer and the reload that follows it. The
// widget forwards the operator's and the host's requests, shows what the
// signals below report, and reports back when the operator has closed the
// box with the answer (answerClosed()).
//
// The busy gate: every request that moves centers or saves them, the
// operator's (apply()) and the host's (save(), commit()) alike, is refused
// while the control is busy, so that nothing changes between what a save
// sends and what its answer confirms, nor under a running load. As an event
// filter on the control's own widgets it also eats their mouse and keyboard
// input meanwhile, so that nothing looks clickable that the gate would
// refuse.
//
// Each load and each save gets a ticket; waitForLoad() and waitForSave() run
// the event loop until their exchange has ended, for the members that return
// only then. In design mode (Qt Designer) the addresses are only stored and
// nothing goes to the network.
#pragma once

#include "core/crossreference.h"
#include "core/session.h"

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QEventLoop;

namespace VelmoraInternal {

class Controller : public QObject
{
    Q_OBJECT

public:
    // Where the control stands. Answer lasts from a commit's answer until
    // the operator has closed its box and the reload has started, whatever a
    // host loads meanwhile.
    enum class Phase { Idle, Loading, Committing, Answer };
    Q_ENUM(Phase)

    explicit Controller(QObject *parent = nullptr);
    ~Controller() override;

    CrossReference &rules() { return m_rules; }
    const CrossReference &rules() const { return m_rules; }

    // The employee the next load shows. Saves go to the employee whose lists
    // are shown, whatever was stored since their load.
    void setEmployeeId(qint32 id) { m_employeeId = id; }
    // The same from a host's text: a signed 32-bit decimal number, blanks
    // around it allowed. False, keeping the stored employee, for any other.
    bool setEmployeeId(const QString &text);
    qint32 employeeId() const { return m_employeeId; }
    // The base of every address, used unchanged.
    void setServerName(const QString &name) { m_serverName = name; }
    QString serverName() const { return m_serverName; }
    // Zero or less restores the default time-out.
    void setTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds timeout() const { return m_session.timeout(); }
    void enterDesignMode() { m_designMode = true; }

    // The page that answers the loads, and the one that takes the commits.
    QString loadUrl() const;
    QString commitUrl() const;

    Phase phase() const;
    // A load or a commit runs, or the reload after a commit waits for the
    // operator to close the answer's box. The control takes no input meanwhile.
    bool isBusy() const { return m_busy; }

    // An operator's move, undo, redo or find next on the lists; false, with
    // nothing run, while busy.
    bool apply(const std::function<void(CrossReference &)> &request);
    // Installed on the control's widgets: eats mouse, wheel, keyboard, touch,
    // context-menu and drag-and-drop events while busy; everything else
    // (paint, timers, focus, the network) goes on.
    bool eventFilter(QObject *watched, QEvent *event) override;

    // Throws away what was not committed and loads both lists from the
    // server. Returns the load's ticket.
    quint64 load();
    // F5: reloads the shown employee's lists and makes every pending move
    // again whose center still stands where the move took it from (see
    // CrossReference::refill()). The lists stay as they are until the new
    // ones are in, and a reload that fails keeps them. Refused while busy.
    void reloadKeepingChanges();
    // Posts the pending changes without a reload afterwards. Returns the
    // save's ticket, or 0 when nothing was sent: nothing pending, too many
    // changes, design mode, or refused while busy (saveRefused(), and
    // *refused set).
    quint64 save(bool *refused = nullptr);
    // SaveToDatabase(): save(), then a wait for its answer. True when nothing
    // is left pending (the server took the changes, or there were none);
    // false when refused while busy, after a failure, or when the controller
    // was destroyed during the wait: the caller must not touch what owned it
    // then.
    bool saveAndWait();
    // "Commit to Database": posts the pending changes, then the answer, then
    // the reload. With nothing pending it only reloads. False, with
    // saveRefused(), while busy.
    bool commit();
    // The operator closed the box with a commit's answer.
    void answerClosed();

    // Run the event loop (no input excluded) until the load with that ticket
    // has ended or a newer load has replaced it, or until the save has
    // ended. False when the controller was destroyed meanwhile: the caller
    // must not touch what owned it any more.
    bool waitForLoad(quint64 ticket);
    bool waitForSave(quint64 ticket);

Q_SIGNALS:
    // A load starts: the lists are empty until it ends.
    void loadStarted();
    void loaded();
    // listsKept: the lists and their pending changes are still shown (a
    // reload that kept the changes failed).
    void loadFailed(const QString &reason, bool listsKept);
    // After loaded(), for a commit's reload and for reloadKeepingChanges():
    // what the reload found changed since.
    void reloadReported(const VelmoraInternal::ReloadReport &report);
    // The server took a commit. When answerShown() follows, the reload waits
    // for answerClosed().
    void committed(const QString &answer);
    // Show the server's answer; reloadFollows says whether a reload waits for
    // the box to close.
    void answerShown(const QString &answer, bool reloadFollows);
    // reason says what went wrong; details carry the server's own words.
    void commitFailed(const QString &reason, const QString &details);
    // A commit was refused before anything was sent: more changes than one
    // commit may carry.
    void tooManyChanges();
    // A save or a commit came while busy: nothing was sent.
    void saveRefused();
    void busyChanged(bool busy);

private:
    // A reload after a commit compares the new lists with what was saved; a
    // reload that keeps the changes also makes the pending moves again.
    enum class LoadKind { Fresh, AfterCommit, KeepingChanges };
    quint64 startLoad(qint32 employeeId, LoadKind kind);
    QString loadUrl(qint32 employeeId) const;

    enum class CommitStart { Sent, NothingToSend, TooManyChanges };
    bool refusedWhileBusy();
    CommitStart startCommit(bool reloadAfter);
    void onLoaded(const CenterDocument &document);
    void onLoadFailed(const QString &reason);
    void onCommitted(const QString &answer);
    void onCommitFailed(const QString &reason, const QString &details);
    void loadEnded();
    void reloadAfterAnswer();
    void refreshBusy();
    void logPhase();
    bool wait(const std::function<bool()> &done);
    void wakeWaits();

    CrossReference m_rules;
    Session m_session;
    qint32 m_employeeId = 0;
    qint32 m_shownEmployeeId = 0;   // whose lists the last fill showed
    qint32 m_loadingEmployeeId = 0; // whose lists the newest load fetches
    // What the newest load compares with, unless it is a fresh one.
    struct Reload
    {
        LoadKind kind;
        ListsBefore before;
    };
    std::optional<Reload> m_reload;
    QString m_serverName;
    bool m_designMode = false;
    bool m_busy = false;
    Phase m_loggedPhase = Phase::Idle;

    quint64 m_loadsStarted = 0;
    quint64 m_loadsEnded = 0;
    quint64 m_commitsStarted = 0;
    quint64 m_commitsEnded = 0;
    // Of the running commit: whether the reload follows it, and how many
    // loads had started when it began (a later one has thrown its changes away).
    bool m_reloadAfterCommit = false;
    quint64 m_loadsBeforeCommit = 0;
    bool m_awaitingReload = false; // the answer is shown, the reload not started

    struct Wait
    {
        QEventLoop *loop;
        const std::function<bool()> *done;
    };
    QList<Wait> m_waits;
};

} // namespace VelmoraInternal
