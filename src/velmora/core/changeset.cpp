#include "core/changeset.h"

#include "core/centerlistmodel.h"
#include "protocol/formencoding.h"
#include "protocol/page.h"
#include "protocol/statements.h"

namespace VelmoraInternal {

namespace {

using VelmoraProtocol::DeleteEnd;
using VelmoraProtocol::DeleteHead;
using VelmoraProtocol::DeleteIn;
using VelmoraProtocol::FieldEnd;
using VelmoraProtocol::FieldName;
using VelmoraProtocol::InsertHead;
using VelmoraProtocol::InsertTail;
using VelmoraProtocol::MaxCenters;
using VelmoraProtocol::Separator;

} // namespace

QString ChangeSet::insertStatement(qint32 employeeId, QStringView centerId)
{
    const QString employee = QString::number(employeeId);
    QString sql;
    sql.reserve(InsertHead.size() + employee.size() + 1 + centerId.size() + InsertTail.size());
    sql.append(InsertHead).append(employee).append(Separator).append(centerId).append(InsertTail);
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
            sql.append(Separator);
        sql.append(ids.at(i));
    }
    sql.append(DeleteEnd);
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
        bound += FieldName.size() + 1 + 3 * sql.size() + 1;

    QByteArray body;
    body.reserve(bound);
    for (const QString &sql : statements) {
        body.append(FieldName.latin1(), FieldName.size()).append('=');
        VelmoraProtocol::appendUrlEncoded(body, sql);
        body.append(FieldEnd);
    }
    return body;
}

} // namespace VelmoraInternal
