#include "centerlistmodel.h"

#include "core/centerkey.h"

#include <QCoreApplication>
#include <QMimeData>

#include <algorithm>
#include <iterator>
#include <numeric>

namespace VelmoraInternal {

namespace {

// From this many inserted rows, or removed blocks of rows, on, one block
// notification and one layout change replace a notification each: views
// take a few of those quickly, but every one of thousands costs them a pass
// over their rows.
constexpr size_t BulkFrom = 64;
// A load in more ascending runs than this is sorted whole, not merged.
constexpr size_t MaxMergedRuns = 16;

} // namespace

CenterListModel::CenterListModel(QObject *parent)
    : QAbstractTableModel(parent)
{
    setCollation(QLocale());
}

void CenterListModel::setCollation(const QLocale &locale)
{
    m_collator.setLocale(locale);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    // The C locale's keys keep letter case; folded names make them ignore it.
    m_foldForKeys = locale.language() == QLocale::C;
    for (quint32 number : m_rows)
        center(number).nameKey.reset();
    if (m_sortColumn == NameColumn)
        sortBy(m_sortColumn, m_sortOrder);
}

void CenterListModel::makeNameKeys(const std::vector<quint32> &numbers)
{
    // Only a list sorted by name needs them: a load sorted by ID makes none,
    // the first sort by name makes them all.
    if (m_sortColumn != NameColumn)
        return;
    for (quint32 number : numbers) {
        CenterItem &item = center(number);
        if (!item.nameKey)
            item.nameKey = nameKeyOf(item.name);
    }
}

QCollatorSortKey CenterListModel::nameKeyOf(const QString &name) const
{
    return m_collator.sortKey(m_foldForKeys ? name.toCaseFolded() : name);
}

bool CenterListModel::prepareNameKeys(int rows)
{
    for (quint32 number : m_rows) {
        CenterItem &item = center(number);
        if (item.nameKey)
            continue;
        if (rows-- == 0)
            return false;
        item.nameKey = nameKeyOf(item.name);
    }
    return true;
}

QModelIndex CenterListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || row >= count() || column < 0 || column >= ColumnCount)
        return {};
    return createIndex(row, column);
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
        case IdColumn: return item.id.text();
        case NameColumn: return item.name;
        case KeyColumn: return item.key();
        }
        return {};
    case PendingRole:
        return item.isPending();
    case ChangedElsewhereRole:
        return item.changedElsewhere;
    case Qt::ToolTipRole:
        if (item.isPending() && !m_pendingToolTip.isEmpty())
            return m_pendingToolTip;
        if (item.changedElsewhere && !m_changedElsewhereToolTip.isEmpty())
            return m_changedElsewhereToolTip;
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
    mime->setData(mimeType(), dragOrigin());
    return mime;
}

QByteArray CenterListModel::dragOrigin() const
{
    return objectName().toUtf8() + ' ' + QByteArray::number(QCoreApplication::applicationPid()) + ' '
        + QByteArray::number(quintptr(this), 16);
}

namespace {

// The text of an ID in a buffer on the stack.
struct IdText
{
    explicit IdText(const CenterId &id) : size(id.write(units)) { }
    QStringView view() const { return QStringView(units, size); }
    char16_t units[CenterId::MaxUnits];
    qsizetype size;
};

quint64 idOrder(const CenterId &id)
{
    return orderOf(IdText(id).view());
}

} // namespace

CenterItem::CenterItem(CenterId id, QString name, QChar marker)
    : id(id)
    , name(std::move(name))
    , marker(marker)
    , keyLength(quint8(keyLengthOf(IdText(id).view())))
    , keyOrder(keyOrderOf(IdText(id).view(), marker))
{
}

void CenterItem::setMarker(QChar newMarker)
{
    marker = newMarker;
    keyOrder = remarkedKeyOrder(keyOrder, keyLength, newMarker);
}

QString CenterItem::key() const
{
    return keyOf(IdText(id).view(), marker);
}

namespace {

// Compares two texts by their order numbers where these decide, and by the
// texts, which are written only then, where they do not.
template<typename CompareTexts>
int compareOrdered(quint64 a, quint64 b, CompareTexts compareTexts)
{
    if (a != b && a != NoOrder && b != NoOrder)
        return a < b ? -1 : 1;
    return compareTexts();
}

int compareIdTexts(const CenterId &a, const CenterId &b)
{
    return IdText(a).view().compare(IdText(b).view(), Qt::CaseSensitive);
}

} // namespace

bool CenterListModel::lessThan(const CenterItem &a, const CenterItem &b) const
{
    int c = 0;
    switch (m_sortColumn) {
    case IdColumn:
        // IDs are digits and '-': ignoring case changes nothing.
        c = compareOrdered(idOrder(a.id), idOrder(b.id), [&] { return compareIdTexts(a.id, b.id); });
        break;
    case NameColumn:
        c = a.nameKey->compare(*b.nameKey);
        break;
    default:
        c = compareOrdered(a.keyOrder, b.keyOrder, [&] { return QString::compare(a.key(), b.key(), Qt::CaseSensitive); });
        break;
    }
    return m_sortOrder == Qt::AscendingOrder ? c < 0 : c > 0;
}

void CenterListModel::sortRows(std::vector<int> &rows)
{
    const bool ascending = m_sortOrder == Qt::AscendingOrder;
    auto sortWith = [&](auto compare) {
        std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) {
            const int c = compare(size_t(a), size_t(b));
            return ascending ? c < 0 : c > 0;
        });
    };
    // A whole list is sorted on forms made before the sort (the names' keys
    // as the rows arrived, the IDs' order numbers for this sort), so that no
    // comparison collates or builds text.
    if (m_sortColumn == NameColumn) {
        makeNameKeys(m_rows);
        m_lastSortPath = SortPath::CollatedNames;
        sortWith([&](size_t a, size_t b) { return at(int(a)).nameKey->compare(*at(int(b)).nameKey); });
    } else if (m_sortColumn == IdColumn) {
        std::vector<quint64> order(m_rows.size());
        for (int row : rows)
            order[size_t(row)] = idOrder(at(row).id);
        m_lastSortPath = SortPath::IdOrders;
        sortWith([&](size_t a, size_t b) {
            return compareOrdered(order[a], order[b], [&] { return compareIdTexts(at(int(a)).id, at(int(b)).id); });
        });
    } else {
        m_lastSortPath = SortPath::KeyOrders;
        std::stable_sort(rows.begin(), rows.end(), [this](int a, int b) { return lessThan(at(a), at(b)); });
    }
}

void CenterListModel::reset(std::vector<CenterItem> items)
{
    std::vector<quint32> rows(items.size());
    std::iota(rows.begin(), rows.end(), 0);
    reset(std::make_shared<CenterPool>(std::move(items)), std::move(rows));
}

void CenterListModel::reset(std::shared_ptr<CenterPool> pool, std::vector<quint32> rows)
{
    // Without rows before or after, no view can tell the pools apart.
    if (m_rows.empty() && rows.empty()) {
        m_pool = std::move(pool);
        return;
    }
    beginResetModel();
    m_pool = std::move(pool);
    m_rows = std::move(rows);
    makeNameKeys(m_rows);
    sortLoaded();
    endResetModel();
}

void CenterListModel::sortLoaded()
{
    // A load arrives in the server's order of IDs, which in key order is a
    // few ascending runs (keys of six digits, of seven, negative ones):
    // merging neighbouring runs is linear per round.
    const auto less = [this](quint32 a, quint32 b) { return lessThan(a, b); };
    std::vector<size_t> runs{0};
    for (size_t i = 1; i < m_rows.size() && runs.size() <= MaxMergedRuns; ++i) {
        if (less(m_rows[i], m_rows[i - 1]))
            runs.push_back(i);
    }
    if (runs.size() > MaxMergedRuns) {
        m_lastSortPath = SortPath::WholeList;
        std::stable_sort(m_rows.begin(), m_rows.end(), less);
        return;
    }
    m_lastSortPath = SortPath::MergedRuns;
    runs.push_back(m_rows.size());
    while (runs.size() > 2) {
        std::vector<size_t> merged;
        for (size_t r = 0; r + 2 < runs.size(); r += 2) {
            std::inplace_merge(m_rows.begin() + qsizetype(runs[r]), m_rows.begin() + qsizetype(runs[r + 1]),
                               m_rows.begin() + qsizetype(runs[r + 2]), less);
            merged.push_back(runs[r]);
        }
        if (runs.size() % 2 == 0)
            merged.push_back(runs[runs.size() - 2]);
        merged.push_back(runs.back());
        runs.swap(merged);
    }
}

int CenterListModel::remark(const std::function<QChar(quint32 number, const CenterItem &)> &newMarker)
{
    int delta = 0;
    bool changed = false;
    for (quint32 number : m_rows) {
        CenterItem &item = center(number);
        const QChar marker = newMarker(number, item);
        if (marker == item.marker)
            continue;
        delta += int(!marker.isNull()) - int(item.isPending());
        item.setMarker(marker);
        changed = true;
    }
    if (!changed)
        return 0;
    // A marker is part of the key, whose text order may put the row
    // elsewhere (123456N sorts after 1234567, 123456 before it).
    if (m_sortColumn == KeyColumn)
        sortBy(m_sortColumn, m_sortOrder);
    Q_EMIT dataChanged(index(0, 0), index(count() - 1, ColumnCount - 1));
    return delta;
}

void CenterListModel::markChangedElsewhere(const std::vector<int> &ascendingRows)
{
    for (int row : ascendingRows)
        center(numberAt(row)).changedElsewhere = true;
    if (!ascendingRows.empty())
        Q_EMIT dataChanged(index(ascendingRows.front(), 0), index(ascendingRows.back(), ColumnCount - 1));
}

void CenterListModel::clear()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void CenterListModel::applyPermutation(const std::vector<int> &permutation)
{
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newPosition(permutation.size());
    std::vector<quint32> rows(permutation.size());
    for (size_t row = 0; row < permutation.size(); ++row) {
        newPosition[size_t(permutation[row])] = int(row);
        rows[row] = m_rows[size_t(permutation[row])];
    }
    m_rows.swap(rows);
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

std::vector<int> CenterListModel::insertSorted(const std::vector<quint32> &numbers)
{
    std::vector<int> rows(numbers.size());
    makeNameKeys(numbers);
    const auto less = [this](quint32 a, quint32 b) { return lessThan(a, b); };
    if (numbers.size() < BulkFrom) {
        // Few rows: one insert notification each. Earlier positions shift as
        // later ones land.
        for (size_t i = 0; i < numbers.size(); ++i) {
            const auto pos = std::upper_bound(m_rows.begin(), m_rows.end(), numbers[i], less);
            const int row = int(pos - m_rows.begin());
            beginInsertRows(QModelIndex(), row, row);
            m_rows.insert(pos, numbers[i]);
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
    const int added = int(numbers.size());
    beginInsertRows(QModelIndex(), existing, existing + added - 1);
    m_rows.insert(m_rows.end(), numbers.begin(), numbers.end());
    endInsertRows();

    std::vector<int> newcomers(static_cast<size_t>(added));
    std::iota(newcomers.begin(), newcomers.end(), existing);
    // Rows from a list sorted the same way come in order already.
    const auto byRow = [&](int a, int b) { return less(m_rows[size_t(a)], m_rows[size_t(b)]); };
    if (!std::is_sorted(newcomers.begin(), newcomers.end(), byRow))
        std::stable_sort(newcomers.begin(), newcomers.end(), byRow);
    std::vector<int> permutation;
    permutation.reserve(m_rows.size());
    int old = 0;
    size_t next = 0;
    while (old < existing || next < newcomers.size()) {
        const bool takeNew = next < newcomers.size() && (old == existing || byRow(newcomers[next], old));
        if (takeNew) {
            rows[size_t(newcomers[next] - existing)] = int(permutation.size());
            permutation.push_back(newcomers[next++]);
        } else {
            permutation.push_back(old++);
        }
    }
    // Newcomers that all sort behind the existing rows, in the order given,
    // are already in place.
    if (!std::is_sorted(permutation.begin(), permutation.end()))
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

    if (blocks < BulkFrom) {
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
            m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
            endRemoveRows();
            end = begin;
        }
        return;
    }

    // Many blocks: gather the doomed rows at the end in one layout change,
    // then remove them as one block.
    std::vector<int> permutation;
    permutation.reserve(m_rows.size());
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
    m_rows.resize(size_t(kept));
    endRemoveRows();
}

std::vector<quint32> CenterListModel::takeRowsAt(const std::vector<int> &ascendingRows)
{
    std::vector<quint32> taken;
    taken.reserve(ascendingRows.size());
    for (int row : ascendingRows)
        taken.push_back(m_rows[size_t(row)]);
    removeRowsAt(ascendingRows);
    return taken;
}

void CenterListModel::sortBy(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_sortOrder = order;
    std::vector<int> permutation(m_rows.size());
    std::iota(permutation.begin(), permutation.end(), 0);
    sortRows(permutation);
    for (size_t i = 0; i < permutation.size(); ++i) {
        if (permutation[i] != int(i)) {
            applyPermutation(permutation);
            return;
        }
    }
}

int CenterListModel::findId(const CenterId &id) const
{
    for (int row = 0; row < count(); ++row) {
        if (at(row).id == id)
            return row;
    }
    return -1;
}

} // namespace VelmoraInternal
