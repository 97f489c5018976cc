// The control's insides: the child widgets, the window-free rules and the
// session they are shown over, and the handlers that connect them. The
// handlers forward input to the rules and apply the state the rules decide.
#pragma once

#include <velmora/velmora.h>

#include "core/crossreference.h"
#include "core/session.h"

#include <QList>
#include <QMessageBox>

#include <functional>
#include <memory>

class QAction;
class QEventLoop;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace VelmoraInternal {
class CenterListView;
}

class Velmora::Private
{
public:
    explicit Private(Velmora *control);
    ~Private();

    void setupUi();
    void connectUi();
    void fitToFont();
    void applyState();
    VelmoraInternal::CenterListView *view(VelmoraInternal::Side side) const;

    // Exchanges with the server. Each start returns a ticket that wait()
    // can wait for.
    quint64 startLoad();
    enum class CommitStart { Sent, NothingToSend, Refused, AlreadyRunning };
    CommitStart startCommit(bool reloadAfter);
    void commitFromButton();
    void loadEnded();
    void onLoaded(const VelmoraInternal::CenterDocument &document);
    void onLoadFailed(const QString &reason);
    void onCommitted(const QString &answer);
    void onCommitFailed(const QString &reason, const QString &details);
    void refreshBusy();

    // Runs the event loop until done() holds. Returns false when the control
    // was deleted meanwhile: then the caller must not touch it any more.
    bool wait(const std::function<bool()> &done);
    // After each exchange: ends the waits whose condition now holds.
    void wakeWaits();

    void find();
    void showMessage(const QString &text, QMessageBox::Icon icon, const QString &title = QString(),
                     const QString &informativeText = QString(), const std::function<void()> &closed = {});

    Velmora *q;
    VelmoraInternal::CrossReference rules;
    std::unique_ptr<VelmoraInternal::Session> session;

    qint32 employeeId = 0;
    QString serverName;
    quint64 loadsStarted = 0;
    quint64 loadsEnded = 0;
    quint64 commitsStarted = 0;
    quint64 commitsEnded = 0;
    bool reloadAfterCommit = false;
    bool awaitingReload = false; // the commit's answer is shown, its reload not started
    bool busy = false;
    bool designMode = false;
    struct Wait
    {
        QEventLoop *loop;
        const std::function<bool()> *done;
    };
    QList<Wait> waits;
    QObject *inputGuard = nullptr;

    QWidget *fraMain = nullptr;
    QGroupBox *fraFind = nullptr;
    QGroupBox *Frame1 = nullptr;
    QLineEdit *searchBox[2] = {nullptr, nullptr}; // by FindMode: txtVendorName, txtVendorID
    QRadioButton *findOption[2] = {nullptr, nullptr};
    QRadioButton *listOption[2] = {nullptr, nullptr};
    QPushButton *findButton = nullptr;
    QLabel *versionLabel = nullptr;
    QPushButton *removeButton = nullptr;
    QPushButton *addButton = nullptr;
    QPushButton *addAllButton = nullptr;
    QPushButton *removeAllButton = nullptr;
    QPushButton *commitButton = nullptr;
    QProgressBar *progress = nullptr;
    VelmoraInternal::CenterListView *lists[2] = {nullptr, nullptr};
    QLabel *captions[2] = {nullptr, nullptr};
    QMenu *removeMenu = nullptr;
    QAction *removeAction = nullptr;
};
