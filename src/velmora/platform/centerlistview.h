// One center list on screen: a tree view over a CenterListModel that offers
// the operations the control's logic is written in (count, item at a
// position, current item, selection, multi-select, sort key and order, find,
// ensure visible) and reports the list's mouse and keyboard events.
// Positions here are 0-based rows in display order.
#pragma once

#include "core/centerlistmodel.h"

#include <QTreeView>

#include <vector>

namespace VelmoraInternal {

class CenterListView : public QTreeView
{
    Q_OBJECT

public:
    explicit CenterListView(QWidget *parent = nullptr);

    CenterListModel *centers() const { return m_model; }
    int count() const { return m_model->count(); }
    const CenterItem &item(int row) const { return m_model->at(row); }

    // Several selected items allowed (extended selection) or one.
    void setMultiSelect(bool on);
    bool multiSelect() const;

    int currentRow() const;
    void setCurrentRow(int row);
    bool isSelected(int row) const;
    // With multi-select off, selecting a row leaves it the only selected one.
    void setSelected(int row, bool selected);
    // Selects exactly these rows (any order) and nothing else.
    void selectOnly(const std::vector<int> &rows);
    std::vector<int> selectedRows() const;
    // The number of selected rows, counted no further than limit.
    int selectedCount(int limit) const;

    // Re-sorts (stable), keeping the selection, the current row and the
    // scroll position with the items.
    void setSort(int column, Qt::SortOrder order);
    int sortKey() const { return m_model->sortColumn(); }
    Qt::SortOrder sortOrder() const { return m_model->sortOrder(); }

    // Removes the rows (ascending) keeping the scroll position where possible.
    void removeRows(const std::vector<int> &ascendingRows);

    void ensureVisible(int row);

    // Shown in the empty list, for example why a load failed.
    void setPlaceholderText(const QString &text);
    QString placeholderText() const { return m_placeholder; }

Q_SIGNALS:
    // A mouse button was released in the viewport (not the release that ends
    // a double-click), or the keyboard moved the selection.
    void listClicked();
    // A double-click on an item.
    void listDoubleClicked();
    // A header was clicked; index counts from 1.
    void columnClicked(int headerIndex);
    void mouseReleased(Qt::MouseButton button);
    // Enter or Return, and Delete.
    void activateKeyPressed();
    void deleteKeyPressed();
    // Centers dragged in from another list.
    void centersDropped(QObject *source);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool acceptsDrop(QDropEvent *event) const;
    void restoreSelection(const std::vector<char> &selectedByRow, int current, int scroll);

    CenterListModel *m_model;
    QString m_placeholder;
    bool m_releaseEndsDoubleClick = false;
};

} // namespace VelmoraInternal
