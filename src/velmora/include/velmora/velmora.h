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
#include <QWidget>

#include <chrono>
#include <memory>

class VELMORA_EXPORT Velmora : public QWidget
{
    Q_OBJECT
    // What a form may set in Qt Designer, in the order a generated form sets
    // them: the time-out first, the employee before the server. Assigning
    // serverName is load(), so that a form's setupUi() does not wait.
    Q_PROPERTY(int timeout READ timeoutMs WRITE setTimeoutMs DESIGNABLE true)
    Q_PROPERTY(QString employeeID READ employeeIDText WRITE setEmployeeID DESIGNABLE true)
    Q_PROPERTY(QString serverName READ serverName WRITE load DESIGNABLE true)
    Q_PROPERTY(bool busy READ isBusy NOTIFY busyChanged DESIGNABLE false)

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
    // answer is in (or at once when nothing is pending, a commit is already
    // running, or the control is deleted meanwhile). Does not reload. Waits
    // as setServerName() does.
    void SaveToDatabase();

    // Form URL encoding of text on Windows-1252 bytes, as the commit body
    // uses it.
    QString urlEncode(const QString &text) const;

    // How long a load or a save waits for a silent server before it fails
    // (30 seconds unless the host changes it).
    void setTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds timeout() const;

    // A load or a commit is running; the control takes no input meanwhile.
    bool isBusy() const;

    QSize sizeHint() const override;

public Q_SLOTS:
    // Stores the server and starts a load; returns at once. loaded() or
    // loadFailed() follows, unless a newer load replaces this one.
    void load(const QString &serverName);
    // What "Commit to Database" does: posts the pending changes, shows the
    // server's answer, then reloads. Returns at once; committed() or
    // commitFailed() follows (neither when nothing is pending).
    void commit();

Q_SIGNALS:
    // Both lists are filled.
    void loaded();
    // A load did not complete; reason is meant for the operator.
    void loadFailed(const QString &reason);
    // The server took the commit and answered with answer; the reload follows.
    void committed(const QString &answer);
    // The commit did not go through; every pending change is kept.
    void commitFailed(const QString &reason);
    void busyChanged(bool busy);

protected:
    void changeEvent(QEvent *event) override;

private:
    int timeoutMs() const;
    void setTimeoutMs(int ms);
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
