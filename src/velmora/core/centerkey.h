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

// The ID written with at least six digits, zero-padded on the left
// ("7" -> "000007", "1234567" -> "1234567", "-7" -> "-000007"). The ID is
// read as a number, so its own leading zeros do not count ("0042" ->
// "000042", "-0" -> "000000"). id should pass isDecimalWholeNumber(); any
// other text is returned unchanged.
QString formatKey(QStringView id);

// True when the key reads as a number as a whole: an unmarked key, i.e. an
// optional '-' and one or more ASCII digits. "000042N" and "000042D" are not.
bool isNumericKey(QStringView key);

// The key a moved center gets in its new list: built afresh from the ID, with
// marker appended only when the old key was unmarked (so a move back cancels
// the pending change).
QString movedKey(QStringView id, QStringView oldKey, QChar marker);

inline constexpr QChar InsertMarker = u'N';
inline constexpr QChar DeleteMarker = u'D';

} // namespace VelmoraInternal
