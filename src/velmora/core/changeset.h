// The pending changes of the two lists as SQL statements on
// CenterEmployeeCrossReference, and the form body that carries them.
#pragma once

#include "protocol/limits.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace VelmoraInternal {

class CenterListModel;

namespace ChangeSet {

// One INSERT per pending row of the selected list, in its order, then at
// most one DELETE with the pending IDs of the unassigned list in its order.
// Returns false (and leaves *statements empty) when more than MaxCenters
// would be built.
bool buildStatements(qint32 employeeId, const CenterListModel &selected, const CenterListModel &nonSelected,
                     QStringList *statements);

QString insertStatement(qint32 employeeId, QStringView centerId);
// ids: the IDs of the delete list, at least one.
QString deleteStatement(qint32 employeeId, const QStringList &ids);

// "SQL=" + urlEncode(statement) + "&" for each statement, concatenated.
QByteArray formBody(const QStringList &statements);

} // namespace ChangeSet

} // namespace VelmoraInternal
