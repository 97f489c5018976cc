// The keys that belong to the whole control rather than to one child: undo,
// redo, find next and find previous. Watching the control's children, it
// claims them as a widget claims its own keys (by accepting the
// ShortcutOverride), so a host's window may keep an action on the same key
// for the rest of the window without the two becoming ambiguous.
#pragma once

#include <QKeySequence>
#include <QObject>

#include <functional>
#include <vector>

class QWidget;

namespace VelmoraInternal {

class ControlKeys : public QObject
{
public:
    struct Binding
    {
        QKeySequence::StandardKey key;
        // A find box has undo and redo of its own text: they stay there.
        bool inTextBoxes;
        std::function<void()> run;
    };

    // Watches control's children as they are now.
    ControlKeys(QWidget *control, std::vector<Binding> bindings);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::vector<Binding> m_bindings;
};

} // namespace VelmoraInternal
