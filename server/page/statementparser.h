// Recognises the two SQL statements that the control's commit builds on
// CenterEmployeeCrossReference and nothing else. The text is never run: an
// accepted statement becomes numbers that the server binds into statements
// of its own.
//
// Accepted, character for character (E an employee number, C a center ID):
//   INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (E,C,GETDATE() ) <blank>
//   DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=E AND CenterID IN(C,C,...)
// E is plain decimal with an optional '-', C plain decimal and positive, both
// within the signed 32-bit range, without leading zeros, '+' or blanks.
#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <variant>

namespace VelmoraServerCore {

struct InsertStatement
{
    qint32 employee = 0;
    qint32 center = 0;
};

struct DeleteStatement
{
    qint32 employee = 0;
    QList<qint32> centers; // in the order written, at least one
};

using Statement = std::variant<InsertStatement, DeleteStatement>;

namespace StatementParser {

// Returns true and sets *statement, or returns false and sets *reason
// (plain text that says where the text departs from the accepted form).
// Runs in time linear in the length of text.
bool parse(QStringView text, Statement *statement, QString *reason);

// A whole number written as the control writes one: optional '-', then
// "0" or a digit 1-9 followed by digits, within the signed 32-bit range.
// Used for the employee number of a document request as well.
bool parseInteger(QStringView text, qint32 *value);

qint32 employeeOf(const Statement &statement);

} // namespace StatementParser

} // namespace VelmoraServerCore
