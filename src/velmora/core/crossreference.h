// The cross-reference being edited: the two center lists with their
// selections, and the rules that decide what each load, move, click, header
// click, find and commit leaves enabled, checked, selected and current.
// Window-free: a view shows the two models through the two selection models
// and applies state() whenever stateChanged() is emitted.
#pragma once

#include "core/centerlistmodel.h"
#include "core/centerset.h"

#include <QHash>
#include <QItemSelectionModel>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUndoStack>

#include <optional>

namespace VelmoraInternal {

struct CenterDocument;

// The two lists: the centers not assigned to the employee, and the assigned ones.
enum class Side { NonSelected = 0, Selected = 1 };

inline constexpr Side otherSide(Side side)
{
    return side == Side::NonSelected ? Side::Selected : Side::NonSelected;
}

// The modes of the find panel, by the index of their option.
enum class FindMode { Name = 0, Id = 1 };

// The ID column shows the ID as the server sent it but sorts by the hidden
// key column, whose texts order IDs numerically; a list sorted by key shows
// its sort indicator on the ID column. Columns as CenterListModel::Column.
inline constexpr int sortColumnOf(int shownColumn)
{
    return shownColumn == CenterListModel::IdColumn ? int(CenterListModel::KeyColumn) : shownColumn;
}
inline constexpr int shownColumnOf(int sortColumn)
{
    return sortColumn == CenterListModel::KeyColumn ? int(CenterListModel::IdColumn) : sortColumn;
}

// Everything about the control's children that the rules decide, as plain
// values. Indexes by Side or FindMode.
struct ControlState
{
    bool addEnabled = false;       // ">"
    bool addAllEnabled = false;    // ">>"
    bool removeEnabled = false;    // "<"
    bool removeAllEnabled = false; // "<<"
    bool commitEnabled = false;
    bool findEnabled = false;

    Side findList = Side::NonSelected; // the list Find looks in
    bool findListEnabled[2] = {false, false};
    FindMode findMode = FindMode::Id;
    bool findModesEnabled = false;

    QString findText[2];                   // name box, ID box
    bool findEditable[2] = {false, false}; // read-only boxes are locked
    bool idBoxEnabled = false;

    bool multiSelect[2] = {false, false};
    QString caption[2]; // in the operator's language
    int progressMaximum = 1;
    // The lists differ from what the server holds: a move and its move back
    // cancel, a load and a save the server took clear it.
    bool pendingChanges = false;

    bool operator==(const ControlState &) const = default;
};

// Where the centers stood before a reload, to compare the reload with, in
// list order.
struct ListsBefore
{
    // The centers the server held as assigned when this control last loaded
    // or saved them.
    std::vector<CenterId> assigned;
    // The pending moves: the center and the list it was moved into.
    std::vector<std::pair<CenterId, Side>> moves;
};

// What a reload that compares found.
struct ReloadReport
{
    // Centers the server holds elsewhere than before: marked in the lists.
    QStringList changedElsewhere;
    // Centers held as assigned, or moved by the operator, that the server no
    // longer lists: no longer active.
    QStringList gone;
    int movesKept = 0;        // pending moves made again on the new lists
    int movesAlreadyMade = 0; // pending moves another operator had made
};

class CrossReference : public QObject
{
    Q_OBJECT

public:
    explicit CrossReference(QObject *parent = nullptr);
    ~CrossReference() override;

    CenterListModel *list(Side side) { return &m_lists[int(side)]; }
    const CenterListModel *list(Side side) const { return &m_lists[int(side)]; }
    QItemSelectionModel *selection(Side side) { return &m_selections[int(side)]; }
    const ControlState &state() const { return m_state; }

    // Names sort in the operator's language: see CenterListModel::setCollation().
    void setCollation(const QLocale &locale);

    // Loading. A load starts by disabling the commit and clearing both lists;
    // it ends with fill() or fail().
    void beginLoad();
    void fill(const CenterDocument &document);
    void fail();
    // What a reload is compared with, taken while the lists still show it.
    ListsBefore listsBefore() const;
    // Fills the lists from a reload of the employee they showed (the lists
    // are not cleared before it): marks the centers the server now holds
    // elsewhere than before, and with keepMoves makes every pending move
    // again whose center still stands where the move took it from.
    ReloadReport refill(const CenterDocument &document, const ListsBefore &before, bool keepMoves);

    // ">" (from NonSelected) and "<" (from Selected): the current center, or
    // every selected center when the current one is among several selected.
    // Returns the first row the centers left, or -1 when nothing moved.
    int moveOne(Side from);
    // ">>" and "<<": every selected center.
    void moveSelected(Side from);
    // Enter, or Delete in the assigned list: moveOne(), but the operator
    // stays in the list the center left, on the center after it, so that
    // the next key press moves the next center, not this one back.
    void moveByKey(Side from);

    // Every move can be taken back and done again, the last MaxUndoSteps of
    // them: the centers of the step go back into the list they came from
    // (again) with the markers they had, where the list's sort puts them,
    // selected there. Sorts and the find panel are left as they are, and the
    // focus is not moved. A load, or a save the server took, forgets the
    // steps. False when there is nothing to undo or redo.
    static constexpr int MaxUndoSteps = 100;
    bool undo();
    bool redo();
    bool canUndo() const { return m_history.canUndo(); }
    bool canRedo() const { return m_history.canRedo(); }

    // How many centers stand elsewhere than the server holds them.
    int pendingCount() const { return m_pendingCount; }

    // A click (or a keyboard change of the selection) in a list: makes it the
    // multi-select list, clears the other list's selection and enables the
    // moves that fit the selection.
    void click(Side side);
    // A click on the header of a column: sorts by it (sortColumnOf()), or
    // reverses the order when the list already sorts by it.
    void headerClicked(Side side, int column);
    // Whether the "Remove" pop-up may open over the assigned list.
    bool canOpenRemoveMenu() const;

    // The operator's choices in the find panel; each ends the search that
    // Find started.
    void chooseFindMode(FindMode mode);
    void chooseFindList(Side side);
    void setFindText(FindMode box, const QString &text);
    // Looks in the chosen list; selects and returns the hit's row, or -1. A
    // hit starts a search that findNext() continues.
    int find();
    // Enter in a find box: find(), when that box can be typed in and Find is
    // enabled; nullopt, with nothing searched, otherwise.
    std::optional<int> findFromBox(FindMode box);
    // F3 and Shift+F3: continues the search that find() (or, without one,
    // the first findNext()) started: its list, from the row after its last
    // match (back when backwards), wrapping around, whatever moved since; the
    // last match itself matches last. Without a search, looks from the chosen
    // list's current row. Needs what Find needs, a text to look for: nullopt,
    // with nothing searched, while Find is disabled.
    std::optional<int> findNext(bool backwards);

    // The commit starts: every move and the commit itself are disabled.
    void beginCommit();
    // The commit failed: nothing is reloaded, the changes stay for a retry.
    void commitFailed();
    // The server took the statements that buildStatements() made last: it
    // now holds the centers they name where they stood, and they become the
    // base that later moves are pending against.
    void commitSucceeded();

    // The statements that save the pending changes; false when there are
    // more than one save may send.
    bool buildStatements(qint32 employeeId, QStringList *statements);

Q_SIGNALS:
    void stateChanged();
    // state().pendingChanges flipped; emitted after stateChanged().
    void pendingChangesChanged(bool pending);
    // The view should give this list the focus and scroll the row into view.
    void focusRequested(VelmoraInternal::Side side, int row);
    // The view should scroll the row into view, leaving the focus alone.
    void revealRequested(VelmoraInternal::Side side, int row);

private:
    class MoveStep;

    void forget();
    int showHit(Side side, int hit);
    int resumeAfter(bool backwards) const;
    void fillLists(const CenterDocument &document, ControlState &state);

    int moveRows(Side from, const std::vector<int> &rows, bool single);
    // Takes the rows (ascending) out of from's list, flips their markers and
    // puts them where the other list's sort puts them; returns their new
    // rows, in the order given.
    std::vector<int> transfer(Side from, const std::vector<int> &rows);
    CenterSet centersAt(Side side, const std::vector<int> &rows) const;
    // Moves the centers of a step of the history out of from's list again.
    void replay(Side from, const CenterSet &centers);
    void markChangedElsewhere(const ListsBefore &before, bool keepMoves, ReloadReport &report);
    void makeMovesAgain(const ListsBefore &before, ReloadReport &report);
    void refreshCaptions(ControlState &state) const;
    void setState(const ControlState &state);
    std::vector<int> selectedRows(Side side) const;
    int currentRow(Side side) const;
    void selectOnly(Side side, const std::vector<int> &rows, int current);
    void offerMovesOfSelection(ControlState &state) const;

    CenterListModel m_lists[2];
    QItemSelectionModel m_selections[2];
    ControlState m_state;
    bool m_pendingReported = false; // what pendingChangesChanged() last said
    // The search that F3 continues: the list it looks in and its last match,
    // by row and by center, so that it goes on after that center wherever
    // it stands now, or at its old row once it has left the list.
    struct Search
    {
        bool running = false;
        Side list = Side::NonSelected;
        int row = -1;
        CenterId id;
    } m_search;
    QUndoStack m_history;
    int m_pendingCount = 0;
    quint32 m_loaded = 0; // centers in the last load: their numbers are below
    quint64 m_loads = 0;  // loads begun, so that a save knows its lists
    // What the last statements carry: the centers they assign and unassign,
    // in which load.
    struct Sending
    {
        quint64 load = 0;
        CenterSet assigned;
        CenterSet unassigned;
    };
    std::optional<Sending> m_sending;
    // Makes the names' sort keys after a load, a slice per turn of the
    // event loop, so that the first sort by name finds them ready.
    QTimer m_keyMaker;
};

} // namespace VelmoraInternal
