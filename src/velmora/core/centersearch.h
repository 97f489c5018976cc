// The find panel's two ways of finding a center in one list, in display
// order.
#pragma once

#include <QStringView>

namespace VelmoraInternal {

class CenterListModel;

// First row whose name contains text, letter case folded; an empty name never
// matches. -1 when none does.
int findByName(const CenterListModel &list, QStringView text);
// First row whose whole ID equals text, letter case folded, no trimming.
int findById(const CenterListModel &list, QStringView text);

} // namespace VelmoraInternal
