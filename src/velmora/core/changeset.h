// The pending changes of the two lists as SQL statements on
// CenterEmployeeCrossReference, and the form body that carries them.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace VelmoraInternal {

class ChangeSet
{
public:
    // At most this many statements go into one save (signed 16-bit counter).
    static constexpr int MaxStatements = 32767;

    // Items are offered one at a time in list order through a callback so that
    // the lists need not be copied: itemAt(i) returns {ID, key} for 0 <= i < count.
    using ItemAt = std::function<std::pair<QString, QString>(int)>;

    // One INSERT per marked item of the selected list, in its order, then at
    // most one DELETE with the marked IDs of the unassigned list in its order.
    // Returns false (and leaves *statements empty) when more than
    // MaxStatements would be built.
    static bool buildStatements(qint32 employeeId,
                                int selectedCount, const ItemAt &selectedAt,
                                int nonSelectedCount, const ItemAt &nonSelectedAt,
                                QStringList *statements);

    static QString insertStatement(qint32 employeeId, QStringView centerId);
    // ids: the IDs of the delete list, at least one.
    static QString deleteStatement(qint32 employeeId, const QStringList &ids);

    // "SQL=" + urlEncode(statement) + "&" for each statement, concatenated.
    static QByteArray formBody(const QStringList &statements);
};

} // namespace VelmoraInternal
