#include "centerlistmodel.h"

#include "core/centerkey.h"

#include <QMimeData>

#include <algorithm>
#include <numeric>

namespace VelmoraInternal {

CenterListModel::CenterListModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

int CenterListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int CenterListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CenterListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const CenterItem &item = at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        switch (index.column()) {
        case IdColumn: return item.id;
        case NameColumn: return item.name;
        case KeyColumn: return item.key;
        }
        return {};
    case PendingRole:
        return !isNumericKey(item.key);
    case Qt::ToolTipRole:
        if (!isNumericKey(item.key) && !m_pendingToolTip.isEmpty())
            return m_pendingToolTip;
        return {};
    }
    return {};
}

QVariant CenterListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case IdColumn: return QStringLiteral("ID");
    case NameColumn: return QStringLiteral("Name");
    case KeyColumn: return QStringLiteral("ID");
    }
    return {};
}

Qt::ItemFlags CenterListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

static const QString CentersMimeType = QStringLiteral("application/x-velmora-centers");

QStringList CenterListModel::mimeTypes() const
{
    return {CentersMimeType};
}

QMimeData *CenterListModel::mimeData(const QModelIndexList &indexes) const
{
    // The drop runs the list's own move of the selection; the payload only
    // tells where the drag came from.
    Q_UNUSED(indexes);
    auto *mime = new QMimeData;
    mime->setData(CentersMimeType, objectName().toUtf8());
    return mime;
}

bool CenterListModel::lessThan(const CenterItem &a, const CenterItem &b) const
{
    int c = 0;
    switch (m_sortColumn) {
    case IdColumn: c = QString::compare(a.id, b.id, Qt::CaseInsensitive); break;
    case NameColumn: c = QString::compare(a.name, b.name, Qt::CaseInsensitive); break;
    default: c = QString::compare(a.key, b.key, Qt::CaseSensitive); break;
    }
    return m_sortOrder == Qt::AscendingOrder ? c < 0 : c > 0;
}

void CenterListModel::reset(std::vector<CenterItem> items)
{
    beginResetModel();
    m_items = std::move(items);
    // A load usually arrives in key order already: checking is linear.
    const auto less = [this](const CenterItem &a, const CenterItem &b) { return lessThan(a, b); };
    if (!std::is_sorted(m_items.begin(), m_items.end(), less))
        std::stable_sort(m_items.begin(), m_items.end(), less);
    endResetModel();
}

void CenterListModel::clear()
{
    if (m_items.empty())
        return;
    beginResetModel();
    m_items.clear();
    endResetModel();
}

int CenterListModel::insertSorted(CenterItem item)
{
    const auto pos = std::upper_bound(m_items.begin(), m_items.end(), item,
                                      [this](const CenterItem &a, const CenterItem &b) { return lessThan(a, b); });
    const int row = int(pos - m_items.begin());
    beginInsertRows(QModelIndex(), row, row);
    m_items.insert(pos, std::move(item));
    endInsertRows();
    return row;
}

std::vector<int> CenterListModel::insertSorted(std::vector<CenterItem> items)
{
    std::vector<int> rows(items.size());
    if (items.size() < size_t(BulkThreshold)) {
        // Few rows: one insert notification each keeps the view's scroll
        // position and selection. Earlier positions shift as later items land.
        for (size_t i = 0; i < items.size(); ++i) {
            const int row = insertSorted(std::move(items[i]));
            for (size_t j = 0; j < i; ++j) {
                if (rows[j] >= row)
                    ++rows[j];
            }
            rows[i] = row;
        }
        return rows;
    }

    // Many rows: sort the newcomers (remembering where each came from) and
    // merge them behind equal existing rows, then reset once.
    std::vector<int> order(items.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return lessThan(items[size_t(a)], items[size_t(b)]); });

    std::vector<CenterItem> merged;
    merged.reserve(m_items.size() + items.size());
    size_t i = 0;
    size_t j = 0;
    while (i < m_items.size() || j < order.size()) {
        const bool takeNew = j < order.size()
            && (i == m_items.size() || lessThan(items[size_t(order[j])], m_items[i]));
        if (takeNew) {
            rows[size_t(order[j])] = int(merged.size());
            merged.push_back(std::move(items[size_t(order[j])]));
            ++j;
        } else {
            merged.push_back(std::move(m_items[i]));
            ++i;
        }
    }
    beginResetModel();
    m_items = std::move(merged);
    endResetModel();
    return rows;
}

bool CenterListModel::removeRowsAt(const std::vector<int> &ascendingRows)
{
    if (ascendingRows.empty())
        return false;

    // Count the contiguous blocks: a few get one notification each (the view
    // keeps its scroll position), many get a single reset.
    size_t blocks = 1;
    for (size_t k = 1; k < ascendingRows.size(); ++k) {
        if (ascendingRows[k] != ascendingRows[k - 1] + 1)
            ++blocks;
    }

    if (blocks < size_t(BulkThreshold)) {
        size_t end = ascendingRows.size();
        while (end > 0) {
            size_t begin = end - 1;
            while (begin > 0 && ascendingRows[begin - 1] + 1 == ascendingRows[begin])
                --begin;
            const int first = ascendingRows[begin];
            const int last = ascendingRows[end - 1];
            beginRemoveRows(QModelIndex(), first, last);
            m_items.erase(m_items.begin() + first, m_items.begin() + last + 1);
            endRemoveRows();
            end = begin;
        }
        return false;
    }

    std::vector<CenterItem> kept;
    kept.reserve(m_items.size() - ascendingRows.size());
    size_t k = 0;
    for (size_t row = 0; row < m_items.size(); ++row) {
        if (k < ascendingRows.size() && size_t(ascendingRows[k]) == row) {
            ++k;
            continue;
        }
        kept.push_back(std::move(m_items[row]));
    }
    beginResetModel();
    m_items = std::move(kept);
    endResetModel();
    return true;
}

std::vector<int> CenterListModel::sortBy(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_sortOrder = order;
    std::vector<int> permutation(m_items.size());
    std::iota(permutation.begin(), permutation.end(), 0);
    std::stable_sort(permutation.begin(), permutation.end(),
                     [this](int a, int b) { return lessThan(m_items[size_t(a)], m_items[size_t(b)]); });
    bool moved = false;
    for (size_t i = 0; i < permutation.size() && !moved; ++i)
        moved = permutation[i] != int(i);
    if (!moved)
        return {};

    std::vector<CenterItem> sorted;
    sorted.reserve(m_items.size());
    for (int old : permutation)
        sorted.push_back(std::move(m_items[size_t(old)]));
    beginResetModel();
    m_items = std::move(sorted);
    endResetModel();
    return permutation;
}

int CenterListModel::findId(QStringView text, Qt::CaseSensitivity cs) const
{
    for (size_t row = 0; row < m_items.size(); ++row) {
        if (QStringView(m_items[row].id).compare(text, cs) == 0)
            return int(row);
    }
    return -1;
}

} // namespace VelmoraInternal
