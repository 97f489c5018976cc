#include "centersearch.h"

#include "core/centerlistmodel.h"

namespace VelmoraInternal {

int findByName(const CenterListModel &list, QStringView text)
{
    const int n = list.count();
    for (int row = 0; row < n; ++row) {
        if (nameMatches(list.at(row).name, text))
            return row;
    }
    return -1;
}

bool nameMatches(QStringView name, QStringView text)
{
    return !name.isEmpty() && name.contains(text, Qt::CaseInsensitive);
}

int findNextRow(const CenterListModel &list, int after, bool backwards,
                const std::function<bool(const CenterItem &)> &matches)
{
    const int n = list.count();
    if (n == 0)
        return -1;
    if (after < 0 || after >= n)
        after = backwards ? 0 : n - 1;
    for (int step = 1; step <= n; ++step) {
        const int row = backwards ? (after - step + n) % n : (after + step) % n;
        if (matches(list.at(row)))
            return row;
    }
    return -1;
}

int typeAheadRow(const CenterListModel &list, int current, bool growing, QStringView typed)
{
    const int after = growing && current >= 0 ? current - 1 : current;
    return findNextRow(list, after, false, [typed](const CenterItem &item) {
        return item.id.text().startsWith(typed, Qt::CaseInsensitive) || item.name.startsWith(typed, Qt::CaseInsensitive);
    });
}

int findById(const CenterListModel &list, QStringView text)
{
    // IDs are digits and '-': there is no case to ignore, and text that is
    // no ID matches no row.
    return list.findId(CenterId::fromText(text));
}

} // namespace VelmoraInternal
