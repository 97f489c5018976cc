#include "centerlistmodel.h"

#include "core/centerkey.h"

#include <QMimeData>

#include <algorithm>
#include <iterator>
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
    case IdColumn: return tr("ID");
    case NameColumn: return tr("Name");
    case KeyColumn: return tr("ID");
    }
    return {};
}

Qt::ItemFlags CenterListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemNeverHasChildren;
}

QString CenterListModel::mimeType()
{
    return QStringLiteral("application/x-velmora-centers");
}

QStringList CenterListModel::mimeTypes() const
{
    return {mimeType()};
}

QMimeData *CenterListModel::mimeData(const QModelIndexList &indexes) const
{
    // The drop runs the list's own move of the selection; the payload only
    // tells where the drag came from.
    Q_UNUSED(indexes);
    auto *mime = new QMimeData;
    mime->setData(mimeType(), objectName().toUtf8());
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

void CenterListModel::applyPermutation(const std::vector<int> &permutation)
{
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newPosition(permutation.size());
    std::vector<CenterItem> items;
    items.reserve(permutation.size());
    for (size_t row = 0; row < permutation.size(); ++row) {
        newPosition[size_t(permutation[row])] = int(row);
        items.push_back(std::move(m_items[size_t(permutation[row])]));
    }
    m_items.swap(items);
    // Selections and current rows are persistent indexes: they travel with
    // their rows.
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex &index : from)
        to.append(this->index(newPosition[size_t(index.row())], index.column()));
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::vector<int> CenterListModel::insertSorted(std::vector<CenterItem> items)
{
    std::vector<int> rows(items.size());
    const auto less = [this](const CenterItem &a, const CenterItem &b) { return lessThan(a, b); };
    if (items.size() < 64) {
        // Few rows: one insert notification each. Earlier positions shift as
        // later items land.
        for (size_t i = 0; i < items.size(); ++i) {
            const auto pos = std::upper_bound(m_items.begin(), m_items.end(), items[i], less);
            const int row = int(pos - m_items.begin());
            beginInsertRows(QModelIndex(), row, row);
            m_items.insert(pos, std::move(items[i]));
            endInsertRows();
            for (size_t j = 0; j < i; ++j) {
                if (rows[j] >= row)
                    ++rows[j];
            }
            rows[i] = row;
        }
        return rows;
    }

    // Many rows: append them in one block, then merge them behind equal
    // existing rows in one layout change.
    const int existing = count();
    const int added = int(items.size());
    beginInsertRows(QModelIndex(), existing, existing + added - 1);
    std::move(items.begin(), items.end(), std::back_inserter(m_items));
    endInsertRows();

    std::vector<int> newcomers(static_cast<size_t>(added));
    std::iota(newcomers.begin(), newcomers.end(), existing);
    std::stable_sort(newcomers.begin(), newcomers.end(),
                     [&](int a, int b) { return lessThan(m_items[size_t(a)], m_items[size_t(b)]); });
    std::vector<int> permutation;
    permutation.reserve(m_items.size());
    int old = 0;
    size_t next = 0;
    while (old < existing || next < newcomers.size()) {
        const bool takeNew = next < newcomers.size()
            && (old == existing || lessThan(m_items[size_t(newcomers[next])], m_items[size_t(old)]));
        if (takeNew) {
            rows[size_t(newcomers[next] - existing)] = int(permutation.size());
            permutation.push_back(newcomers[next++]);
        } else {
            permutation.push_back(old++);
        }
    }
    applyPermutation(permutation);
    return rows;
}

void CenterListModel::removeRowsAt(const std::vector<int> &ascendingRows)
{
    if (ascendingRows.empty())
        return;
    size_t blocks = 1;
    for (size_t k = 1; k < ascendingRows.size(); ++k) {
        if (ascendingRows[k] != ascendingRows[k - 1] + 1)
            ++blocks;
    }

    if (blocks < 64) {
        // A few blocks: one notification each, from the end so that earlier
        // positions stay valid.
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
        return;
    }

    // Many blocks: gather the doomed rows at the end in one layout change,
    // then remove them as one block.
    std::vector<int> permutation;
    permutation.reserve(m_items.size());
    size_t k = 0;
    for (int row = 0; row < count(); ++row) {
        if (k < ascendingRows.size() && ascendingRows[k] == row)
            ++k;
        else
            permutation.push_back(row);
    }
    const int kept = int(permutation.size());
    permutation.insert(permutation.end(), ascendingRows.begin(), ascendingRows.end());
    applyPermutation(permutation);
    beginRemoveRows(QModelIndex(), kept, count() - 1);
    m_items.resize(size_t(kept));
    endRemoveRows();
}

void CenterListModel::sortBy(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_sortOrder = order;
    std::vector<int> permutation(m_items.size());
    std::iota(permutation.begin(), permutation.end(), 0);
    std::stable_sort(permutation.begin(), permutation.end(),
                     [this](int a, int b) { return lessThan(m_items[size_t(a)], m_items[size_t(b)]); });
    for (size_t i = 0; i < permutation.size(); ++i) {
        if (permutation[i] != int(i)) {
            applyPermutation(permutation);
            return;
        }
    }
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
