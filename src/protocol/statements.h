// The two statements on CenterEmployeeCrossReference that a commit sends, as
// texts. The control builds them from these pieces and velmora-server accepts
// exactly these pieces, so the two ends cannot drift apart.
//
//   InsertHead E Separator C InsertTail            one center assigned
//   DeleteHead E DeleteIn C Separator C ... DeleteEnd  assignments removed
//
// E is the employee number, C a center ID, both plain decimal.
#pragma once

#include <QStringView>

namespace VelmoraProtocol {

inline constexpr QStringView InsertHead =
    u"INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (";
// Note the blank before the closing parenthesis and the trailing blank.
inline constexpr QStringView InsertTail = u",GETDATE() ) ";
inline constexpr QStringView DeleteHead = u"DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=";
inline constexpr QStringView DeleteIn = u" AND CenterID IN(";
inline constexpr QChar DeleteEnd = u')';
// Between the employee and the center of an INSERT, and between the centers
// of a DELETE.
inline constexpr QChar Separator = u',';

} // namespace VelmoraProtocol
