#include "demowindow.h"

#include <velmora/velmora.h>

#include "protocol/maskedaddress.h"

#include <QAction>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QCloseEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

DemoWindow::DemoWindow(QWidget *parent) : QMainWindow(parent)
{
    // "[*]" shows while the control has changes pending.
    setWindowTitle(tr("Velmora Demo") + QStringLiteral("[*]"));

    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);

    auto *fields = new QHBoxLayout;
    m_employee = new QLineEdit(central);
    m_employee->setObjectName(QStringLiteral("employee"));
    m_employee->setPlaceholderText(tr("employee number"));
    m_employee->setMaximumWidth(120);
    m_server = new QLineEdit(central);
    m_server->setObjectName(QStringLiteral("server"));
    m_server->setPlaceholderText(tr("http://host:port"));
    auto *loadButton = new QPushButton(tr("&Load"), central);
    loadButton->setDefault(true);
    fields->addWidget(new QLabel(tr("Employee:"), central));
    fields->addWidget(m_employee);
    fields->addWidget(new QLabel(tr("Server:"), central));
    fields->addWidget(m_server, 1);
    fields->addWidget(loadButton);
    layout->addLayout(fields);

    m_control = new Velmora(central);
    m_control->setObjectName(QStringLiteral("velmora"));
    layout->addWidget(m_control, 1);
    setCentralWidget(central);

    connect(loadButton, &QPushButton::clicked, this, [this] { load(); });
    connect(m_employee, &QLineEdit::returnPressed, this, [this] { load(); });
    connect(m_server, &QLineEdit::returnPressed, this, [this] { load(); });
    connect(m_control, &Velmora::pendingChangesChanged, this, &QWidget::setWindowModified);
    connect(m_control, &Velmora::loadFailed, this, [this](const QString &reason) {
        m_lastFailure = VelmoraProtocol::maskedAddress(reason);
        statusBar()->showMessage(tr("Load failed: %1").arg(m_lastFailure));
    });

    auto *reload = new QAction(tr("Reload"), this);
    reload->setShortcut(QKeySequence::Refresh);
    connect(reload, &QAction::triggered, this, [this] { load(); });
    addAction(reload);

    statusBar()->showMessage(tr("Enter an employee number and a server address, then Load."));
}

void DemoWindow::setEmployee(const QString &employee)
{
    m_employee->setText(employee);
}

void DemoWindow::setServer(const QString &server)
{
    m_server->setText(server);
}

bool DemoWindow::settlePendingChanges()
{
    if (!m_control->hasPendingChanges())
        return true;
    const auto answer = QMessageBox::question(this, tr("Velmora Demo"), tr("Save the changes to the assigned centers?"),
                                              QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                              QMessageBox::Save);
    // A failed or refused save keeps the changes pending, and the window.
    return answer == QMessageBox::Discard || (answer == QMessageBox::Save && m_control->SaveToDatabase());
}

void DemoWindow::closeEvent(QCloseEvent *event)
{
    if (settlePendingChanges())
        event->accept();
    else
        event->ignore();
}

bool DemoWindow::load()
{
    if (!settlePendingChanges())
        return false;
    m_lastFailure.clear();
    if (!m_control->setEmployeeID(m_employee->text().trimmed())) {
        m_lastFailure = tr("\"%1\" is not an employee number (a signed 32-bit number)").arg(m_employee->text());
        statusBar()->showMessage(m_lastFailure);
        return false;
    }
    statusBar()->showMessage(tr("Loading..."));
    // The control loads while ServerName is assigned and reports a failure
    // through loadFailed, which fills m_lastFailure.
    m_control->setServerName(m_server->text().trimmed());
    if (!m_lastFailure.isEmpty())
        return false;
    const QString server = VelmoraProtocol::maskedAddress(m_server->text().trimmed());
    statusBar()->showMessage(tr("Employee %1 loaded from %2").arg(m_employee->text().trimmed(), server));
    return true;
}
