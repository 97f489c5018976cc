#include "centersearch.h"

#include "core/centerlistmodel.h"

namespace VelmoraInternal {

int findByName(const CenterListModel &list, QStringView text)
{
    const int n = list.count();
    for (int row = 0; row < n; ++row) {
        const QString &name = list.at(row).name;
        if (!name.isEmpty() && QStringView(name).contains(text, Qt::CaseInsensitive))
            return row;
    }
    return -1;
}

int findById(const CenterListModel &list, QStringView text)
{
    // IDs are digits and '-': there is no case to ignore, and text that is
    // no ID matches no row.
    return list.findId(CenterId::fromText(text));
}

} // namespace VelmoraInternal
