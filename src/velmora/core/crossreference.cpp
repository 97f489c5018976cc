#include "core/crossreference.h"

#include "core/centerdocument.h"
#include "core/centerkey.h"
#include "core/centersearch.h"
#include "core/changeset.h"

#include <QSet>

#include <algorithm>

namespace VelmoraInternal {

namespace {

QString caption(Side side, int count)
{
    return side == Side::NonSelected ? CrossReference::tr("Non Selected Active Centers (%1):").arg(count)
                                     : CrossReference::tr("Selected Centers (%1):").arg(count);
}

} // namespace

CrossReference::CrossReference(QObject *parent)
    : QObject(parent)
{
    for (int side = 0; side < 2; ++side)
        m_selections[side].setModel(&m_lists[side]);
    m_lists[0].setObjectName(QStringLiteral("lstCenters"));
    m_lists[1].setObjectName(QStringLiteral("lstSelectedCenters"));
    // Before the first load the captions carry no count.
    m_state.caption[0] = tr("Non Selected Active Centers:");
    m_state.caption[1] = tr("Selected Centers:");
}

CrossReference::~CrossReference() = default;

void CrossReference::setState(const ControlState &state)
{
    m_state = state;
    Q_EMIT stateChanged();
}

void CrossReference::refreshCaptions(ControlState &state) const
{
    // Always counted from the lists themselves.
    for (Side side : {Side::Selected, Side::NonSelected})
        state.caption[int(side)] = caption(side, list(side)->count());
}

std::vector<int> CrossReference::selectedRows(Side side) const
{
    // Ranges may overlap after Ctrl and Shift clicks: mark, then collect.
    const CenterListModel *model = list(side);
    std::vector<char> marked(size_t(model->count()), 0);
    for (const QItemSelectionRange &range : m_selections[int(side)].selection()) {
        for (int row = range.top(); row <= range.bottom() && row < model->count(); ++row)
            marked[size_t(row)] = 1;
    }
    std::vector<int> rows;
    for (int row = 0; row < model->count(); ++row) {
        if (marked[size_t(row)])
            rows.push_back(row);
    }
    return rows;
}

int CrossReference::currentRow(Side side) const
{
    const QModelIndex current = m_selections[int(side)].currentIndex();
    return current.isValid() ? current.row() : -1;
}

void CrossReference::selectOnly(Side side, const std::vector<int> &rows, int current)
{
    CenterListModel *model = list(side);
    std::vector<char> marked(size_t(model->count()), 0);
    for (int row : rows)
        marked[size_t(row)] = 1;
    // One range per run of neighbouring rows, handed over in a single call.
    QItemSelection ranges;
    for (int row = 0; row < model->count(); ++row) {
        if (!marked[size_t(row)])
            continue;
        int end = row;
        while (end + 1 < model->count() && marked[size_t(end + 1)])
            ++end;
        ranges.append(QItemSelectionRange(model->index(row, 0), model->index(end, CenterListModel::ColumnCount - 1)));
        row = end;
    }
    selection(side)->select(ranges, QItemSelectionModel::ClearAndSelect);
    selection(side)->setCurrentIndex(model->index(current, 0), QItemSelectionModel::NoUpdate);
}

void CrossReference::beginLoad()
{
    ControlState state = m_state;
    state.commitEnabled = false;
    m_lists[0].clear();
    m_lists[1].clear();
    setState(state);
}

void CrossReference::fill(const CenterDocument &document)
{
    ControlState state = m_state;
    // The reader has checked both counts and their sum against 32,767. A
    // zero range would turn a progress bar into a busy indicator.
    state.progressMaximum = std::max(1, int(document.nonSelectedCount) + int(document.selectedCount));
    state.caption[0] = caption(Side::NonSelected, document.nonSelectedCount);
    state.caption[1] = caption(Side::Selected, document.selectedCount);

    for (Side side : {Side::NonSelected, Side::Selected}) {
        const auto &records = side == Side::NonSelected ? document.nonSelected : document.selected;
        std::vector<CenterItem> items;
        items.reserve(records.size());
        for (const CenterRecord &record : records)
            items.emplace_back(record.id, record.name);
        // Sorted by the key column in the list's current direction.
        CenterListModel *model = list(side);
        model->sortBy(CenterListModel::KeyColumn, model->sortOrder());
        model->reset(std::move(items));
        // A reset leaves no row selected and none current.
        state.findListEnabled[int(side)] = true;
    }
    state.findModesEnabled = true;
    state.idBoxEnabled = true;
    state.findEditable[int(FindMode::Id)] = true;
    setState(state);
}

void CrossReference::fail()
{
    ControlState state = m_state;
    m_lists[0].clear();
    m_lists[1].clear();
    state.commitEnabled = false;
    state.caption[0] = caption(Side::NonSelected, 0);
    state.caption[1] = caption(Side::Selected, 0);
    setState(state);
}

void CrossReference::moveOne(Side from)
{
    const Side to = otherSide(from);
    const CenterListModel *source = list(from);
    const CenterListModel *target = list(to);
    const int current = currentRow(from);
    if (source->count() == 0 || current < 0)
        return;
    const CenterId id = source->at(current).id;

    // Several selected centers with the current one among them all go, as
    // with the multiple move: a single move must not leave the others in
    // neither list. Otherwise the current center goes alone.
    std::vector<int> rows = selectedRows(from);
    const bool toSelected = from == Side::NonSelected;
    if (rows.size() > 1 && std::binary_search(rows.begin(), rows.end(), current)) {
        if (toSelected) {
            // ">" refuses a center whose ID already stands in the target;
            // refused ones stay where they are.
            QSet<CenterId> present;
            present.reserve(target->count());
            for (int row = 0; row < target->count(); ++row)
                present.insert(target->at(row).id);
            rows.erase(std::remove_if(rows.begin(), rows.end(),
                                      [&](int row) { return present.contains(source->at(row).id); }),
                       rows.end());
            if (rows.empty())
                return;
        }
        moveRows(from, rows, rows.size() == 1);
        return;
    }
    if (toSelected && target->findId(id) >= 0)
        return;
    moveRows(from, {current}, true);
}

void CrossReference::moveSelected(Side from)
{
    // Nothing selected: nothing to move, and no state to change.
    const std::vector<int> rows = selectedRows(from);
    if (!rows.empty())
        moveRows(from, rows, false);
}

void CrossReference::moveRows(Side from, const std::vector<int> &rows, bool single)
{
    const Side to = otherSide(from);
    CenterListModel *source = list(from);
    CenterListModel *target = list(to);
    const bool toSelected = to == Side::Selected;
    // Past the 16-bit limit a move fails cleanly, before any change.
    if (target->count() + int(rows.size()) > CenterListModel::MaxRows)
        return;

    // A move never copies the source key: it builds the key afresh and marks
    // it only when the center leaves the list it was loaded into, so moving
    // a center back cancels its pending change.
    const QChar marker = toSelected ? InsertMarker : DeleteMarker;
    std::vector<CenterItem> moved = source->takeRowsAt(rows);
    for (CenterItem &item : moved)
        item.setMarker(movedMarker(item.marker, marker));
    const CenterId firstId = moved.front().id;
    if (!single && target->sortColumn() != CenterListModel::KeyColumn)
        target->sortBy(CenterListModel::KeyColumn, target->sortOrder());
    const std::vector<int> newRows = target->insertSorted(std::move(moved));

    ControlState state = m_state;
    refreshCaptions(state);
    state.commitEnabled = true;
    state.findList = to;
    const bool sourceEmpty = source->count() == 0;
    const bool targetEmpty = target->count() == 0;
    bool &sourceOption = state.findListEnabled[int(from)];
    bool &targetOption = state.findListEnabled[int(to)];

    int focusRow = -1;
    if (single) {
        // The first center with that ID takes the selection, which may be an
        // older copy when the list already held the ID.
        focusRow = target->findId(firstId);
        state.multiSelect[int(to)] = false;
        (toSelected ? state.addEnabled : state.removeEnabled) = false;
        (toSelected ? state.removeEnabled : state.addEnabled) = true;
        if (sourceEmpty)
            sourceOption = false;
        targetOption = !targetEmpty;
    } else {
        focusRow = *std::min_element(newRows.begin(), newRows.end());
        state.multiSelect[int(to)] = true;
        (toSelected ? state.addAllEnabled : state.removeAllEnabled) = false;
        (toSelected ? state.removeAllEnabled : state.addAllEnabled) = true;
        if (sourceEmpty) {
            sourceOption = false;
            targetOption = true;
        }
    }
    if (focusRow >= 0)
        selectOnly(to, single ? std::vector<int>{focusRow} : newRows, focusRow);
    setState(state);
    if (focusRow >= 0)
        Q_EMIT focusRequested(to, focusRow);
}

void CrossReference::click(Side side)
{
    ControlState state = m_state;
    const bool selectedList = side == Side::Selected;
    if (list(side)->count() == 0) {
        state.addEnabled = state.addAllEnabled = state.removeEnabled = state.removeAllEnabled = false;
        setState(state);
        return;
    }
    state.multiSelect[int(side)] = true;
    state.multiSelect[int(otherSide(side))] = false;
    selection(otherSide(side))->clearSelection();
    (selectedList ? state.addEnabled : state.removeEnabled) = false;
    (selectedList ? state.addAllEnabled : state.removeAllEnabled) = false;

    const bool several = selectedRows(side).size() >= 2;
    (selectedList ? state.removeAllEnabled : state.addAllEnabled) = several;
    (selectedList ? state.removeEnabled : state.addEnabled) = !several;
    setState(state);
}

void CrossReference::headerClicked(Side side, int column)
{
    const int wanted = sortColumnOf(column);
    if (wanted < 0 || wanted >= CenterListModel::ColumnCount)
        return;
    CenterListModel *model = list(side);
    Qt::SortOrder order = model->sortOrder();
    if (model->sortColumn() == wanted)
        order = order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    model->sortBy(wanted, order);
    Q_EMIT stateChanged();
}

bool CrossReference::canOpenRemoveMenu() const
{
    const int current = currentRow(Side::Selected);
    return current >= 0 && list(Side::Selected)->at(current).id.isValid();
}

void CrossReference::chooseFindMode(FindMode mode)
{
    ControlState state = m_state;
    const int chosen = int(mode);
    const int other = 1 - chosen;
    // Emptying the other box is a change of its text, which disables Find.
    if (!state.findText[other].isEmpty()) {
        state.findText[other].clear();
        state.findEnabled = false;
    }
    state.findEditable[other] = false;
    state.findEditable[chosen] = true;
    state.findMode = mode;
    setState(state);
}

void CrossReference::chooseFindList(Side side)
{
    ControlState state = m_state;
    state.findList = side;
    setState(state);
}

void CrossReference::setFindText(FindMode box, const QString &text)
{
    if (m_state.findText[int(box)] == text)
        return;
    ControlState state = m_state;
    state.findText[int(box)] = text;
    state.findEnabled = !text.isEmpty();
    setState(state);
}

int CrossReference::find()
{
    ControlState state = m_state;
    state.multiSelect[0] = state.multiSelect[1] = false;
    state.addEnabled = state.addAllEnabled = state.removeEnabled = state.removeAllEnabled = false;
    const Side side = state.findList;
    const int hit = state.findMode == FindMode::Name ? findByName(*list(side), state.findText[int(FindMode::Name)])
                                                     : findById(*list(side), state.findText[int(FindMode::Id)]);
    setState(state);
    if (hit < 0)
        return -1;
    selectOnly(side, {hit}, hit);
    Q_EMIT focusRequested(side, hit);
    return hit;
}

void CrossReference::beginCommit()
{
    ControlState state = m_state;
    state.addEnabled = state.addAllEnabled = state.removeEnabled = state.removeAllEnabled = false;
    state.commitEnabled = false;
    setState(state);
}

void CrossReference::commitFailed()
{
    ControlState state = m_state;
    state.commitEnabled = true;
    setState(state);
}

bool CrossReference::buildStatements(qint32 employeeId, QStringList *statements) const
{
    return ChangeSet::buildStatements(employeeId, *list(Side::Selected), *list(Side::NonSelected), statements);
}

} // namespace VelmoraInternal
