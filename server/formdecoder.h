// Decoding of an "application/x-www-form-urlencoded" request body whose
// field values were encoded from Windows-1252 bytes, as the control's commit
// sends them: '+' is a blank, "%XX" one byte, every byte stands for its
// Windows-1252 character.
#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

namespace VelmoraServerCore {

struct FormField
{
    QString name;
    QString value;
};

namespace FormDecoder {

struct Error
{
    int field = 0;   // 1-based position of the offending field, 0 for the body as a whole
    QString reason;  // plain text for the operator, names the field
};

// Splits body at '&' and each piece at its first '='. Empty pieces (the
// control ends every field with '&') are skipped. A piece without '=' or
// with a malformed percent escape is refused, as is a body of more than
// maxFields fields; decoding stops at the first refusal, so the work done
// is bounded by the body length and maxFields. Bytes other than '+' and
// '%' are taken as they stand, so a hand-written body (curl -d) decodes
// too.
bool decode(QByteArrayView body, int maxFields, QList<FormField> *fields, Error *error);

// One encoded name or value: '+' -> blank, "%XX" (either case) -> byte,
// then Windows-1252 -> Unicode. Returns false, with the offset of the bad
// escape in *badOffset, for a '%' not followed by two hex digits.
bool decodeComponent(QByteArrayView encoded, QString *out, qsizetype *badOffset = nullptr);

} // namespace FormDecoder

} // namespace VelmoraServerCore
