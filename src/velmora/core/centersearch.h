// The find panel's two ways of finding a center in one list, in display
// order.
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

} // namespace VelmoraInternal
