// The page the control talks to, as it is addressed on the wire: its path,
// the query that names the employee of a document, and the form that
// carries a commit's statements.
//
//   GET  <ServerName>/Velmora.asp?EmployeeID=N   the center document
//   POST <ServerName>/Velmora.asp                SQL=<statement>&SQL=...&
//        Content-Type: application/x-www-form-urlencoded
#pragma once

#include <QLatin1StringView>

namespace VelmoraProtocol {

inline constexpr QLatin1StringView PagePath{"/Velmora.asp"};
// The query item of a document request: the employee number in decimal.
inline constexpr QLatin1StringView EmployeeQuery{"EmployeeID"};
// The form field that carries one statement in the commit body; every
// field ends with FieldEnd, the last one too.
inline constexpr QLatin1StringView FieldName{"SQL"};
inline constexpr char FieldEnd = '&';
inline constexpr QLatin1StringView FormContentType{"application/x-www-form-urlencoded"};

} // namespace VelmoraProtocol
