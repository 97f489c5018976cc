#include "core/changeset.h"

#include "core/centerlistmodel.h"
#include "core/statements.h"
#include "core/urlencoder.h"

namespace VelmoraInternal {

namespace {

using VelmoraStatements::DeleteHead;
using VelmoraStatements::DeleteIn;
using VelmoraStatements::InsertHead;
using VelmoraStatements::InsertTail;

constexpr QByteArrayView FieldName = "SQL=";
constexpr char FieldEnd = '&';

} // namespace

QString ChangeSet::insertStatement(qint32 employeeId, QStringView centerId)
{
    const QString employee = QString::number(employeeId);
    QString sql;
    sql.reserve(InsertHead.size() + employee.size() + 1 + centerId.size() + InsertTail.size());
    sql.append(InsertHead).append(employee).append(u',').append(centerId).append(InsertTail);
    return sql;
}

QString ChangeSet::deleteStatement(qint32 employeeId, const QStringList &ids)
{
    const QString employee = QString::number(employeeId);
    qsizetype size = DeleteHead.size() + employee.size() + DeleteIn.size() + 1;
    for (const QString &id : ids)
        size += id.size() + 1;

    QString sql;
    sql.reserve(size);
    sql.append(DeleteHead).append(employee).append(DeleteIn);
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (i > 0)
            sql.append(u',');
        sql.append(ids.at(i));
    }
    sql.append(VelmoraStatements::DeleteEnd);
    return sql;
}

bool ChangeSet::buildStatements(qint32 employeeId, const CenterListModel &selected, const CenterListModel &nonSelected,
                                QStringList *statements)
{
    statements->clear();

    QStringList inserts;
    for (int row = 0; row < selected.count(); ++row) {
        const CenterItem &item = selected.at(row);
        if (!item.isPending())
            continue;
        // Checked before adding, so an oversized change set never builds
        // more than the limit.
        if (inserts.size() >= MaxCenters)
            return false;
        inserts.append(insertStatement(employeeId, item.id.text()));
    }

    QStringList deleteIds;
    for (int row = 0; row < nonSelected.count(); ++row) {
        const CenterItem &item = nonSelected.at(row);
        if (item.isPending())
            deleteIds.append(item.id.text());
    }
    if (!deleteIds.isEmpty()) {
        if (inserts.size() >= MaxCenters)
            return false;
        inserts.append(deleteStatement(employeeId, deleteIds));
    }

    *statements = std::move(inserts);
    return true;
}

QByteArray ChangeSet::formBody(const QStringList &statements)
{
    // An encoded unit takes at most three bytes (plus one byte of slack for
    // the encoder); one reservation up front keeps the body to a single
    // allocation.
    qsizetype bound = 1;
    for (const QString &sql : statements)
        bound += FieldName.size() + 3 * sql.size() + 1;

    QByteArray body;
    body.reserve(bound);
    for (const QString &sql : statements) {
        body.append(FieldName);
        appendUrlEncoded(body, sql);
        body.append(FieldEnd);
    }
    return body;
}

} // namespace VelmoraInternal
