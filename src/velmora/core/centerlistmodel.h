// The rows of one center list, in display order, kept sorted by one column.
// Column 0 is the center ID, 1 its name, 2 the hidden key (the ID padded to
// six digits plus an optional change marker). A row is the number of its
// center in a pool of centers that the two lists of a control share, so a
// move hands numbers over and a center's data stays where it is. Sorting
// compares forms made once per center and sort (order numbers, folded
// names), never texts built per comparison. Sorting and large removals are
// layout changes, so views and selection models keep their selection, their
// current row and their scroll position. Every bulk operation is linear or
// n log n in the number of rows: a list may hold 32,767 centers.
#pragma once

#include "core/centerid.h"
#include "core/centerkey.h"
#include "protocol/limits.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace VelmoraInternal {

struct CenterItem
{
    CenterItem() = default;
    CenterItem(CenterId id, QString name, QChar marker = QChar());

    void setMarker(QChar newMarker);
    // The hidden key: the padded ID and the marker.
    QString key() const;
    bool isPending() const { return !marker.isNull(); }

    CenterId id;
    QString name;
    // InsertMarker, DeleteMarker, or null when the center stands where the
    // server holds it.
    QChar marker;
    // Set by a reload when the server holds the center elsewhere than this
    // control last saved or loaded it: another operator's change.
    bool changedElsewhere = false;
    // keyLengthOf(id), where a new marker goes into keyOrder.
    quint8 keyLength = 0;
    // orderOf(key()), kept because every load and move sorts by the key.
    quint64 keyOrder = NoOrder;
    // The name's sort key for the lists' collation, made once per load:
    // after the load while the operator is idle, or by the first sort by name
    // that comes sooner.
    std::optional<QCollatorSortKey> nameKey;
};

// The centers of one load. A center's number is its place here, from 0: the
// lists show centers by number, and the history finds the centers of a move
// by number, whatever moved or sorted since.
using CenterPool = std::vector<CenterItem>;

class CenterListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { IdColumn = 0, NameColumn = 1, KeyColumn = 2, ColumnCount = 3 };
    // True for rows whose key carries a change marker; the key column is
    // hidden, so the view shows these rows differently.
    static constexpr int PendingRole = Qt::UserRole + 1;
    // True for rows another operator changed (CenterItem::changedElsewhere),
    // shown as pending ones are.
    static constexpr int ChangedElsewhereRole = Qt::UserRole + 2;

    explicit CenterListModel(QObject *parent = nullptr);

    // Without the virtual calls of the base class's bounds check: a view
    // asks for every row's index each time it lays the list out.
    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    // What a drag from this list carries: which list of which process it
    // left, so that a drop can refuse a drag from any other.
    QByteArray dragOrigin() const;

    int count() const { return int(m_rows.size()); }
    const CenterItem &at(int row) const { return (*m_pool)[m_rows[size_t(row)]]; }
    // The number of the row's center in the pool.
    quint32 numberAt(int row) const { return m_rows[size_t(row)]; }
    // A center of the pool, to change its marker while it is in no list.
    CenterItem &center(quint32 number) { return (*m_pool)[number]; }
    const std::shared_ptr<CenterPool> &pool() const { return m_pool; }

    // The tool tips of rows whose key carries a change marker, and of rows
    // another operator changed.
    void setPendingToolTip(const QString &text) { m_pendingToolTip = text; }
    void setChangedElsewhereToolTip(const QString &text) { m_changedElsewhereToolTip = text; }

    // How the last load or sort put the rows in order. Each bulk order has a
    // fast path for the usual lists and a general one for the rest; tests
    // ask which one their rows took.
    enum class SortPath {
        None,
        MergedRuns,   // a load in a few ascending runs, merged
        WholeList,    // a load in no useful order, sorted whole
        CollatedNames, // the names' sort keys
        IdOrders,     // order numbers of the IDs
        KeyOrders,    // order numbers of the keys
    };
    Q_ENUM(SortPath)
    SortPath lastSortPath() const { return m_lastSortPath; }

    // Names sort as QCollator orders them for locale, letter case ignored
    // (QLocale() until set). Both lists of a control share one locale.
    void setCollation(const QLocale &locale);
    // Makes the name keys of up to `rows` rows that have none yet; true when
    // every row has one. Lets a list get ready for a sort by name in slices
    // while the operator is idle.
    bool prepareNameKeys(int rows);

    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    // Replaces every row with the centers numbered in rows of a pool, which
    // the other list may share; the rows are sorted by the current sort
    // settings. The centers' data must not change while a list shows them,
    // but through this list.
    void reset(std::shared_ptr<CenterPool> pool, std::vector<quint32> rows);
    // The same with a pool of its own that holds these centers.
    void reset(std::vector<CenterItem> items);
    void clear();
    // Gives every row the marker newMarker() returns for it, keeps the rows
    // in sort order and tells the views. Returns by how much the number of
    // pending rows changed.
    int remark(const std::function<QChar(quint32 number, const CenterItem &)> &newMarker);
    // Marks these rows (ascending) as changed by another operator.
    void markChangedElsewhere(const std::vector<int> &ascendingRows);

    // Inserts centers of the pool where the sort puts them, each after the
    // rows that compare equal to it. Returns the new rows' positions in the
    // order the numbers were given.
    std::vector<int> insertSorted(const std::vector<quint32> &numbers);
    // Removes the rows at the given ascending positions and hands their
    // centers' numbers over.
    std::vector<quint32> takeRowsAt(const std::vector<int> &ascendingRows);

    // Re-sorts (stable) by column and order.
    void sortBy(int column, Qt::SortOrder order);

    // First row in display order with that ID, or -1.
    int findId(const CenterId &id) const;

    // The MIME type of a drag out of a list; its data is the list's object name.
    static QString mimeType();

private:
    bool lessThan(const CenterItem &a, const CenterItem &b) const;
    bool lessThan(quint32 a, quint32 b) const { return lessThan((*m_pool)[a], (*m_pool)[b]); }
    void makeNameKeys(const std::vector<quint32> &numbers);
    void sortLoaded();
    QCollatorSortKey nameKeyOf(const QString &name) const;
    void removeRowsAt(const std::vector<int> &ascendingRows);
    // Puts rows, which hold every row once, into stable sort order.
    void sortRows(std::vector<int> &rows);
    // Moves the rows into the order of permutation (new position -> old
    // position) as one layout change; persistent indexes of rows mapped to
    // -1 in newPosition become invalid.
    void applyPermutation(const std::vector<int> &permutation);

    std::shared_ptr<CenterPool> m_pool = std::make_shared<CenterPool>();
    std::vector<quint32> m_rows;
    SortPath m_lastSortPath = SortPath::None;
    int m_sortColumn = KeyColumn;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QString m_pendingToolTip;
    QString m_changedElsewhereToolTip;
    QCollator m_collator;
    bool m_foldForKeys = false;
};

} // namespace VelmoraInternal
