#include "core/centerkey.h"

#include <algorithm>

namespace VelmoraInternal {

namespace {

constexpr int MaxIdDigits = 18; // still fits a signed 64-bit number
constexpr int KeyDigits = 6;

bool isAsciiDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

template<typename View>
bool allDigits(View text)
{
    for (QChar c : text) {
        if (!isAsciiDigit(c))
            return false;
    }
    return true;
}

template<typename View>
bool wholeNumber(View text)
{
    if (text.startsWith(u'-'))
        text = text.mid(1);
    return !text.isEmpty() && text.size() <= MaxIdDigits && allDigits(text);
}

} // namespace

bool isDecimalWholeNumber(QStringView text)
{
    return wholeNumber(text);
}

bool isDecimalWholeNumber(QLatin1StringView text)
{
    return wholeNumber(text);
}

namespace {

// Writes formatKey(id) into key, which may be a QString or a fixed buffer.
template<typename Text>
void appendKey(Text &key, QStringView id)
{
    // Outside the ID format there is no number to write; the text is kept
    // as it is so that such a key never looks unmarked by accident.
    if (!isDecimalWholeNumber(id)) {
        key.append(id.data(), id.size());
        return;
    }

    bool negative = id.startsWith(u'-');
    QStringView digits = negative ? id.mid(1) : id;
    // The key format reads the ID as a number, so leading zeros of the ID
    // itself do not count towards the six digits.
    while (digits.size() > 1 && digits.front() == u'0')
        digits = digits.mid(1);
    if (digits == u"0")
        negative = false; // "-0" is the number 0

    if (negative)
        key.append(u'-');
    for (qsizetype i = digits.size(); i < KeyDigits; ++i)
        key.append(u'0');
    key.append(digits.data(), digits.size());
}

} // namespace

QString formatKey(QStringView id)
{
    QString key;
    key.reserve(1 + std::max<qsizetype>(KeyDigits, id.size()));
    appendKey(key, id);
    return key;
}

QString keyOf(QStringView id, QChar marker)
{
    QString key = formatKey(id);
    if (!marker.isNull())
        key.append(marker);
    return key;
}

namespace {

// Four bits a character, the first in the top bits; 0 is the end of the
// text, which sorts before any character. The codes rise with the
// characters' UTF-16 values: '-' < '0'..'9' < 'D' < 'N'. -1: no code.
constexpr qsizetype OrderedUnits = 16;
constexpr int EndCode = 0;

int orderCode(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return 2 + (c - u'0');
    if (c == u'-')
        return 1;
    if (c == DeleteMarker)
        return 12;
    if (c == InsertMarker)
        return 13;
    return -1;
}

constexpr int shiftOf(qsizetype unit)
{
    return 60 - 4 * int(unit);
}

} // namespace

quint64 orderOf(QStringView text)
{
    quint64 order = 0;
    const qsizetype n = std::min<qsizetype>(text.size(), OrderedUnits);
    for (qsizetype i = 0; i < n; ++i) {
        const int code = orderCode(text[i].unicode());
        if (code < 0)
            return NoOrder;
        order |= quint64(code) << shiftOf(i);
    }
    return order;
}

quint64 remarkedKeyOrder(quint64 order, qsizetype keyLength, QChar marker)
{
    // A marker past the ordered units leaves the order as it is, and so does
    // any marker when the key has no order.
    if (order == NoOrder || keyLength >= OrderedUnits)
        return order;
    const int code = marker.isNull() ? EndCode : orderCode(marker.unicode());
    if (code < 0)
        return NoOrder;
    const int shift = shiftOf(keyLength);
    return (order & ~(quint64(0xF) << shift)) | quint64(code) << shift;
}

qsizetype keyLengthOf(QStringView id)
{
    struct Counter {
        qsizetype size = 0;
        void append(char16_t) { ++size; }
        void append(const QChar *, qsizetype n) { size += n; }
    } counter;
    appendKey(counter, id);
    return counter.size;
}

quint64 keyOrderOf(QStringView id, QChar marker)
{
    // Keys of IDs outside the number format are the IDs themselves: no
    // buffer bound applies to them.
    if (!isDecimalWholeNumber(id))
        return orderOf(keyOf(id, marker));
    struct Buffer {
        char16_t units[2 + MaxIdDigits + KeyDigits];
        qsizetype size = 0;
        void append(char16_t c) { units[size++] = c; }
        void append(const QChar *text, qsizetype n)
        {
            for (qsizetype i = 0; i < n; ++i)
                units[size++] = text[i].unicode();
        }
    } key;
    appendKey(key, id);
    if (!marker.isNull())
        key.append(marker.unicode());
    return orderOf(QStringView(key.units, key.size));
}

} // namespace VelmoraInternal
