#include "page/formdecoder.h"

#include "protocol/formencoding.h"

namespace VelmoraServerCore {

namespace {

// A short, printable rendering of a field name for a reason text: the name
// comes from the client and may hold anything.
QString quotedName(const QString &name)
{
    constexpr qsizetype MaxShown = 32;
    QString shown;
    for (QChar c : QStringView(name).left(MaxShown))
        shown += (c.isPrint() ? c : QChar(u'?'));
    if (name.size() > MaxShown)
        shown += u"...";
    return u'"' + shown + u'"';
}

} // namespace

bool FormDecoder::decode(QByteArrayView body, int maxFields, QList<FormField> *fields, Error *error)
{
    fields->clear();
    qsizetype start = 0;
    const qsizetype n = body.size();
    while (start < n) {
        qsizetype end = body.indexOf('&', start);
        if (end < 0)
            end = n;
        const QByteArrayView piece = body.sliced(start, end - start);
        const qsizetype pieceStart = start;
        start = end + 1;
        if (piece.isEmpty())
            continue;

        const int number = int(fields->size()) + 1;
        if (number > maxFields) {
            *error = {number, QStringLiteral("too many fields: at most %1 are accepted in one request")
                                  .arg(maxFields)};
            return false;
        }
        const qsizetype eq = piece.indexOf('=');
        FormField field;
        qsizetype bad = 0;
        if (!VelmoraProtocol::urlDecode(eq < 0 ? piece : piece.first(eq), &field.name, &bad)) {
            *error = {number, QStringLiteral("field %1: malformed percent escape in the field name at byte %2 of the body")
                                  .arg(number).arg(pieceStart + bad)};
            return false;
        }
        if (eq < 0) {
            *error = {number, QStringLiteral("field %1 %2: no '=' between name and value")
                                  .arg(number).arg(quotedName(field.name))};
            return false;
        }
        if (!VelmoraProtocol::urlDecode(piece.sliced(eq + 1), &field.value, &bad)) {
            *error = {number, QStringLiteral("field %1 %2: malformed percent escape at byte %3 of the body")
                                  .arg(number).arg(quotedName(field.name)).arg(pieceStart + eq + 1 + bad)};
            return false;
        }
        fields->append(std::move(field));
    }
    return true;
}

} // namespace VelmoraServerCore
