#include "shell/controlkeys.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>

namespace VelmoraInternal {

ControlKeys::ControlKeys(QWidget *control, std::vector<Binding> bindings)
    : QObject(control)
    , m_bindings(std::move(bindings))
{
    for (QWidget *child : control->findChildren<QWidget *>())
        child->installEventFilter(this);
}

bool ControlKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ShortcutOverride && event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool textBox = qobject_cast<QLineEdit *>(watched) != nullptr;
    for (const Binding &binding : m_bindings) {
        if (!key->matches(binding.key) || (textBox && !binding.inTextBoxes))
            continue;
        // The override, accepted, turns the key into a key press for the
        // focus widget instead of a shortcut of the window.
        event->accept();
        if (event->type() == QEvent::KeyPress)
            binding.run();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace VelmoraInternal
