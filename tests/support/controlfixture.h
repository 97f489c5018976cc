// The control as the widget suites drive it: its children by object name,
// its two lists, and a load of two lists served by a page server.
#pragma once

#include "pageserver.h"

#include <velmora/velmora.h>

#include <QSignalSpy>
#include <QTreeView>

template<typename T = QWidget>
T *child(const QWidget &control, const char *name)
{
    T *found = control.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

// The unassigned list (side 0) or the assigned one (side 1).
inline QTreeView *list(const QWidget &control, int side)
{
    return child<QTreeView>(control, side == 0 ? "lstCenters" : "lstSelectedCenters");
}

// True once the control, busy from the call on, has loaded the lists.
inline bool loadInto(Velmora &control, PageServer &page, const Centers &nonSelected, const Centers &selected)
{
    page.answer(false, {200, centerDocument(nonSelected, selected)});
    QSignalSpy loaded(&control, &Velmora::loaded);
    control.load(page.address());
    return control.isBusy() && loaded.wait(10000);
}
