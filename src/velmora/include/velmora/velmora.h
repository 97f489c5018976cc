// Velmora Cross Reference: an embeddable control with which an operator keeps
// track of which work centers are assigned to one employee.
//
// A host creates the control, assigns the employee number with
// setEmployeeID() and then the base address of the web server with load()
// (or the waiting setServerName()), which loads the employee's centers from
// the server page Velmora.asp. The operator moves centers between the two
// lists and commits; the control posts the pending changes to the same page
// and reloads.
#pragma once

#include <velmora/velmora_export.h>

#include <QString>
#include <QStringList>
#include <QWidget>

#include <chrono>
#include <memory>

class VELMORA_EXPORT Velmora : public QWidget
{
    Q_OBJECT
    // What a form may set in Qt Designer, in the order a generated form sets
    // them: the time-out first, the employee before the server. A form built
    // by uic calls set<Name>() for each property (or setProperty() where the
    // .ui says stdset="0"), so every designable property has a setter of
    // that name which returns at once. The server is designed as
    // serverAddress: its setter starts the load and returns, whereas
    // setServerName(), named for the serverName property, waits for the load
    // by contract. serverName remains a property for setProperty(), which
    // reaches load() and so does not wait either.
    Q_PROPERTY(int timeout READ timeoutMs WRITE setTimeout DESIGNABLE true)
    Q_PROPERTY(QString employeeID READ employeeIDText WRITE setEmployeeID DESIGNABLE true)
    Q_PROPERTY(QString serverAddress READ serverName WRITE setServerAddress DESIGNABLE true)
    Q_PROPERTY(QString serverName READ serverName WRITE load DESIGNABLE false)
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged DESIGNABLE false)
    Q_PROPERTY(bool pendingChanges READ hasPendingChanges NOTIFY pendingChangesChanged DESIGNABLE false)

public:
    explicit Velmora(QWidget *parent = nullptr);
    ~Velmora() override;

    // Stores the employee whose centers the next load shows. Returns false,
    // keeping the stored value, when the text is not a signed 32-bit number.
    // Nothing is loaded.
    bool setEmployeeID(const QString &employeeId);
    qint32 employeeID() const;

    // Stores the base address of the server (used unchanged: no slash is
    // added or removed), loads both lists from it and returns when that load
    // has ended: filled, failed (loadFailed()), or replaced by a newer load.
    // While it waits, the host's event loop runs on; the control takes no
    // input. If the control is deleted meanwhile, it returns at once.
    void setServerName(const QString &serverName);
    QString serverName() const;

    // Posts the pending changes to the server page and returns when the
    // answer is in (or at once when nothing is pending, or the control is
    // deleted meanwhile). Does not reload. Waits as setServerName() does.
    // While the control is busy (isBusy()) nothing is sent: it emits
    // saveRefused() and returns false. Otherwise it returns whether nothing
    // is left pending: true after the server took the changes or when there
    // were none, false after a failure (commitFailed()) or when the control
    // was deleted meanwhile.
    bool SaveToDatabase();

    // Form URL encoding of text on Windows-1252 bytes, as the commit body
    // uses it.
    QString urlEncode(const QString &text) const;

    // How long a load or a save may take in all, for a silent server and a
    // slow one alike, before it fails (30 seconds unless the host changes
    // it; zero or less restores that).
    void setTimeout(std::chrono::milliseconds timeout);
    void setTimeout(int milliseconds);
    std::chrono::milliseconds timeout() const;

    // A load or a save is running, or the box with a commit's answer is
    // open and the reload waits for it. Meanwhile the control refuses every
    // move, undo and redo, and every save or commit, the host's included.
    bool isBusy() const;

    // The lists differ from what the server holds: the operator has moved
    // centers and not saved them. A move and its move back cancel; a load
    // ends it, and a save the server took makes what it saved the base that
    // later moves are pending against. The control's windowModified follows it.
    bool hasPendingChanges() const;

    QSize sizeHint() const override;

public Q_SLOTS:
    // Stores the server and starts a load; returns at once. loaded() or
    // loadFailed() follows, unless a newer load replaces this one.
    void load(const QString &serverName);
    // The serverAddress property's setter, for forms: the same as load().
    void setServerAddress(const QString &serverName);
    // What "Commit to Database" does: posts the pending changes, shows the
    // server's answer, then reloads. Returns at once; committed() or
    // commitFailed() follows (neither when nothing is pending), or
    // saveRefused() at once while the control is busy.
    void commit();
    // What F5 does: reloads the shown employee's lists and makes every
    // pending move again whose center still stands where the move took it
    // from; a move another operator has already made is dropped. Returns at
    // once; loaded() and changedByOthers() follow, or loadFailed(), which
    // leaves the lists and their pending changes as they were. Does nothing
    // while busy.
    void reloadKeepingChanges();

Q_SIGNALS:
    // Both lists are filled.
    void loaded();
    // A load did not complete; reason is meant for the operator.
    void loadFailed(const QString &reason);
    // The server took the commit and answered with answer; the reload follows.
    void committed(const QString &answer);
    // The commit did not go through; every pending change is kept. When the
    // request may have reached the server, reason says so.
    void commitFailed(const QString &reason);
    // SaveToDatabase() or commit() came while the control was busy: nothing
    // was sent, and the pending changes stay.
    void saveRefused();
    void busyChanged(bool busy);
    void pendingChangesChanged(bool pending);
    // After a commit's reload, or reloadKeepingChanges(): the IDs of the
    // centers whose place on the server differs from what this control had
    // saved or loaded (another operator's change, shown like a pending
    // change), and of those the server no longer lists as active. Not
    // emitted when there are none.
    void changedByOthers(const QStringList &centerIds);

protected:
    void changeEvent(QEvent *event) override;

private:
    int timeoutMs() const;
    QString employeeIDText() const;

    // In Qt Designer the control only stores what is assigned: it never
    // loads or commits. Set once, by the Designer plugin, as it creates the
    // control.
    friend class VelmoraDesignerPlugin;
    void enterDesignMode();

    class Private;
    std::unique_ptr<Private> d;
    Q_DISABLE_COPY(Velmora)
};
