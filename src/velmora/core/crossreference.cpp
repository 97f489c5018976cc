#include "core/crossreference.h"

#include "core/centerdocument.h"
#include "core/centerkey.h"
#include "core/centersearch.h"
#include "core/changeset.h"

#include <QSet>

#include <algorithm>

namespace VelmoraInternal {

using VelmoraProtocol::MaxCenters;

namespace {

// How many moves undo keeps, and how many saved rows all of them may hold
// together: a few steps at the largest lists, many at usual sizes.
constexpr size_t MaxUndoSteps = 100;
constexpr size_t MaxUndoRows = 8 * size_t(MaxCenters);

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
    // About half a millisecond a slice: input waits no longer than that.
    m_keyMaker.setInterval(0);
    connect(&m_keyMaker, &QTimer::timeout, this, [this] {
        constexpr int Slice = 1024;
        if (m_lists[0].prepareNameKeys(Slice) && m_lists[1].prepareNameKeys(Slice))
            m_keyMaker.stop();
    });
}

void CrossReference::setCollation(const QLocale &locale)
{
    m_lists[0].setCollation(locale);
    m_lists[1].setCollation(locale);
    if (m_lists[0].count() + m_lists[1].count() > 0)
        m_keyMaker.start();
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
    forget();
    m_search.running = false; // its rows are gone
    m_keyMaker.stop();
    ControlState state = m_state;
    state.commitEnabled = false;
    state.pendingChanges = false;
    m_lists[0].clear();
    m_lists[1].clear();
    setState(state);
}

void CrossReference::fill(const CenterDocument &document)
{
    forget();
    ControlState state = m_state;
    state.pendingChanges = false;
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
    m_keyMaker.start();
}

void CrossReference::fail()
{
    forget();
    m_keyMaker.stop();
    ControlState state = m_state;
    state.pendingChanges = false;
    m_lists[0].clear();
    m_lists[1].clear();
    // Empty lists offer no move.
    state.addEnabled = state.addAllEnabled = state.removeEnabled = state.removeAllEnabled = false;
    state.commitEnabled = false;
    state.caption[0] = caption(Side::NonSelected, 0);
    state.caption[1] = caption(Side::Selected, 0);
    setState(state);
}

int CrossReference::moveOne(Side from)
{
    const Side to = otherSide(from);
    const CenterListModel *source = list(from);
    const CenterListModel *target = list(to);
    const int current = currentRow(from);
    if (source->count() == 0 || current < 0)
        return -1;
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
                return -1;
        }
        return moveRows(from, rows, rows.size() == 1);
    }
    if (toSelected && target->findId(id) >= 0)
        return -1;
    return moveRows(from, {current}, true);
}

void CrossReference::moveByKey(Side from)
{
    const int left = moveOne(from);
    if (left < 0)
        return;
    const int next = std::min(left, list(from)->count() - 1);
    if (next >= 0)
        selectOnly(from, {next}, next);
    click(from);
    Q_EMIT focusRequested(from, next);
}

void CrossReference::moveSelected(Side from)
{
    // Nothing selected: nothing to move, and no state to change.
    const std::vector<int> rows = selectedRows(from);
    if (!rows.empty())
        moveRows(from, rows, false);
}

int CrossReference::moveRows(Side from, const std::vector<int> &rows, bool single)
{
    const Side to = otherSide(from);
    CenterListModel *source = list(from);
    CenterListModel *target = list(to);
    const bool toSelected = to == Side::Selected;
    // Past the 16-bit limit a move fails cleanly, before any change.
    if (target->count() + int(rows.size()) > MaxCenters)
        return -1;
    remember();

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
    state.pendingChanges = source->hasUnsaved() || target->hasUnsaved();
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
    return rows.front();
}

CrossReference::Snapshot CrossReference::snapshot() const
{
    Snapshot saved;
    for (int side = 0; side < 2; ++side) {
        const CenterListModel &model = m_lists[side];
        saved.lists[side] = {model.items(), model.sortColumn(), model.sortOrder(), selectedRows(Side(side)),
                             currentRow(Side(side))};
    }
    saved.state = m_state;
    return saved;
}

void CrossReference::restore(Snapshot saved)
{
    for (int side = 0; side < 2; ++side) {
        Snapshot::List &list = saved.lists[side];
        m_lists[side].restore(std::move(list.items), list.sortColumn, list.sortOrder);
        selectOnly(Side(side), list.selected, list.current);
    }
    // The find panel is the operator's, not the moves': it stays as it is.
    ControlState state = saved.state;
    for (int box = 0; box < 2; ++box) {
        state.findText[box] = m_state.findText[box];
        state.findEditable[box] = m_state.findEditable[box];
    }
    state.findMode = m_state.findMode;
    state.findEnabled = m_state.findEnabled;
    setState(state);
    const Side focus = state.findList;
    Q_EMIT focusRequested(focus, currentRow(focus));
}

void CrossReference::remember()
{
    m_redo.clear();
    m_undo.push_back(snapshot());
    // The oldest steps go first when the saved rows grow too many.
    size_t rows = 0;
    for (const Snapshot &saved : m_undo)
        rows += saved.lists[0].items.size() + saved.lists[1].items.size();
    size_t drop = m_undo.size() > MaxUndoSteps ? m_undo.size() - MaxUndoSteps : 0;
    for (size_t i = 0; i < drop; ++i)
        rows -= m_undo[i].lists[0].items.size() + m_undo[i].lists[1].items.size();
    while (drop + 1 < m_undo.size() && rows > MaxUndoRows) {
        rows -= m_undo[drop].lists[0].items.size() + m_undo[drop].lists[1].items.size();
        ++drop;
    }
    m_undo.erase(m_undo.begin(), m_undo.begin() + qsizetype(drop));
}

void CrossReference::forget()
{
    m_undo.clear();
    m_redo.clear();
}

bool CrossReference::undo()
{
    return step(m_undo, m_redo);
}

bool CrossReference::redo()
{
    return step(m_redo, m_undo);
}

bool CrossReference::step(std::vector<Snapshot> &from, std::vector<Snapshot> &to)
{
    if (from.empty())
        return false;
    to.push_back(snapshot());
    Snapshot saved = std::move(from.back());
    from.pop_back();
    restore(std::move(saved));
    return true;
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
    m_search.running = false;
    setState(state);
}

void CrossReference::chooseFindList(Side side)
{
    ControlState state = m_state;
    state.findList = side;
    m_search.running = false;
    setState(state);
}

void CrossReference::setFindText(FindMode box, const QString &text)
{
    if (m_state.findText[int(box)] == text)
        return;
    ControlState state = m_state;
    state.findText[int(box)] = text;
    state.findEnabled = !text.isEmpty();
    m_search.running = false;
    setState(state);
}

int CrossReference::find()
{
    const Side side = m_state.findList;
    m_search.running = false;
    return showHit(side, m_state.findMode == FindMode::Name ? findByName(*list(side), m_state.findText[int(FindMode::Name)])
                                                            : findById(*list(side), m_state.findText[int(FindMode::Id)]));
}

int CrossReference::findNext(bool backwards)
{
    // A move chooses the list it filled for Find, but F3 stays with its search.
    const Side side = m_search.running ? m_search.list : m_state.findList;
    const int after = m_search.running ? resumeAfter(backwards) : currentRow(side);
    const QString &text = m_state.findText[int(m_state.findMode)];
    const CenterListModel &model = *list(side);
    if (m_state.findMode == FindMode::Name)
        return showHit(side, findNextRow(model, after, backwards,
                                         [&](const CenterItem &item) { return nameMatches(item.name, text); }));
    const CenterId id = CenterId::fromText(text);
    return showHit(side, findNextRow(model, after, backwards, [&](const CenterItem &item) { return item.id == id; }));
}

int CrossReference::resumeAfter(bool backwards) const
{
    const int row = list(m_search.list)->findId(m_search.id);
    if (row >= 0)
        return row;
    // The last match has left the list: the center that followed it now
    // stands at its row, and is the first to look at going forwards.
    return backwards ? m_search.row : m_search.row - 1;
}

int CrossReference::showHit(Side side, int hit)
{
    ControlState state = m_state;
    state.multiSelect[0] = state.multiSelect[1] = false;
    state.addEnabled = state.addAllEnabled = state.removeEnabled = state.removeAllEnabled = false;
    setState(state);
    if (hit < 0)
        return -1;
    m_search = {true, side, hit, list(side)->at(hit).id};
    selectOnly(side, {hit}, hit);
    Q_EMIT focusRequested(side, hit);
    return hit;
}

void CrossReference::beginCommit()
{
    // The history stays until the server has taken the changes: after a
    // failed commit every move is still pending, and still undoable.
    ControlState state = m_state;
    state.addEnabled = state.addAllEnabled = state.removeEnabled = state.removeAllEnabled = false;
    state.commitEnabled = false;
    setState(state);
}

void CrossReference::commitFailed()
{
    ControlState state = m_state;
    state.commitEnabled = true;
    // The operator goes on where the commit interrupted: the moves are
    // there for what is selected, without a click first.
    offerMovesOfSelection(state);
    setState(state);
}

void CrossReference::offerMovesOfSelection(ControlState &state) const
{
    for (Side side : {Side::NonSelected, Side::Selected}) {
        const size_t selected = selectedRows(side).size();
        const bool toSelected = side == Side::NonSelected;
        (toSelected ? state.addEnabled : state.removeEnabled) = selected == 1;
        (toSelected ? state.addAllEnabled : state.removeAllEnabled) = selected > 1;
    }
}

void CrossReference::commitSucceeded()
{
    forget();
    m_lists[0].markSaved();
    m_lists[1].markSaved();
    ControlState state = m_state;
    state.pendingChanges = false;
    setState(state);
}

bool CrossReference::buildStatements(qint32 employeeId, QStringList *statements) const
{
    return ChangeSet::buildStatements(employeeId, *list(Side::Selected), *list(Side::NonSelected), statements);
}

} // namespace VelmoraInternal
