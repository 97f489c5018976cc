#include "shell/centerlistview.h"

#include "core/centerlistmodel.h"
#include "core/centersearch.h"
#include "shell/centerdelegate.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>

namespace VelmoraInternal {

CenterListView::CenterListView(QWidget *parent)
    : QTreeView(parent)
{
    setItemDelegate(new CenterDelegate(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    // Full-row selection is the display option the lists switch on.
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
    // Highlighting asks the selection about every column on each paint,
    // which walks every selected row.
    header()->setHighlightSections(false);
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int logicalIndex) { Q_EMIT headerClicked(logicalIndex); });
}

void CenterListView::setMultiSelect(bool on)
{
    setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

void CenterListView::setSelectionModel(QItemSelectionModel *selectionModel)
{
    QTreeView::setSelectionModel(selectionModel);
    auto *own = new QItemSelectionModel(model(), this);
    header()->setSelectionModel(own);
    delete std::exchange(m_headerSelection, own);
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
    if (event->button() == Qt::RightButton)
        Q_EMIT popupRequested(event->globalPosition().toPoint());
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
    if (index != currentIndex())
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
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
    case Qt::Key_1:
    case Qt::Key_2:
        // The header's clicks from the keyboard.
        if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
            Q_EMIT headerClicked(event->key() == Qt::Key_1 ? CenterListModel::IdColumn : CenterListModel::NameColumn);
            event->accept();
            return;
        }
        break;
    case Qt::Key_Menu:
    case Qt::Key_F10:
        // The Menu key and Shift+F10 open the pop-up as a keyboard
        // context-menu event.
        if (event->key() == Qt::Key_Menu || event->modifiers() == Qt::ShiftModifier) {
            const QPoint at = visualRect(currentIndex()).center();
            QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, viewport()->mapToGlobal(at));
            contextMenuEvent(&menu);
            return;
        }
        break;
    default:
        break;
    }
    const QItemSelection before = selectionModel()->selection();
    QTreeView::keyPressEvent(event);
    // Keyboard selection gets the same rule as a click, so the buttons always
    // fit what is selected.
    if (selectionModel()->selection() != before || event->matches(QKeySequence::SelectAll))
        Q_EMIT listClicked();
}

void CenterListView::keyboardSearch(const QString &search)
{
    // Keys typed in quick succession build one prefix; which row it goes to
    // is the lists' rule.
    if (!m_sinceTyped.isValid() || m_sinceTyped.elapsed() > QApplication::keyboardInputInterval())
        m_typed.clear();
    m_sinceTyped.start();
    const bool growing = !m_typed.isEmpty();
    m_typed += search;
    const auto *list = qobject_cast<const CenterListModel *>(model());
    if (!list || search.isEmpty())
        return;
    const int current = currentIndex().isValid() ? currentIndex().row() : -1;
    const int row = typeAheadRow(*list, current, growing, m_typed);
    if (row >= 0)
        setCurrentIndex(list->index(row, 0));
}

void CenterListView::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
    // The mouse opens the pop-up on release of the right button.
    if (event->reason() == QContextMenuEvent::Mouse)
        return;
    const QRect current = visualRect(currentIndex());
    const QPoint at = current.isValid() ? current.center() : QPoint(0, 0);
    Q_EMIT popupRequested(viewport()->mapToGlobal(at));
}

void CenterListView::paintEvent(QPaintEvent *event)
{
    QTreeView::paintEvent(event);
    if (model() && model()->rowCount() != 0)
        return;
    if (m_placeholder.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(viewport()->rect().adjusted(6, 6, -6, -6), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
                     m_placeholder);
}

bool CenterListView::acceptsDrop(QDropEvent *event) const
{
    // The payload names the model the drag left; another control's lists,
    // and this one's own rows, carry other names.
    const auto *origin = m_partner ? qobject_cast<const CenterListModel *>(m_partner->model()) : nullptr;
    return origin && event->mimeData()->data(CenterListModel::mimeType()) == origin->dragOrigin();
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
    // The move itself belongs to the rules; the source keeps its rows until then.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    Q_EMIT centersDropped();
}

} // namespace VelmoraInternal
