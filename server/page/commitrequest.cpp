#include "page/commitrequest.h"

#include "page/statementparser.h"

#include "protocol/page.h"

namespace VelmoraServerCore {

namespace {

using VelmoraProtocol::FieldName;

// The name of a field that is not "SQL", short and printable.
QString shownName(const QString &name)
{
    QString shown = name.left(32);
    for (QChar &c : shown) {
        if (!c.isPrint())
            c = u'?';
    }
    return shown;
}

ChangeList::Change changeOf(Statement &&statement)
{
    if (const auto *insert = std::get_if<InsertStatement>(&statement))
        return ChangeList::Assign{insert->center};
    return ChangeList::Remove{std::move(std::get<DeleteStatement>(statement).centers)};
}

} // namespace

QString CommitRequest::fieldName(int number)
{
    return QStringLiteral("%1 field %2").arg(FieldName).arg(number);
}

bool CommitRequest::fromFields(const QList<FormField> &fields, ChangeList *changes, Refusal *refusal)
{
    if (fields.isEmpty()) {
        *refusal = {400, QStringLiteral("the request holds no %1 field").arg(FieldName)};
        return false;
    }
    ChangeList result;
    result.changes.reserve(fields.size());
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const int number = int(i) + 1;
        const FormField &field = fields[i];
        if (field.name != FieldName) {
            *refusal = {400, QStringLiteral("field %1 \"%2\": only \"%3\" fields are accepted")
                                 .arg(number).arg(shownName(field.name), FieldName)};
            return false;
        }
        Statement statement;
        QString reason;
        if (!StatementParser::parse(field.value, &statement, &reason)) {
            *refusal = {400, QStringLiteral("%1: %2").arg(fieldName(number), reason)};
            return false;
        }
        const qint32 employee = StatementParser::employeeOf(statement);
        if (i == 0) {
            result.employee = employee;
        } else if (employee != result.employee) {
            *refusal = {400, QStringLiteral("%1: names employee %2, but field 1 names employee %3; one request "
                                            "changes one employee")
                                 .arg(fieldName(number)).arg(employee).arg(result.employee)};
            return false;
        }
        if (employee < FirstChangeableEmployee) {
            *refusal = {403, QStringLiteral("%1: the assignments of employee %2 cannot be changed; employee "
                                            "numbers start at %3")
                                 .arg(fieldName(number)).arg(employee).arg(FirstChangeableEmployee)};
            return false;
        }
        result.changes.append(changeOf(std::move(statement)));
    }
    *changes = std::move(result);
    return true;
}

} // namespace VelmoraServerCore
