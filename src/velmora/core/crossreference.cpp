#include "core/crossreference.h"

#include "core/centerdocument.h"
#include "core/centerkey.h"
#include "core/centersearch.h"
#include "core/changeset.h"

#include <QSet>

#include <algorithm>

namespace VelmoraInternal {

using VelmoraProtocol::MaxCenters;

// One move in the history: which centers it took, and from which list. The
// move itself has run when the step is pushed; undo moves the centers back,
// redo moves them again.
class CrossReference::MoveStep : public QUndoCommand
{
public:
    MoveStep(CrossReference *rules, Side from, CenterSet centers)
        : m_rules(rules)
        , m_from(from)
        , m_centers(std::move(centers))
    {
    }

    void undo() override { m_rules->replay(otherSide(m_from), m_centers); }
    void redo() override
    {
        if (m_pushed)
            m_pushed = false; // QUndoStack::push() redoes what has just been done
        else
            m_rules->replay(m_from, m_centers);
    }

private:
    CrossReference *m_rules;
    Side m_from;
    CenterSet m_centers;
    bool m_pushed = true;
};

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
    // A step holds the numbers of its centers, at most an eighth of a byte
    // per loaded center: 100 steps of the largest lists take some 400 kB.
    m_history.setUndoLimit(MaxUndoSteps);
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
    // Some steps write m_state before they set it: the flip is taken against
    // what was reported, not against the state before.
    if (m_state.pendingChanges != m_pendingReported) {
        m_pendingReported = m_state.pendingChanges;
        Q_EMIT pendingChangesChanged(m_pendingReported);
    }
}

void CrossReference::refreshCaptions(ControlState &state) const
{
    // Always counted from the lists themselves.
    for (Side side : {Side::Selected, Side::NonSelected})
        state.caption[int(side)] = caption(side, list(side)->count());
}

std::vector<int> CrossReference::selectedRows(Side side) const
{
    // Ranges may overlap after Ctrl and Shift clicks: in order of their
    // tops, each row taken once.
    const int count = list(side)->count();
    std::vector<std::pair<int, int>> ranges;
    for (const QItemSelectionRange &range : m_selections[int(side)].selection())
        ranges.emplace_back(std::max(0, range.top()), std::min(range.bottom(), count - 1));
    std::sort(ranges.begin(), ranges.end());
    std::vector<int> rows;
    int next = 0;
    for (const auto &[top, bottom] : ranges) {
        for (int row = std::max(top, next); row <= bottom; ++row)
            rows.push_back(row);
        next = std::max(next, bottom + 1);
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
    m_sending.reset();
    ++m_loads;
    m_keyMaker.stop();
    ControlState state = m_state;
    state.commitEnabled = false;
    state.pendingChanges = false;
    m_pendingCount = 0;
    m_lists[0].clear();
    m_lists[1].clear();
    setState(state);
}

void CrossReference::fill(const CenterDocument &document)
{
    ControlState state = m_state;
    fillLists(document, state);
    setState(state);
    m_keyMaker.start();
}

void CrossReference::fillLists(const CenterDocument &document, ControlState &state)
{
    forget();
    ++m_loads;
    m_sending.reset();
    m_pendingCount = 0;
    state.pendingChanges = false;
    // The reader has checked both counts and their sum against 32,767. A
    // zero range would turn a progress bar into a busy indicator.
    state.progressMaximum = std::max(1, int(document.nonSelectedCount) + int(document.selectedCount));
    state.caption[0] = caption(Side::NonSelected, document.nonSelectedCount);
    state.caption[1] = caption(Side::Selected, document.selectedCount);

    // One pool for both lists, numbered in the document's order.
    auto pool = std::make_shared<CenterPool>();
    pool->reserve(document.nonSelected.size() + document.selected.size());
    for (Side side : {Side::NonSelected, Side::Selected}) {
        const auto &records = side == Side::NonSelected ? document.nonSelected : document.selected;
        std::vector<quint32> rows;
        rows.reserve(records.size());
        for (const CenterRecord &record : records) {
            rows.push_back(quint32(pool->size()));
            pool->emplace_back(record.id, record.name);
        }
        // Sorted by the key column in the list's current direction.
        CenterListModel *model = list(side);
        model->clear();
        model->sortBy(CenterListModel::KeyColumn, model->sortOrder());
        model->reset(pool, std::move(rows));
        // A reset leaves no row selected and none current.
        state.findListEnabled[int(side)] = true;
    }
    m_loaded = quint32(pool->size());
    state.findModesEnabled = true;
    state.idBoxEnabled = true;
    state.findEditable[int(FindMode::Id)] = true;
}

void CrossReference::fail()
{
    forget();
    ++m_loads;
    m_keyMaker.stop();
    ControlState state = m_state;
    state.pendingChanges = false;
    m_pendingCount = 0;
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

CenterSet CrossReference::centersAt(Side side, const std::vector<int> &rows) const
{
    std::vector<quint32> numbers;
    numbers.reserve(rows.size());
    for (int row : rows)
        numbers.push_back(list(side)->numberAt(row));
    return CenterSet(numbers, m_loaded);
}

std::vector<int> CrossReference::transfer(Side from, const std::vector<int> &rows)
{
    CenterListModel *source = list(from);

    // A move never copies the source key: it builds the key afresh and marks
    // it only when the center leaves the list the server holds it in, so
    // moving a center back cancels its pending change.
    const QChar marker = from == Side::NonSelected ? InsertMarker : DeleteMarker;
    const std::vector<quint32> numbers = source->takeRowsAt(rows);
    for (quint32 number : numbers) {
        CenterItem &item = source->center(number);
        m_pendingCount += item.isPending() ? -1 : 1;
        item.setMarker(movedMarker(item.marker, marker));
    }
    return list(otherSide(from))->insertSorted(numbers);
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

    const CenterId firstId = source->at(rows.front()).id;
    if (!single && target->sortColumn() != CenterListModel::KeyColumn)
        target->sortBy(CenterListModel::KeyColumn, target->sortOrder());
    m_history.push(new MoveStep(this, from, centersAt(from, rows)));
    const std::vector<int> newRows = transfer(from, rows);

    ControlState state = m_state;
    refreshCaptions(state);
    state.commitEnabled = true;
    state.pendingChanges = m_pendingCount > 0;
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

void CrossReference::replay(Side from, const CenterSet &centers)
{
    // The history is undone and redone in order, so the step's centers all
    // stand in from's list: wherever its sort has put them since.
    const CenterListModel *source = list(from);
    std::vector<int> rows;
    rows.reserve(size_t(centers.size()));
    for (int row = 0; row < source->count(); ++row) {
        if (centers.contains(source->numberAt(row)))
            rows.push_back(row);
    }
    const Side to = otherSide(from);
    if (rows.empty() || list(to)->count() + int(rows.size()) > MaxCenters)
        return;
    std::vector<int> newRows = transfer(from, rows);
    std::sort(newRows.begin(), newRows.end());
    selectOnly(to, newRows, newRows.front());

    ControlState state = m_state;
    refreshCaptions(state);
    state.commitEnabled = true;
    state.pendingChanges = m_pendingCount > 0;
    for (Side side : {Side::NonSelected, Side::Selected})
        state.findListEnabled[int(side)] = list(side)->count() > 0;
    // The list Find looks in stays as it was, unless the step emptied it.
    if (!state.findListEnabled[int(state.findList)] && state.findListEnabled[int(otherSide(state.findList))])
        state.findList = otherSide(state.findList);
    m_state = state;
    // The buttons follow the centers' selection, as after a click there.
    click(to);
    Q_EMIT revealRequested(to, newRows.front());
}

void CrossReference::forget()
{
    m_history.clear();
}

bool CrossReference::undo()
{
    if (!m_history.canUndo())
        return false;
    m_history.undo();
    return true;
}

bool CrossReference::redo()
{
    if (!m_history.canRedo())
        return false;
    m_history.redo();
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

std::optional<int> CrossReference::findFromBox(FindMode box)
{
    if (!m_state.findEditable[int(box)] || !m_state.findEnabled)
        return std::nullopt;
    return find();
}

std::optional<int> CrossReference::findNext(bool backwards)
{
    if (!m_state.findEnabled)
        return std::nullopt;
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
    // Unless a load has replaced the lists since the statements were made,
    // what they named is now where the server holds it: the center's key
    // becomes that of the list it stands in, as a reload would show it.
    const std::optional<Sending> sent = std::exchange(m_sending, std::nullopt);
    if (!sent || sent->load != m_loads)
        return;
    for (Side side : {Side::NonSelected, Side::Selected}) {
        const bool selected = side == Side::Selected;
        m_pendingCount += list(side)->remark([&](quint32 number, const CenterItem &item) {
            if (sent->assigned.contains(number))
                return selected ? QChar() : DeleteMarker;
            if (sent->unassigned.contains(number))
                return selected ? InsertMarker : QChar();
            return item.marker;
        });
    }
    ControlState state = m_state;
    state.pendingChanges = m_pendingCount > 0;
    setState(state);
}

bool CrossReference::buildStatements(qint32 employeeId, QStringList *statements)
{
    if (!ChangeSet::buildStatements(employeeId, *list(Side::Selected), *list(Side::NonSelected), statements))
        return false;
    // The statements name the pending rows, so the same rows say what they carry.
    std::vector<int> rows[2];
    for (Side side : {Side::NonSelected, Side::Selected}) {
        const CenterListModel *model = list(side);
        for (int row = 0; row < model->count(); ++row) {
            if (model->at(row).isPending())
                rows[int(side)].push_back(row);
        }
    }
    m_sending = Sending{m_loads, centersAt(Side::Selected, rows[int(Side::Selected)]),
                        centersAt(Side::NonSelected, rows[int(Side::NonSelected)])};
    return true;
}

ListsBefore CrossReference::listsBefore() const
{
    ListsBefore before;
    for (Side side : {Side::NonSelected, Side::Selected}) {
        for (int row = 0; row < list(side)->count(); ++row) {
            const CenterItem &item = list(side)->at(row);
            // A pending center is held by the server in the other list.
            if ((side == Side::Selected) != item.isPending())
                before.assigned.push_back(item.id);
            if (item.isPending())
                before.moves.emplace_back(item.id, side);
        }
    }
    return before;
}

ReloadReport CrossReference::refill(const CenterDocument &document, const ListsBefore &before, bool keepMoves)
{
    ControlState state = m_state;
    fillLists(document, state);
    m_state = state;
    ReloadReport report;
    markChangedElsewhere(before, keepMoves, report);
    if (keepMoves)
        makeMovesAgain(before, report);
    refreshCaptions(m_state);
    m_state.pendingChanges = m_pendingCount > 0;
    m_state.commitEnabled = m_pendingCount > 0;
    setState(m_state);
    m_keyMaker.start();
    return report;
}

void CrossReference::markChangedElsewhere(const ListsBefore &before, bool keepMoves, ReloadReport &report)
{
    // A center the control did not know counts as one that was unassigned.
    const QSet<CenterId> assigned(before.assigned.begin(), before.assigned.end());
    QSet<CenterId> missing = assigned;
    if (keepMoves) {
        for (const auto &move : before.moves)
            missing.insert(move.first);
    }
    for (Side side : {Side::NonSelected, Side::Selected}) {
        std::vector<int> changed;
        const CenterListModel *model = list(side);
        for (int row = 0; row < model->count(); ++row) {
            const CenterId &id = model->at(row).id;
            if (!missing.isEmpty())
                missing.remove(id);
            if (assigned.contains(id) != (side == Side::Selected)) {
                changed.push_back(row);
                report.changedElsewhere.append(id.text());
            }
        }
        list(side)->markChangedElsewhere(changed);
    }
    // What the server no longer lists is no longer active.
    for (const CenterId &id : before.assigned) {
        if (missing.remove(id))
            report.gone.append(id.text());
    }
    for (const auto &move : before.moves) {
        if (missing.remove(move.first))
            report.gone.append(move.first.text());
    }
}

void CrossReference::makeMovesAgain(const ListsBefore &before, ReloadReport &report)
{
    // A move is made again when its center stands where the move took it
    // from; one that stands where the move put it, another operator has made.
    QHash<CenterId, Side> wanted;
    for (const auto &[id, side] : before.moves)
        wanted.insert(id, side);
    for (Side from : {Side::NonSelected, Side::Selected}) {
        std::vector<int> rows;
        const CenterListModel *model = list(from);
        for (int row = 0; row < model->count() && !wanted.isEmpty(); ++row) {
            const auto move = wanted.constFind(model->at(row).id);
            if (move == wanted.cend())
                continue;
            if (*move == from)
                ++report.movesAlreadyMade;
            else
                rows.push_back(row);
            wanted.erase(move);
        }
        if (rows.empty() || list(otherSide(from))->count() + int(rows.size()) > MaxCenters)
            continue;
        report.movesKept += int(rows.size());
        // Undoable, as one step for each list the moves leave.
        m_history.push(new MoveStep(this, from, centersAt(from, rows)));
        transfer(from, rows);
    }
}

} // namespace VelmoraInternal
