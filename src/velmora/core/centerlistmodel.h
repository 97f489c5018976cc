// The rows of one center list, in display order, kept sorted by one column.
// Column 0 is the center ID, 1 its name, 2 the hidden key (the ID padded to
// six digits plus an optional change marker). Sorting compares forms made
// once per row and sort (order numbers, folded names), never texts built per
// comparison. Sorting and large removals are layout changes, so views and
// selection models keep their selection, their current row and their scroll
// position. Every bulk operation is linear or n log n in the number of rows:
// a list may hold 32,767 centers.
#pragma once

#include "core/centerid.h"
#include "core/centerkey.h"
#include "protocol/limits.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QString>

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
    // InsertMarker, DeleteMarker, or null when the center is unchanged.
    QChar marker;
    // The marker the server last took in a commit: the markers stay until
    // the reload, but the server already holds the row where it is.
    QChar savedMarker;
    // orderOf(key()), kept because every load and move sorts by the key.
    quint64 keyOrder = NoOrder;
    // The name's sort key for the list's collation, made once per load:
    // after the load while the operator is idle, or by the first sort by name
    // that comes sooner. It travels with the row into the other list.
    std::optional<QCollatorSortKey> nameKey;
};

class CenterListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { IdColumn = 0, NameColumn = 1, KeyColumn = 2, ColumnCount = 3 };
    // True for rows whose key carries a change marker; the key column is
    // hidden, so the view shows these rows differently.
    static constexpr int PendingRole = Qt::UserRole + 1;

    explicit CenterListModel(QObject *parent = nullptr);

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

    int count() const { return int(m_items.size()); }
    const CenterItem &at(int row) const { return m_items[size_t(row)]; }
    const std::vector<CenterItem> &items() const { return m_items; }
    // Whether a row stands elsewhere than the server holds it.
    bool hasUnsaved() const;

    // The tool tip shown on rows whose key carries a change marker.
    void setPendingToolTip(const QString &text) { m_pendingToolTip = text; }

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

    // Replaces every row; the rows are sorted by the current sort settings.
    void reset(std::vector<CenterItem> items);
    void clear();
    // Replaces every row and the sort settings with ones saved before, rows
    // in the order given: an undo puts a list back exactly as it was.
    void restore(std::vector<CenterItem> items, int column, Qt::SortOrder order);
    // The server now holds the rows where they are; their markers stay.
    void markSaved();

    // Inserts the items where the sort puts them, each after the rows that
    // compare equal to it. Returns the new rows' positions in the order the
    // items were given.
    std::vector<int> insertSorted(std::vector<CenterItem> items);
    // Removes the rows at the given ascending positions and hands their
    // items over.
    std::vector<CenterItem> takeRowsAt(const std::vector<int> &ascendingRows);

    // Re-sorts (stable) by column and order.
    void sortBy(int column, Qt::SortOrder order);

    // First row in display order with that ID, or -1.
    int findId(const CenterId &id) const;

    // The MIME type of a drag out of a list; its data is the list's object name.
    static QString mimeType();

private:
    bool lessThan(const CenterItem &a, const CenterItem &b) const;
    template<typename Iterator>
    void makeNameKeys(Iterator first, Iterator last) const;
    QCollatorSortKey nameKeyOf(const QString &name) const;
    void removeRowsAt(const std::vector<int> &ascendingRows);
    // Puts rows, which hold every row once, into stable sort order.
    void sortRows(std::vector<int> &rows);
    // Moves the rows into the order of permutation (new position -> old
    // position) as one layout change; persistent indexes of rows mapped to
    // -1 in newPosition become invalid.
    void applyPermutation(const std::vector<int> &permutation);

    std::vector<CenterItem> m_items;
    SortPath m_lastSortPath = SortPath::None;
    int m_sortColumn = KeyColumn;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QString m_pendingToolTip;
    QCollator m_collator;
    bool m_foldForKeys = false;
};

} // namespace VelmoraInternal
