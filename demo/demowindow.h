// The demo's main window: the control as a host embeds it, with the two
// values a host assigns (employee number, server address), a Load action
// that assigns them in the host's order, and a status bar for the reasons of
// failed loads.
#pragma once

#include <QMainWindow>

class QLineEdit;
class Velmora;

class DemoWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit DemoWindow(QWidget *parent = nullptr);

    void setEmployee(const QString &employee);
    void setServer(const QString &server);
    Velmora *control() const { return m_control; }

    // Assigns EmployeeID, then ServerName (which loads). Returns false when
    // the employee number is refused or the load reported a failure.
    bool load();
    QString lastFailure() const { return m_lastFailure; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // With changes pending, asks Save / Discard / Cancel. True when the
    // window may go on (saved or discarded), false to stay.
    bool settlePendingChanges();

    Velmora *m_control = nullptr;
    QLineEdit *m_employee = nullptr;
    QLineEdit *m_server = nullptr;
    QString m_lastFailure;
};
