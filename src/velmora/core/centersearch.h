// The find panel's two ways of finding a center in one list, in display
// order, and the lists' own type-ahead.
#pragma once

#include <QStringView>

#include <functional>

namespace VelmoraInternal {

class CenterListModel;
struct CenterItem;

// First row whose name contains text, letter case folded; an empty name never
// matches. -1 when none does.
int findByName(const CenterListModel &list, QStringView text);
// First row whose whole ID equals text, letter case folded, no trimming.
int findById(const CenterListModel &list, QStringView text);

// Whether a name holds text, letter case folded; an empty name never does.
bool nameMatches(QStringView name, QStringView text);

// The first row after `after` (before it when backwards) whose item
// matches, wrapping around the list, so that `after` itself is looked at
// last; -1 starts at either end. -1 when no row matches.
int findNextRow(const CenterListModel &list, int after, bool backwards,
                const std::function<bool(const CenterItem &)> &matches);

// Type-ahead: the row that typed (what the operator has typed in quick
// succession) goes to, the next one whose ID or name starts with it, letter
// case folded, wrapping around. From the row after current for a new
// prefix; from current itself while the prefix grows (growing), so that the
// row found so far stays while it still matches. -1 when none matches.
int typeAheadRow(const CenterListModel &list, int current, bool growing, QStringView typed);

} // namespace VelmoraInternal
