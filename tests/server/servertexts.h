// Statement texts and commit bodies exactly as the control builds them.
#pragma once

#include "core/changeset.h"

namespace ServerTexts {

inline QString insert(qint32 employee, qint32 center)
{
    return VelmoraInternal::ChangeSet::insertStatement(employee, QString::number(center));
}

inline QString remove(qint32 employee, const QList<qint32> &centers)
{
    QStringList ids;
    for (qint32 c : centers)
        ids << QString::number(c);
    return VelmoraInternal::ChangeSet::deleteStatement(employee, ids);
}

inline std::string body(const QStringList &statements)
{
    return VelmoraInternal::ChangeSet::formBody(statements).toStdString();
}

} // namespace ServerTexts
