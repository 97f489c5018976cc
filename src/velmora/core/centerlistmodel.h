// The rows of one center list, in display order, kept sorted by one column.
// Column 0 is the center ID, 1 its name, 2 the hidden key (the ID padded to
// six digits plus an optional change marker). Every bulk operation is linear
// or n log n in the number of rows: a list may hold 32,767 centers.
#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <vector>

namespace VelmoraInternal {

struct CenterItem
{
    QString id;
    QString name;
    QString key;
};

class CenterListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { IdColumn = 0, NameColumn = 1, KeyColumn = 2, ColumnCount = 3 };
    // True for rows whose key carries a change marker (the view shows them
    // differently, since the key column is hidden).
    static constexpr int PendingRole = Qt::UserRole + 1;

    explicit CenterListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

    int count() const { return int(m_items.size()); }
    const CenterItem &at(int row) const { return m_items[size_t(row)]; }

    // The tool tip shown on rows whose key carries a change marker.
    void setPendingToolTip(const QString &text) { m_pendingToolTip = text; }

    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    // Replaces every row; the rows are sorted by the current sort settings.
    void reset(std::vector<CenterItem> items);
    void clear();

    // Inserts one row where the sort puts it, after rows that compare equal,
    // and returns its position.
    int insertSorted(CenterItem item);
    // Inserts many rows; returns the positions of the new rows in the order
    // the items were given. Emits a model reset when that is cheaper than
    // single inserts.
    std::vector<int> insertSorted(std::vector<CenterItem> items);
    // Removes the rows at the given ascending positions. Returns true when
    // that took a model reset (views lose their selection then).
    bool removeRowsAt(const std::vector<int> &ascendingRows);

    // Re-sorts by column and order (stable). Returns the permutation: for
    // each new position the old position, so that views can carry their
    // selection along; empty when nothing moved.
    std::vector<int> sortBy(int column, Qt::SortOrder order);

    // First row in display order whose ID equals text, or -1.
    int findId(QStringView text, Qt::CaseSensitivity cs) const;

    // True when a sits before b in the current sort.
    bool lessThan(const CenterItem &a, const CenterItem &b) const;

    static constexpr int BulkThreshold = 64;

private:
    std::vector<CenterItem> m_items;
    int m_sortColumn = KeyColumn;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QString m_pendingToolTip;
};

} // namespace VelmoraInternal
