// Form URL encoding of one field name or value, as an HTML form does for an
// "application/x-www-form-urlencoded" body, but on Windows-1252 bytes:
// blank -> '+', "*-._", digits and ASCII letters kept, every other byte
// "%" plus two upper-case hex digits. The control encodes its statements so;
// the server decodes what any client sends (either case of hex digits, and
// bytes other than '+' and '%' as they stand, so that curl -d works too).
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace VelmoraProtocol {

// Appends the encoding of text to out (no allocation per character).
void appendUrlEncoded(QByteArray &out, QStringView text);
QByteArray urlEncode(QStringView text);

// One encoded name or value: '+' -> blank, "%XX" (either case) -> byte,
// then Windows-1252 -> Unicode. Returns false, with the offset of the bad
// escape in *badOffset, for a '%' not followed by two hex digits.
bool urlDecode(QByteArrayView encoded, QString *out, qsizetype *badOffset = nullptr);

} // namespace VelmoraProtocol
