#include "inputblocker.h"

#include <QCoreApplication>
#include <QEvent>

namespace VelmoraInternal {

InputBlocker::InputBlocker(QWidget *guarded)
    : m_guarded(guarded)
{
    QCoreApplication::instance()->installEventFilter(this);
}

InputBlocker::~InputBlocker()
{
    // Window-system input held back by the local loop arrives now; the filter
    // is still in place, so what was aimed at the control is dropped.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::instance()->removeEventFilter(this);
}

bool InputBlocker::isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::Wheel:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

bool InputBlocker::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_guarded || !isUserInput(event->type()) || !watched->isWidgetType())
        return false;
    auto *widget = static_cast<QWidget *>(watched);
    return widget == m_guarded || m_guarded->isAncestorOf(widget);
}

} // namespace VelmoraInternal
