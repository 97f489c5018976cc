// Form URL encoding of one field value, as an HTML form does for an
// "application/x-www-form-urlencoded" body, but on Windows-1252 bytes:
// blank -> '+', "*-._", digits and ASCII letters kept, every other byte
// "%" plus two upper-case hex digits.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace VelmoraInternal {

// Appends the encoding of text to out (no allocation per character).
void appendUrlEncoded(QByteArray &out, QStringView text);
QByteArray urlEncode(QStringView text);

} // namespace VelmoraInternal
