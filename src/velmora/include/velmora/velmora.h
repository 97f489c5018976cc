// Velmora Cross Reference: an embeddable control with which an operator keeps
// track of which work centers are assigned to one employee.
//
// A host creates the control, assigns the employee number with
// setEmployeeID() and then the base address of the web server with
// setServerName(), which loads the employee's centers from the server page
// Velmora.asp. The operator moves centers between the two lists and commits;
// the control posts the pending changes to the same page and reloads.
#pragma once

#include <velmora/velmora_export.h>

#include <QString>
#include <QWidget>

#include <chrono>
#include <memory>

class VELMORA_EXPORT Velmora : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int timeout READ timeoutMs WRITE setTimeoutMs)

public:
    explicit Velmora(QWidget *parent = nullptr);
    ~Velmora() override;

    // Stores the employee whose centers the next load shows. Returns false,
    // keeping the stored value, when the text is not a signed 32-bit number.
    // Nothing is loaded.
    bool setEmployeeID(const QString &ptEmployeeID);

    // Stores the base address of the server (used unchanged: no slash is added
    // or removed) and loads both lists from it. A load that fails leaves both
    // lists empty and emits loadFailed(); it never raises to the host.
    void setServerName(const QString &PtServerName);

    // Posts the pending changes to the server page and waits for its answer,
    // keeping the user interface painted. Does nothing when nothing is pending.
    void SaveToDatabase();

    // Form URL encoding of theData on Windows-1252 bytes, as the commit body
    // uses it.
    QString urlEncode(const QString &theData) const;

    // How long a load or a save waits for the server before it fails
    // (30 seconds unless the host changes it).
    void setTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds timeout() const;

    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

Q_SIGNALS:
    // A load did not complete; reason is meant for the operator.
    void loadFailed(const QString &reason);

private:
    int timeoutMs() const;
    void setTimeoutMs(int ms);

    class Private;
    std::unique_ptr<Private> d;
    Q_DISABLE_COPY(Velmora)
};
