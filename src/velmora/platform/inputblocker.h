// Holds off mouse and keyboard input to one widget and its children while a
// load or a save waits for the server, so that no click can reach lists that
// are about to be replaced. Paint, timer and network events go on, and the
// rest of the host application keeps working.
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace VelmoraInternal {

class InputBlocker : public QObject
{
public:
    explicit InputBlocker(QWidget *guarded);
    // Input that was queued meanwhile is delivered (and eaten for the guarded
    // widget) before the blocker goes.
    ~InputBlocker() override;

    static bool isUserInput(QEvent::Type type);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_guarded;
};

} // namespace VelmoraInternal
