// The hidden key of a center item: the ID zero-padded to six digits, followed
// by at most one change marker ("N" in the selected list, "D" in the other).
// A key that does not read as a number marks a pending change.
#pragma once

#include <QString>
#include <QStringView>

namespace VelmoraInternal {

// True when text is a plain decimal whole number: an optional leading '-'
// followed by one to eighteen ASCII digits, nothing else (no blanks, no '+').
// IDs must pass this before they may enter a list or a statement.
bool isDecimalWholeNumber(QStringView text);
bool isDecimalWholeNumber(QLatin1StringView text);

// The ID written with at least six digits, zero-padded on the left
// ("7" -> "000007", "1234567" -> "1234567", "-7" -> "-000007"). The ID is
// read as a number, so its own leading zeros do not count ("0042" ->
// "000042", "-0" -> "000000"). id should pass isDecimalWholeNumber(); any
// other text is returned unchanged.
QString formatKey(QStringView id);

inline constexpr QChar InsertMarker = u'N';
inline constexpr QChar DeleteMarker = u'D';

// The marker a moved center carries in its new list: marker when it was
// unmarked, none (a null QChar) when it was marked, so that a move back
// cancels the pending change.
constexpr QChar movedMarker(QChar oldMarker, QChar marker)
{
    return oldMarker.isNull() ? marker : QChar();
}

// formatKey(id) followed by the marker, if any.
QString keyOf(QStringView id, QChar marker);

// An order-preserving number for a text over the characters of IDs and keys
// ('-', the digits and the two markers), so that sorting compares integers,
// not strings: when two texts both have one and the numbers differ, they
// order the texts as a comparison of their UTF-16 units would. Equal numbers
// only say that the first sixteen characters agree. Texts with other
// characters get NoOrder and must be compared as text.
inline constexpr quint64 NoOrder = ~quint64(0);
quint64 orderOf(QStringView text);
// orderOf(keyOf(id, marker)), without building the key.
quint64 keyOrderOf(QStringView id, QChar marker);
// The length of formatKey(id), without building it.
qsizetype keyLengthOf(QStringView id);
// keyOrderOf(id, marker) from the order of the same ID with another marker
// (or none) and keyLengthOf(id): a move changes only the marker's place.
quint64 remarkedKeyOrder(quint64 order, qsizetype keyLength, QChar marker);

} // namespace VelmoraInternal
