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

bool allDigits(QStringView text)
{
    for (QChar c : text) {
        if (!isAsciiDigit(c))
            return false;
    }
    return true;
}

} // namespace

bool isDecimalWholeNumber(QStringView text)
{
    if (text.startsWith(u'-'))
        text = text.mid(1);
    return !text.isEmpty() && text.size() <= MaxIdDigits && allDigits(text);
}

QString formatKey(QStringView id)
{
    // Outside the ID format there is no number to write; the text is kept
    // as it is so that such a key never looks unmarked by accident.
    if (!isDecimalWholeNumber(id))
        return id.toString();

    bool negative = id.startsWith(u'-');
    QStringView digits = negative ? id.mid(1) : id;
    // The key format reads the ID as a number, so leading zeros of the ID
    // itself do not count towards the six digits.
    while (digits.size() > 1 && digits.front() == u'0')
        digits = digits.mid(1);
    if (digits == u"0")
        negative = false; // "-0" is the number 0

    QString key;
    key.reserve(1 + std::max<qsizetype>(KeyDigits, digits.size()));
    if (negative)
        key.append(u'-');
    for (qsizetype i = digits.size(); i < KeyDigits; ++i)
        key.append(u'0');
    key.append(digits);
    return key;
}

bool isNumericKey(QStringView key)
{
    // Any length of digits: a marker is never a digit, so an all-digit key
    // (with the sign of a negative ID) is an unmarked one.
    if (key.startsWith(u'-'))
        key = key.mid(1);
    return !key.isEmpty() && allDigits(key);
}

QString movedKey(QStringView id, QStringView oldKey, QChar marker)
{
    QString key = formatKey(id);
    if (isNumericKey(oldKey))
        key.append(marker);
    return key;
}

} // namespace VelmoraInternal
