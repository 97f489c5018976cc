#include "commitrequest.h"

namespace VelmoraServerCore {

bool CommitRequest::fromFields(const QList<FormField> &fields, CommitRequest *request, Refusal *refusal)
{
    if (fields.isEmpty()) {
        *refusal = {400, QStringLiteral("the request holds no SQL field")};
        return false;
    }
    CommitRequest result;
    result.m_entries.reserve(fields.size());
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const int number = int(i) + 1;
        const FormField &field = fields[i];
        if (field.name != u"SQL") {
            QString shown = field.name.left(32);
            for (QChar &c : shown) {
                if (!c.isPrint())
                    c = u'?';
            }
            *refusal = {400, QStringLiteral("field %1 \"%2\": only \"SQL\" fields are accepted").arg(number).arg(shown)};
            return false;
        }
        Entry entry{number, {}};
        QString reason;
        if (!StatementParser::parse(field.value, &entry.statement, &reason)) {
            *refusal = {400, QStringLiteral("SQL field %1: %2").arg(number).arg(reason)};
            return false;
        }
        const qint32 employee = StatementParser::employeeOf(entry.statement);
        if (i == 0) {
            result.m_employee = employee;
        } else if (employee != result.m_employee) {
            *refusal = {400, QStringLiteral("SQL field %1: names employee %2, but field 1 names employee %3; "
                                            "one request changes one employee")
                                 .arg(number).arg(employee).arg(result.m_employee)};
            return false;
        }
        if (employee < FirstChangeableEmployee) {
            *refusal = {403, QStringLiteral("SQL field %1: the assignments of employee %2 cannot be changed; "
                                            "employee numbers start at %3")
                                 .arg(number).arg(employee).arg(FirstChangeableEmployee)};
            return false;
        }
        result.m_entries.append(std::move(entry));
    }
    *request = std::move(result);
    return true;
}

} // namespace VelmoraServerCore
