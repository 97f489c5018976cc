// The two statements on CenterEmployeeCrossReference that a commit sends, as
// texts. The control builds them from these pieces and velmora-server accepts
// exactly these pieces, so the two ends cannot drift apart.
//
//   InsertHead E "," C InsertTail         one center assigned
//   DeleteHead E DeleteIn C "," C ... ")"  assignments removed
//
// E is the employee number, C a center ID, both plain decimal.
#pragma once

#include <QStringView>

namespace VelmoraStatements {

inline constexpr QStringView InsertHead =
    u"INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (";
// Note the blank before the closing parenthesis and the trailing blank.
inline constexpr QStringView InsertTail = u",GETDATE() ) ";
inline constexpr QStringView DeleteHead = u"DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=";
inline constexpr QStringView DeleteIn = u" AND CenterID IN(";
inline constexpr QChar DeleteEnd = u')';

// The form field that carries one statement in the commit body.
inline constexpr char FieldName[] = "SQL";

} // namespace VelmoraStatements
