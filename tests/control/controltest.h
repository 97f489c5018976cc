// Helpers for the suites that drive the real control: children by their
// object names, list contents, button states, rows to click and message boxes.
#pragma once

#include <QMessageBox>
#include <QTreeView>
#include <QtTest>

namespace ControlTest {

template<typename T = QWidget>
inline T *child(const QWidget &control, const char *name)
{
    T *found = control.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

inline QTreeView *list(const QWidget &control, int side)
{
    return child<QTreeView>(control, side == 0 ? "lstCenters" : "lstSelectedCenters");
}

inline QString ids(const QTreeView *view)
{
    QStringList out;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        QString id = view->model()->index(row, 0).data().toString();
        if (view->selectionModel()->isRowSelected(row, {}))
            id += u'*';
        out.append(id);
    }
    return out.join(u' ');
}

inline QString enabled(const QWidget &control)
{
    QString bits;
    for (const char *name : {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll", "cmdCommit", "cmdFind"})
        bits += child(control, name)->isEnabled() ? u'1' : u'0';
    return bits;
}

inline QPoint rowPoint(QTreeView *view, int row)
{
    return view->visualRect(view->model()->index(row, 1)).center();
}

inline QMessageBox *messageBox(const QWidget &control)
{
    QMessageBox *box = nullptr;
    // A box that was closed goes later; only a shown one counts.
    (void)QTest::qWaitFor([&] {
        for (QMessageBox *shown : control.findChildren<QMessageBox *>(QStringLiteral("velmoraMessageBox"))) {
            if (shown->isVisible())
                box = shown;
        }
        return box != nullptr;
    }, 5000);
    return box;
}

} // namespace ControlTest

using namespace ControlTest;
