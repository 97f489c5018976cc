#include "centerlistview.h"

#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace VelmoraInternal {

static const QString CentersMimeType = QStringLiteral("application/x-velmora-centers");

namespace {

// Rows with a pending change are shown in italics.
class PendingChangeDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(CenterListModel::PendingRole).toBool())
            option->font.setItalic(true);
    }
};

} // namespace

CenterListView::CenterListView(QWidget *parent)
    : QTreeView(parent)
    , m_model(new CenterListModel(this))
{
    setModel(m_model);
    setItemDelegate(new PendingChangeDelegate(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setAllColumnsShowFocus(true);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setDropIndicatorShown(false);

    header()->setSectionsClickable(true);
    header()->setSortIndicatorShown(true);
    header()->setStretchLastSection(false);
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int logicalIndex) { Q_EMIT columnClicked(logicalIndex + 1); });
}

void CenterListView::setMultiSelect(bool on)
{
    setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

bool CenterListView::multiSelect() const
{
    return selectionMode() == QAbstractItemView::ExtendedSelection;
}

int CenterListView::currentRow() const
{
    const QModelIndex current = selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void CenterListView::setCurrentRow(int row)
{
    if (row < 0 || row >= count()) {
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return;
    }
    selectionModel()->setCurrentIndex(m_model->index(row, 0), QItemSelectionModel::NoUpdate);
}

bool CenterListView::isSelected(int row) const
{
    return selectionModel()->isRowSelected(row, QModelIndex());
}

void CenterListView::setSelected(int row, bool selected)
{
    const QModelIndex index = m_model->index(row, 0);
    QItemSelectionModel::SelectionFlags flags = QItemSelectionModel::Rows;
    if (!selected)
        flags |= QItemSelectionModel::Deselect;
    else if (multiSelect())
        flags |= QItemSelectionModel::Select;
    else
        flags |= QItemSelectionModel::ClearAndSelect;
    selectionModel()->select(index, flags);
}

void CenterListView::selectOnly(const std::vector<int> &rows)
{
    std::vector<char> marked(size_t(count()), 0);
    for (int row : rows)
        marked[size_t(row)] = 1;
    // One range per run of neighbouring rows, handed over in a single call.
    QItemSelection selection;
    const int last = count() - 1;
    for (int row = 0; row <= last; ++row) {
        if (!marked[size_t(row)])
            continue;
        int end = row;
        while (end < last && marked[size_t(end + 1)])
            ++end;
        selection.append(QItemSelectionRange(m_model->index(row, 0), m_model->index(end, CenterListModel::ColumnCount - 1)));
        row = end;
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

std::vector<int> CenterListView::selectedRows() const
{
    // Ranges may overlap after Ctrl and Shift clicks; mark, then collect.
    std::vector<char> marked(size_t(count()), 0);
    bool any = false;
    const QItemSelection selection = selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        for (int row = range.top(); row <= range.bottom() && row < count(); ++row) {
            marked[size_t(row)] = 1;
            any = true;
        }
    }
    std::vector<int> rows;
    if (!any)
        return rows;
    for (int row = 0; row < count(); ++row) {
        if (marked[size_t(row)])
            rows.push_back(row);
    }
    return rows;
}

int CenterListView::selectedCount(int limit) const
{
    const QItemSelection selection = selectionModel()->selection();
    if (selection.isEmpty())
        return 0;
    if (selection.size() == 1)
        return std::min(limit, selection.first().bottom() - selection.first().top() + 1);
    return std::min(limit, int(selectedRows().size()));
}

void CenterListView::restoreSelection(const std::vector<char> &selectedByRow, int current, int scroll)
{
    std::vector<int> rows;
    for (size_t row = 0; row < selectedByRow.size(); ++row) {
        if (selectedByRow[row])
            rows.push_back(int(row));
    }
    if (!rows.empty())
        selectOnly(rows);
    setCurrentRow(current);
    verticalScrollBar()->setValue(scroll);
}

void CenterListView::setSort(int column, Qt::SortOrder order)
{
    const std::vector<int> selected = selectedRows();
    const int current = currentRow();
    const int scroll = verticalScrollBar()->value();

    const std::vector<int> permutation = m_model->sortBy(column, order);
    header()->setSortIndicator(column == CenterListModel::KeyColumn ? int(CenterListModel::IdColumn) : column, order);
    if (permutation.empty())
        return;

    // The model was reset: carry the selection and the current row to the
    // items' new places.
    std::vector<int> newPosition(permutation.size());
    for (size_t row = 0; row < permutation.size(); ++row)
        newPosition[size_t(permutation[row])] = int(row);
    std::vector<char> selectedByRow(permutation.size(), 0);
    for (int old : selected)
        selectedByRow[size_t(newPosition[size_t(old)])] = 1;
    restoreSelection(selectedByRow, current >= 0 ? newPosition[size_t(current)] : -1, scroll);
}

void CenterListView::removeRows(const std::vector<int> &ascendingRows)
{
    if (ascendingRows.empty())
        return;
    const int scroll = verticalScrollBar()->value();
    const int before = count();
    const std::vector<int> selected = selectedRows();
    const int current = currentRow();
    if (!m_model->removeRowsAt(ascendingRows))
        return; // row notifications kept everything in place

    // A reset: map the surviving selection and current row.
    std::vector<int> newPosition(size_t(before), -1);
    size_t k = 0;
    int next = 0;
    for (int row = 0; row < before; ++row) {
        if (k < ascendingRows.size() && ascendingRows[k] == row) {
            ++k;
            continue;
        }
        newPosition[size_t(row)] = next++;
    }
    std::vector<char> selectedByRow(size_t(count()), 0);
    for (int old : selected) {
        if (newPosition[size_t(old)] >= 0)
            selectedByRow[size_t(newPosition[size_t(old)])] = 1;
    }
    restoreSelection(selectedByRow, current >= 0 ? newPosition[size_t(current)] : -1, scroll);
}

void CenterListView::ensureVisible(int row)
{
    if (row >= 0 && row < count())
        scrollTo(m_model->index(row, 0), QAbstractItemView::EnsureVisible);
}

void CenterListView::setPlaceholderText(const QString &text)
{
    m_placeholder = text;
    viewport()->update();
}

void CenterListView::mousePressEvent(QMouseEvent *event)
{
    m_releaseEndsDoubleClick = false;
    QTreeView::mousePressEvent(event);
}

void CenterListView::mouseReleaseEvent(QMouseEvent *event)
{
    QTreeView::mouseReleaseEvent(event);
    const bool endsDoubleClick = m_releaseEndsDoubleClick;
    m_releaseEndsDoubleClick = false;
    // The selection is final once the button is up; the release that ends a
    // double-click must not run the selection rule again after the move.
    if (!endsDoubleClick)
        Q_EMIT listClicked();
    Q_EMIT mouseReleased(event->button());
}

void CenterListView::mouseDoubleClickEvent(QMouseEvent *event)
{
    m_releaseEndsDoubleClick = true;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !index.isValid()) {
        QTreeView::mouseDoubleClickEvent(event);
        return;
    }
    // The first click made the item current and selected it; a second press
    // must not toggle it again (Ctrl), only make sure it is the current one.
    if (index.row() != currentRow())
        setCurrentRow(index.row());
    Q_EMIT listDoubleClicked();
}

void CenterListView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Q_EMIT activateKeyPressed();
        event->accept();
        return;
    case Qt::Key_Delete:
        Q_EMIT deleteKeyPressed();
        event->accept();
        return;
    default:
        break;
    }
    const std::vector<int> before = selectedRows();
    QTreeView::keyPressEvent(event);
    // Keyboard selection gets the same rule as a click, so the buttons always
    // fit what is selected.
    if (selectedRows() != before || event->matches(QKeySequence::SelectAll))
        Q_EMIT listClicked();
}

void CenterListView::paintEvent(QPaintEvent *event)
{
    QTreeView::paintEvent(event);
    if (count() != 0 || m_placeholder.isEmpty())
        return;
    QPainter painter(viewport());
    QColor color = palette().color(QPalette::PlaceholderText);
    painter.setPen(color);
    painter.drawText(viewport()->rect().adjusted(6, 6, -6, -6),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, m_placeholder);
}

bool CenterListView::acceptsDrop(QDropEvent *event) const
{
    return event->mimeData()->hasFormat(CentersMimeType) && event->source() != this
        && qobject_cast<CenterListView *>(event->source());
}

void CenterListView::dragEnterEvent(QDragEnterEvent *event)
{
    if (acceptsDrop(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CenterListView::dragMoveEvent(QDragMoveEvent *event)
{
    if (acceptsDrop(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void CenterListView::dropEvent(QDropEvent *event)
{
    if (!acceptsDrop(event)) {
        event->ignore();
        return;
    }
    // The move itself is the control's; the source keeps its items until then.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    Q_EMIT centersDropped(event->source());
}

} // namespace VelmoraInternal
