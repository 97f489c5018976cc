// A work center as the database holds it, and the two lists of the center
// document for one employee.
#pragma once

#include <QList>
#include <QString>

namespace VelmoraServerCore {

struct Center
{
    qint32 id = 0;
    QString name;
    bool active = true;
};

// The two lists of the center document for one employee: active centers
// only, each list in ascending ID order.
struct CenterLists
{
    QList<Center> nonSelected;
    QList<Center> selected;
};

} // namespace VelmoraServerCore
