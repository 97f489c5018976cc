// What one commit changes for one employee, in the order it was asked for:
// each change assigns one center or removes the assignments of listed
// centers. The store applies such a list whatever it came from.
#pragma once

#include <QList>

#include <variant>

namespace VelmoraServerCore {

struct ChangeList
{
    struct Assign
    {
        qint32 center = 0;
    };
    struct Remove
    {
        QList<qint32> centers; // in the order given, at least one
    };
    using Change = std::variant<Assign, Remove>;

    qint32 employee = 0;
    QList<Change> changes;
};

} // namespace VelmoraServerCore
