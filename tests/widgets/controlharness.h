// Shared helpers for the suites that drive the real control: typed access to
// its children by object name, center documents, clicks on list rows, and a
// watcher that answers (and records) the control's message boxes and pop-ups.
#pragma once

#include <velmora/velmora.h>

#include "platform/centerlistview.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <utility>
#include <vector>

namespace Harness {

using VelmoraInternal::CenterListView;

template<typename T>
T *child(const Velmora &control, const char *name)
{
    T *found = control.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

inline CenterListView *lstCenters(const Velmora &c) { return child<CenterListView>(c, "lstCenters"); }
inline CenterListView *lstSelected(const Velmora &c) { return child<CenterListView>(c, "lstSelectedCenters"); }
inline QPushButton *button(const Velmora &c, const char *name) { return child<QPushButton>(c, name); }
inline QRadioButton *option(const Velmora &c, const char *name) { return child<QRadioButton>(c, name); }
inline QLabel *label(const Velmora &c, const char *name) { return child<QLabel>(c, name); }
inline QLineEdit *edit(const Velmora &c, const char *name) { return child<QLineEdit>(c, name); }

using Center = std::pair<QString, QString>; // ID, name

// A center document in the shape the server page sends.
QByteArray document(int nonSelectedCount, int selectedCount,
                    const std::vector<Center> &nonSelected, const std::vector<Center> &selected);
QByteArray document(const std::vector<Center> &nonSelected, const std::vector<Center> &selected);

// IDs of a list in display order, and keys.
QStringList ids(const CenterListView *list);
QStringList keys(const CenterListView *list);
QStringList selectedIds(const CenterListView *list);

// The state of the five command buttons as a string "add,addAll,delete,removeAll,commit"
// with 1 for enabled, e.g. "10001".
QString buttonStates(const Velmora &c);

// Mouse on a row of a list (0-based display position), in the viewport.
QPoint rowCenter(const CenterListView *list, int row);
void clickRow(CenterListView *list, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
              Qt::MouseButton button = Qt::LeftButton);
void doubleClickRow(CenterListView *list, int row);
void clickBlank(CenterListView *list);
void clickHeader(CenterListView *list, int headerIndexFromOne);
int rowOf(const CenterListView *list, const QString &id);

struct ShownMessage
{
    QString title;
    QString text;
    QString informativeText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Accepts every message box that becomes the active modal widget and keeps
// what it showed; a pop-up menu is answered by triggering the action named
// in menuChoice (or closed when that is empty).
class ModalWatcher : public QObject
{
public:
    ModalWatcher();
    QList<ShownMessage> messages;
    QStringList menus; // the action texts of every pop-up seen
    QString menuChoice;
    std::function<void()> whileModal; // runs once inside the next message box

private:
    QTimer m_timer;
};

} // namespace Harness
