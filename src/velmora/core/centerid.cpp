#include "core/centerid.h"

#include "core/centerkey.h"

namespace VelmoraInternal {

template<typename View>
CenterId CenterId::parse(View text)
{
    CenterId id;
    if (!isDecimalWholeNumber(text))
        return id;
    id.m_valid = true;
    id.m_negative = text.startsWith(u'-');
    const View digits = id.m_negative ? text.mid(1) : text;
    qsizetype first = 0;
    // The last digit always belongs to the number, even when it is a zero.
    while (first + 1 < digits.size() && QChar(digits[first]) == u'0')
        ++first;
    id.m_zeros = quint8(first);
    for (qsizetype i = first; i < digits.size(); ++i)
        id.m_magnitude = id.m_magnitude * 10 + quint64(QChar(digits[i]).unicode() - u'0');
    return id;
}

CenterId CenterId::fromText(QStringView text)
{
    return parse(text);
}

CenterId CenterId::fromText(QLatin1StringView text)
{
    return parse(text);
}

qsizetype CenterId::write(char16_t *out) const
{
    if (!m_valid)
        return 0;
    char16_t digits[20];
    int n = 0;
    quint64 rest = m_magnitude;
    do {
        digits[n++] = char16_t(u'0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    qsizetype length = 0;
    if (m_negative)
        out[length++] = u'-';
    for (int i = 0; i < m_zeros; ++i)
        out[length++] = u'0';
    while (n > 0)
        out[length++] = digits[--n];
    return length;
}

QString CenterId::text() const
{
    char16_t units[MaxUnits];
    const qsizetype length = write(units);
    return QString(reinterpret_cast<const QChar *>(units), length);
}

} // namespace VelmoraInternal
