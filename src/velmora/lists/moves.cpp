// Moving centers between the lists. A move never copies the source key: it
// builds the key afresh and marks it only when the center leaves the list it
// was loaded into, so moving a center back cancels its pending change.

#include "shell/velmora_p.h"

#include "core/centerkey.h"

#include <algorithm>

using namespace VelmoraInternal;

namespace {
constexpr int MaxListItems = 32767;
}

void Velmora::Private::cmdAdd_Click()
{
    MoveOneCenter(true);
}

void Velmora::Private::cmdDelete_Click()
{
    MoveOneCenter(false);
}

void Velmora::Private::cmdAddAll_Click()
{
    MoveSelectedCenters(true);
}

void Velmora::Private::cmdRemoveAll_Click()
{
    MoveSelectedCenters(false);
}

void Velmora::Private::MoveOneCenter(bool toSelected)
{
    CenterListView *source = toSelected ? lstCenters : lstSelectedCenters;
    CenterListView *target = toSelected ? lstSelectedCenters : lstCenters;
    if (source->count() == 0)
        return;
    const int current = source->currentRow();
    if (current < 0)
        return;
    const QString id = source->item(current).id;
    if (id.isEmpty())
        return;

    // Several selected centers with the current one among them all go, as
    // with the multiple move: a single move must not leave the others in
    // neither list. Otherwise the current center goes alone.
    std::vector<int> rows = source->selectedRows();
    if (rows.size() > 1 && std::binary_search(rows.begin(), rows.end(), current)) {
        if (toSelected) {
            // The ">" refusal of a center that already stands in the target
            // holds for each of them; refused ones stay where they are.
            rows.erase(std::remove_if(rows.begin(), rows.end(),
                                      [&](int row) {
                                          return target->centers()->findId(source->item(row).id, Qt::CaseSensitive) >= 0;
                                      }),
                       rows.end());
            if (rows.empty())
                return;
        }
        moveRows(toSelected, rows, rows.size() == 1);
        return;
    }

    if (toSelected && target->centers()->findId(id, Qt::CaseSensitive) >= 0)
        return;
    moveRows(toSelected, {current}, true);
}

void Velmora::Private::MoveSelectedCenters(bool toSelected)
{
    CenterListView *source = toSelected ? lstCenters : lstSelectedCenters;
    if (source->count() == 0)
        return;
    const std::vector<int> rows = source->selectedRows();
    // Nothing selected: nothing to move, and no state to change.
    if (rows.empty())
        return;
    moveRows(toSelected, rows, false);
}

void Velmora::Private::moveRows(bool toSelected, const std::vector<int> &rows, bool single)
{
    CenterListView *source = toSelected ? lstCenters : lstSelectedCenters;
    CenterListView *target = toSelected ? lstSelectedCenters : lstCenters;
    const QChar marker = toSelected ? InsertMarker : DeleteMarker;

    // Past the 16-bit limit a move fails cleanly, before any change.
    if (target->count() + int(rows.size()) > MaxListItems)
        return;

    std::vector<CenterItem> moved;
    moved.reserve(rows.size());
    for (int row : rows) {
        const CenterItem &item = source->item(row);
        moved.push_back({item.id, item.name, movedKey(item.id, item.key, marker)});
    }
    const QString firstId = moved.front().id;

    source->removeRows(rows);
    if (!single && target->sortKey() != CenterListModel::KeyColumn)
        target->setSort(CenterListModel::KeyColumn, target->sortOrder());
    target->setMultiSelect(false);
    std::vector<int> newRows = target->centers()->insertSorted(std::move(moved));

    RefreshListCaptions();

    if (single) {
        // The first center with that ID takes the selection, which may be an
        // older copy when the list already held the ID.
        const int found = target->centers()->findId(firstId, Qt::CaseInsensitive);
        if (found >= 0) {
            target->selectOnly({found});
            target->setCurrentRow(found);
            target->setFocus(Qt::OtherFocusReason);
            target->ensureVisible(found);
        }
        RefreshListButtons(toSelected ? Move::Add : Move::Delete);
        return;
    }

    target->selectOnly(newRows);
    target->setMultiSelect(true);
    const int first = *std::min_element(newRows.begin(), newRows.end());
    target->setCurrentRow(first);
    target->setFocus(Qt::OtherFocusReason);
    target->ensureVisible(first);
    RefreshListButtons(toSelected ? Move::AddAll : Move::RemoveAll);
}
