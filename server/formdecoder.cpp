#include "formdecoder.h"

#include "core/windows1252.h"

namespace VelmoraServerCore {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

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

bool FormDecoder::decodeComponent(QByteArrayView encoded, QString *out, qsizetype *badOffset)
{
    // Every output character comes from at least one input byte, so one
    // allocation of the input size is enough.
    QString text(encoded.size(), Qt::Uninitialized);
    QChar *dst = text.data();
    const char *src = encoded.data();
    const qsizetype n = encoded.size();
    for (qsizetype i = 0; i < n; ++i) {
        unsigned char byte = static_cast<unsigned char>(src[i]);
        if (byte == '+') {
            byte = ' ';
        } else if (byte == '%') {
            const int hi = i + 1 < n ? hexValue(src[i + 1]) : -1;
            const int lo = i + 2 < n ? hexValue(src[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                if (badOffset)
                    *badOffset = i;
                return false;
            }
            byte = static_cast<unsigned char>(hi * 16 + lo);
            i += 2;
        }
        *dst++ = QChar(VelmoraInternal::Windows1252::toUnicode(byte));
    }
    text.truncate(dst - text.constData());
    *out = std::move(text);
    return true;
}

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
        if (!decodeComponent(eq < 0 ? piece : piece.first(eq), &field.name, &bad)) {
            *error = {number, QStringLiteral("field %1: malformed percent escape in the field name at byte %2 of the body")
                                  .arg(number).arg(pieceStart + bad)};
            return false;
        }
        if (eq < 0) {
            *error = {number, QStringLiteral("field %1 %2: no '=' between name and value")
                                  .arg(number).arg(quotedName(field.name))};
            return false;
        }
        if (!decodeComponent(piece.sliced(eq + 1), &field.value, &bad)) {
            *error = {number, QStringLiteral("field %1 %2: malformed percent escape at byte %3 of the body")
                                  .arg(number).arg(quotedName(field.name)).arg(pieceStart + eq + 1 + bad)};
            return false;
        }
        fields->append(std::move(field));
    }
    return true;
}

} // namespace VelmoraServerCore
