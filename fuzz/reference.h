// Plain reference versions of what the harnesses check, written apart from
// the product code (tables and regular expressions instead of hand-written
// scanners) so that a fuzz finding is a disagreement between two
// independent readings.
#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

namespace VelmoraFuzz {

// The character of one Windows-1252 byte; the five undefined bytes stand for
// the C1 control of the same value.
char16_t windows1252Char(unsigned char byte);
// The byte of a character, or nothing when Windows-1252 cannot carry it.
std::optional<unsigned char> windows1252Byte(char16_t unit);

// One statement the server may accept, read by regular expression.
struct ReferenceStatement
{
    bool isInsert = false;
    qint64 employee = 0;
    QList<qint64> centers; // one for an insert
};

// The statement when text is exactly one of the two accepted shapes with
// plain decimal numbers inside the signed 32-bit range (centers positive,
// at most 32,767 of them); nothing otherwise.
std::optional<ReferenceStatement> referenceStatement(QStringView text);

// A whole number as the control writes one: "0", or an optional '-' and a
// digit 1-9 followed by digits, inside the signed 32-bit range.
std::optional<qint64> referenceInteger(QStringView text);

struct ReferenceField
{
    QString name;
    QString value;
};

// Form decoding by the book: pieces between '&', empty ones skipped, name
// and value split at the first '=', '+' a blank, "%XX" a byte, bytes read as
// Windows-1252. Sets *failedField (1-based, counting non-empty pieces) and
// returns nothing when a piece has no '=', a '%' is not followed by two hex
// digits, or there are more than maxFields fields.
std::optional<QList<ReferenceField>> referenceForm(QByteArrayView body, int maxFields, int *failedField);

} // namespace VelmoraFuzz
