#include "reference.h"

#include <QRegularExpression>

#include <array>
#include <limits>

namespace VelmoraFuzz {

namespace {

// Bytes 0x80-0x9F; the rest of the code page is the Latin-1 character of the
// same value.
constexpr std::array<char16_t, 32> High = {
    u'\u20AC', u'\u0081', u'\u201A', u'\u0192', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u02C6', u'\u2030', u'\u0160', u'\u2039', u'\u0152', u'\u008D', u'\u017D', u'\u008F',
    u'\u0090', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u02DC', u'\u2122', u'\u0161', u'\u203A', u'\u0153', u'\u009D', u'\u017E', u'\u0178',
};

int hexDigit(char c)
{
    static const QByteArray digits = "0123456789abcdef";
    const int at = digits.indexOf(char(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c));
    return at;
}

std::optional<QString> decodePart(QByteArrayView part)
{
    QString out;
    for (qsizetype i = 0; i < part.size(); ++i) {
        const char c = part[i];
        if (c == '+') {
            out += u' ';
        } else if (c == '%') {
            if (i + 2 >= part.size()) // fewer than two characters follow
                return std::nullopt;
            const int hi = hexDigit(part[i + 1]);
            const int lo = hexDigit(part[i + 2]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out += QChar(windows1252Char(static_cast<unsigned char>(hi * 16 + lo)));
            i += 2;
        } else {
            out += QChar(windows1252Char(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

} // namespace

char16_t windows1252Char(unsigned char byte)
{
    return byte >= 0x80 && byte < 0xA0 ? High[byte - 0x80] : char16_t(byte);
}

std::optional<unsigned char> windows1252Byte(char16_t unit)
{
    // The inverse of windows1252Char, built once: -1 for no byte.
    static const std::array<short, 65536> bytes = [] {
        std::array<short, 65536> table;
        table.fill(-1);
        for (int byte = 0; byte < 256; ++byte)
            table[windows1252Char(static_cast<unsigned char>(byte))] = short(byte);
        return table;
    }();
    const short byte = bytes[unit];
    if (byte < 0)
        return std::nullopt;
    return static_cast<unsigned char>(byte);
}

std::optional<qint64> referenceInteger(QStringView text)
{
    static const QRegularExpression integer(QStringLiteral("\\A(?:0|-?[1-9][0-9]{0,9})\\z"));
    if (!integer.match(text.toString()).hasMatch())
        return std::nullopt;
    const qint64 value = text.toLongLong();
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        return std::nullopt;
    return value;
}

std::optional<ReferenceStatement> referenceStatement(QStringView text)
{
    static const QRegularExpression insert(QStringLiteral(
        "\\AINSERT INTO CenterEmployeeCrossReference \\(EmployeeID,CenterID,RecordLastUpdated\\) "
        "VALUES \\((0|-?[1-9][0-9]{0,9}),([1-9][0-9]{0,9}),GETDATE\\(\\) \\) \\z"));
    static const QRegularExpression remove(QStringLiteral(
        "\\ADELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=(0|-?[1-9][0-9]{0,9}) "
        "AND CenterID IN\\(([1-9][0-9]{0,9}(?:,[1-9][0-9]{0,9})*)\\)\\z"));
    constexpr qint64 Min = std::numeric_limits<qint32>::min();
    constexpr qint64 Max = std::numeric_limits<qint32>::max();

    ReferenceStatement statement;
    QStringList centers;
    if (const auto m = insert.match(text.toString()); m.hasMatch()) {
        statement.isInsert = true;
        statement.employee = m.capturedView(1).toLongLong();
        centers << m.captured(2);
    } else if (const auto d = remove.match(text.toString()); d.hasMatch()) {
        statement.employee = d.capturedView(1).toLongLong();
        centers = d.captured(2).split(u',');
    } else {
        return std::nullopt;
    }
    if (statement.employee < Min || statement.employee > Max || centers.size() > 32767)
        return std::nullopt;
    for (const QString &c : std::as_const(centers)) {
        const qint64 center = c.toLongLong();
        if (center < 1 || center > Max)
            return std::nullopt;
        statement.centers << center;
    }
    return statement;
}

std::optional<QList<ReferenceField>> referenceForm(QByteArrayView body, int maxFields, int *failedField)
{
    QList<ReferenceField> fields;
    int number = 0;
    for (const QByteArray &piece : QByteArray(body.data(), body.size()).split('&')) {
        if (piece.isEmpty())
            continue;
        *failedField = ++number;
        if (number > maxFields)
            return std::nullopt;
        const qsizetype eq = piece.indexOf('=');
        if (eq < 0)
            return std::nullopt;
        const auto name = decodePart(QByteArrayView(piece).first(eq));
        const auto value = decodePart(QByteArrayView(piece).sliced(eq + 1));
        if (!name || !value)
            return std::nullopt;
        fields.append({*name, *value});
    }
    *failedField = 0;
    return fields;
}

} // namespace VelmoraFuzz
