// How the two lists answer the mouse and the keyboard.

#include "shell/velmora_p.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QPushButton>

using namespace VelmoraInternal;

void Velmora::Private::connectLists()
{
    QObject::connect(cmdAdd, &QPushButton::clicked, q, [this] { cmdAdd_Click(); });
    QObject::connect(cmdDelete, &QPushButton::clicked, q, [this] { cmdDelete_Click(); });
    QObject::connect(cmdAddAll, &QPushButton::clicked, q, [this] { cmdAddAll_Click(); });
    QObject::connect(cmdRemoveAll, &QPushButton::clicked, q, [this] { cmdRemoveAll_Click(); });

    QObject::connect(lstCenters, &CenterListView::listClicked, q, [this] { listClick(false); });
    QObject::connect(lstSelectedCenters, &CenterListView::listClicked, q, [this] { listClick(true); });
    QObject::connect(lstCenters, &CenterListView::listDoubleClicked, q, [this] { cmdAdd_Click(); });
    QObject::connect(lstSelectedCenters, &CenterListView::listDoubleClicked, q, [this] { cmdDelete_Click(); });
    QObject::connect(lstCenters, &CenterListView::columnClicked, q,
                     [this](int header) { listColumnClick(lstCenters, header); });
    QObject::connect(lstSelectedCenters, &CenterListView::columnClicked, q,
                     [this](int header) { listColumnClick(lstSelectedCenters, header); });
    QObject::connect(lstSelectedCenters, &CenterListView::mouseReleased, q,
                     [this](Qt::MouseButton button) { lstSelectedCenters_MouseUp(button); });
    QObject::connect(mnuRemoveItems, &QAction::triggered, q, [this] { mnuRemoveItems_Click(); });

    // Keyboard: Enter moves like a double-click, Delete removes.
    QObject::connect(lstCenters, &CenterListView::activateKeyPressed, q, [this] { cmdAdd_Click(); });
    QObject::connect(lstSelectedCenters, &CenterListView::activateKeyPressed, q, [this] { cmdDelete_Click(); });
    QObject::connect(lstSelectedCenters, &CenterListView::deleteKeyPressed, q, [this] { mnuRemoveItems_Click(); });

    // Dragging the selection into the other list is the multiple move.
    QObject::connect(lstSelectedCenters, &CenterListView::centersDropped, q, [this](QObject *source) {
        if (source == lstCenters)
            cmdAddAll_Click();
    });
    QObject::connect(lstCenters, &CenterListView::centersDropped, q, [this](QObject *source) {
        if (source == lstSelectedCenters)
            cmdRemoveAll_Click();
    });
}

void Velmora::Private::listClick(bool selectedList)
{
    CenterListView *self = selectedList ? lstSelectedCenters : lstCenters;
    CenterListView *other = selectedList ? lstCenters : lstSelectedCenters;
    QPushButton *single = selectedList ? cmdDelete : cmdAdd;
    QPushButton *multiple = selectedList ? cmdRemoveAll : cmdAddAll;
    QPushButton *otherSingle = selectedList ? cmdAdd : cmdDelete;
    QPushButton *otherMultiple = selectedList ? cmdAddAll : cmdRemoveAll;

    if (self->count() == 0) {
        cmdAdd->setEnabled(false);
        cmdAddAll->setEnabled(false);
        cmdDelete->setEnabled(false);
        cmdRemoveAll->setEnabled(false);
        return;
    }
    if (!selectedList) {
        otherSingle->setEnabled(false);
        otherMultiple->setEnabled(false);
    }
    self->setMultiSelect(true);
    other->setMultiSelect(false);
    other->selectionModel()->clearSelection();
    if (selectedList) {
        otherSingle->setEnabled(false);
        otherMultiple->setEnabled(false);
    }
    if (self->selectedCount(2) >= 2) {
        multiple->setEnabled(true);
        single->setEnabled(false);
    } else {
        multiple->setEnabled(false);
        single->setEnabled(true);
    }
}

void Velmora::Private::listColumnClick(CenterListView *list, int headerIndex)
{
    const int wanted = (headerIndex == 1 ? 3 : headerIndex) - 1;
    if (wanted < 0 || wanted >= CenterListModel::ColumnCount)
        return;
    if (list->sortKey() == wanted) {
        list->setSort(wanted, list->sortOrder() == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder);
    } else {
        list->setSort(wanted, list->sortOrder());
    }
}

void Velmora::Private::lstSelectedCenters_MouseUp(Qt::MouseButton button)
{
    if (lstSelectedCenters->count() == 0)
        return;
    const int current = lstSelectedCenters->currentRow();
    if (current < 0 || lstSelectedCenters->item(current).id.isEmpty())
        return;
    if (button != Qt::RightButton)
        return;
    mnuRemove->exec(QCursor::pos());
}

void Velmora::Private::mnuRemoveItems_Click()
{
    cmdDelete_Click();
}
