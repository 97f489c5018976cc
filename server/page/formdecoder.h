// Decoding of an "application/x-www-form-urlencoded" request body into its
// fields, each name and value decoded as the form encoding of the protocol
// says (Windows-1252 bytes), with a refusal that names the field at fault.
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

} // namespace FormDecoder

} // namespace VelmoraServerCore
