// The list rules without a window: moves and their markers, the click rule,
// header sorting, find and type-ahead, and what each leaves enabled, chosen
// and selected.
// Each row of operator-actions.txt loads two lists, runs a script of
// operator actions and compares a snapshot of everything the rules decide.
#include "core/centerdocument.h"
#include "core/centersearch.h"
#include "core/crossreference.h"
#include "suitechecks.h"
#include "testlines.h"
#include "testtable.h"

#include <QtTest>

using namespace VelmoraInternal;
using VelmoraProtocol::MaxCenters;
using namespace Qt::Literals::StringLiterals;

namespace {

// "7:Name" or "7" (named "C7") for each center.
std::vector<CenterRecord> records(const QString &text)
{
    std::vector<CenterRecord> list;
    for (const QString &token : text.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList parts = token.split(u':');
        list.push_back({CenterId::fromText(parts.at(0)), parts.size() > 1 ? parts.at(1) : QStringLiteral("C") + parts.at(0)});
    }
    return list;
}

// The snapshot described in operator-actions.txt.
QString snapshot(CrossReference &rules, const QString &focus)
{
    QStringList parts;
    for (Side side : {Side::NonSelected, Side::Selected}) {
        const CenterListModel *list = rules.list(side);
        QStringList items;
        for (int row = 0; row < list->count(); ++row) {
            const CenterItem &center = list->at(row);
            QString item = center.id.text() + (center.isPending() ? QString(center.marker) : QString());
            if (rules.selection(side)->isRowSelected(row, {}))
                item += u'*';
            if (rules.selection(side)->currentIndex().row() == row)
                item += u'^';
            items.append(item);
        }
        parts.append(items.isEmpty() ? QStringLiteral("-") : items.join(u' '));
    }
    const ControlState &s = rules.state();
    const auto bit = [](bool b) { return QChar(b ? u'1' : u'0'); };
    static const QRegularExpression number(QStringLiteral("\\((\\d+)\\)"));
    parts.append(QStringLiteral("b=%1%2%3%4%5%6 s=%7:%8%9 m=%10%11 c=%12/%13 f=%14")
                     .arg(bit(s.addEnabled)).arg(bit(s.addAllEnabled)).arg(bit(s.removeEnabled))
                     .arg(bit(s.removeAllEnabled)).arg(bit(s.commitEnabled)).arg(bit(s.findEnabled))
                     .arg(int(s.findList)).arg(bit(s.findListEnabled[0])).arg(bit(s.findListEnabled[1]))
                     .arg(bit(s.multiSelect[0])).arg(bit(s.multiSelect[1]))
                     .arg(number.match(s.caption[0]).captured(1), number.match(s.caption[1]).captured(1), focus));
    return parts.join(QStringLiteral(" | "));
}

void load(CrossReference &rules, const QString &nonSelected, const QString &selected)
{
    CenterDocument document;
    document.nonSelected = records(nonSelected);
    document.selected = records(selected);
    document.nonSelectedCount = qint16(document.nonSelected.size());
    document.selectedCount = qint16(document.selected.size());
    rules.beginLoad();
    rules.fill(document);
}

// One scripted action, as operator-actions.txt describes them. Find, Enter
// in a find box ("return"), F3 ("next") and Shift+F3 ("prev") add their hit
// to hits, type-ahead the row it goes to.
void act(CrossReference &rules, const QString &action, QString &hits)
{
    const QStringList w = action.split(u' ', Qt::SkipEmptyParts);
    const Side side = w.size() > 1 && w[1] == u"1" ? Side::Selected : Side::NonSelected;
    const FindMode mode = w.size() > 1 && w[1] == u"name" ? FindMode::Name : FindMode::Id;
    if (w[0] == u"sel" || w[0] == u"cur") {
        QItemSelectionModel *selection = rules.selection(side);
        const QAbstractItemModel *model = selection->model();
        if (w[0] == u"sel") {
            selection->clearSelection();
            for (int i = 2; i < w.size(); ++i)
                selection->select(model->index(w[i].toInt(), 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        selection->setCurrentIndex(model->index(w[2].toInt(), 0), QItemSelectionModel::NoUpdate);
    } else if (w[0] == u"click") {
        rules.click(side);
    } else if (w[0] == u">" || w[0] == u"<") {
        rules.moveOne(w[0] == u">" ? Side::NonSelected : Side::Selected);
    } else if (w[0] == u">>" || w[0] == u"<<") {
        rules.moveSelected(w[0] == u">>" ? Side::NonSelected : Side::Selected);
    } else if (w[0] == u"enter") {
        rules.moveByKey(side);
    } else if (w[0] == u"header") {
        rules.headerClicked(side, w[2].toInt());
    } else if (w[0] == u"list") {
        rules.chooseFindList(side);
    } else if (w[0] == u"mode") {
        rules.chooseFindMode(mode);
    } else if (w[0] == u"text") {
        rules.setFindText(mode, w[2]);
    } else if (w[0] == u"find" || w[0] == u"next" || w[0] == u"prev" || w[0] == u"return") {
        const std::optional<int> hit = w[0] == u"find" ? rules.find() : w[0] == u"return" ? rules.findFromBox(mode) : rules.findNext(w[0] == u"prev");
        hits += hit ? QStringLiteral(" hit=%1").arg(*hit) : QStringLiteral(" hit=none");
    } else if (w[0] == u"type" || w[0] == u"type+") {
        const QModelIndex current = rules.selection(side)->currentIndex();
        hits += QStringLiteral(" typed=%1").arg(typeAheadRow(*rules.list(side), current.isValid() ? current.row() : -1, w[0] == u"type+", w[2]));
    } else if (w[0] == u"undo" || w[0] == u"redo") {
        QVERIFY(w[0] == u"undo" ? rules.undo() : rules.redo());
    } else if (w[0] == u"saved") {
        QStringList statements;
        QVERIFY(rules.buildStatements(12, &statements));
        rules.commitSucceeded();
    } else if (w[0] == u"reload") {
        rules.beginLoad();
    } else if (w[0] == u"locale") {
        rules.setCollation(QLocale(w[1]));
    } else {
        QFAIL(qPrintable(action));
    }
}

// Plays a script of actions separated by ';' and returns their hits. The
// count of pending centers, which the moves keep, must match the markers.
QString play(CrossReference &rules, const QString &actions)
{
    QString hits;
    for (const QString &action : actions.split(u';', Qt::SkipEmptyParts)) {
        act(rules, action, hits);
        int marked = 0;
        for (Side side : {Side::NonSelected, Side::Selected}) {
            for (int row = 0; row < rules.list(side)->count(); ++row)
                marked += rules.list(side)->at(row).isPending();
        }
        if (marked != rules.pendingCount())
            return QStringLiteral("pending count %1, %2 marked").arg(rules.pendingCount()).arg(marked);
    }
    return hits;
}

// The centers of each list with their markers, and the captions' counts:
// what undo and redo bring back. Where the rows stand follows the lists'
// sorts, which are not history (operator-actions.txt holds the order).
QString listsOf(CrossReference &rules)
{
    const QString all = snapshot(rules, {}).remove(QRegularExpression(QStringLiteral("[*^]")));
    QStringList lists = all.section(QStringLiteral(" | b="), 0, 0).split(QStringLiteral(" | "));
    for (QString &items : lists) {
        QStringList ids = items.split(u' ');
        ids.sort();
        items = ids.join(u' ');
    }
    return lists.join(QStringLiteral(" | ")) + u' ' + all.section(u' ', -2, -2);
}

bool isMove(const QString &action)
{
    return action.startsWith(u'>') || action.startsWith(u'<') || action.startsWith(u"enter");
}

} // namespace

class TestCrossReference : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void operatorActions_data() { TestTable::load(VELMORA_TABLES "/operator-actions.txt"); }
    void operatorActions();
    void undoTakesBackEachMove_data() { operatorActions_data(); }
    void undoTakesBackEachMove();
    void pendingChanges_data() { TestTable::load(VELMORA_TABLES "/pending-changes.txt"); }
    void pendingChanges();
    void nameKeysAreMadeWhileIdle();
    void undoStepsAreBounded_data() { TestTable::load(VELMORA_TABLES "/undo-steps.txt"); }
    void undoStepsAreBounded();
    void movesStopAtTheListLimit();
    void centerSetsAreBounded_data() { TestTable::load(VELMORA_TABLES "/center-sets.txt"); }
    void centerSetsAreBounded();
    void loadFailureStates();
};

void TestCrossReference::operatorActions()
{
    QFETCH(QString, nonSelected);
    QFETCH(QString, selected);
    QFETCH(QString, actions);
    QFETCH(QString, expected);

    CrossReference rules;
    load(rules, nonSelected, selected);
    QString focus = QStringLiteral("-");
    connect(&rules, &CrossReference::focusRequested, this,
            [&](Side side, int row) { focus = QStringLiteral("%1:%2").arg(int(side)).arg(row); });
    const QString hits = play(rules, actions);
    COMPARE_LINES((snapshot(rules, focus) + hits).split(u' '), expected.split(u' '));
}


void TestCrossReference::undoTakesBackEachMove()
{
    // After every move of the scripts, undo returns the lists to what they
    // were before it and redo to what they were after it, without moving the
    // focus; the script then goes on.
    QFETCH(QString, nonSelected);
    QFETCH(QString, selected);
    QFETCH(QString, actions);
    CrossReference rules;
    load(rules, nonSelected, selected);
    int focusRequests = 0;
    connect(&rules, &CrossReference::focusRequested, this, [&] { ++focusRequests; });
    QString hits;
    for (const QString &action : actions.split(u';', Qt::SkipEmptyParts)) {
        const QString before = listsOf(rules);
        act(rules, action, hits);
        const QString after = listsOf(rules);
        if (!isMove(action.trimmed()) || after == before)
            continue;
        const int focused = focusRequests;
        QVERIFY(rules.undo());
        COMPARE_LINES(listsOf(rules).split(u' '), before.split(u' '));
        QVERIFY(rules.redo());
        COMPARE_LINES(listsOf(rules).split(u' '), after.split(u' '));
        QVERIFY(!rules.canRedo() && focusRequests == focused);
    }
}

void TestCrossReference::pendingChanges()
{
    QFETCH(QString, nonSelected);
    QFETCH(QString, selected);
    QFETCH(QString, actions);
    QFETCH(bool, pending);
    QFETCH(bool, undoable);
    QFETCH(QStringList, flips);
    CrossReference rules;
    load(rules, nonSelected, selected);
    QStringList reported;
    connect(&rules, &CrossReference::pendingChangesChanged, this, [&](bool now) { reported.append(now ? "pending" : "none"); });
    play(rules, actions);
    QCOMPARE(rules.state().pendingChanges, pending);
    QCOMPARE(rules.canUndo(), undoable);
    COMPARE_LINES(reported, flips);
}

void TestCrossReference::nameKeysAreMadeWhileIdle()
{
    // Not during the load, which keeps its pace: after it, a slice of rows
    // per turn of the event loop, so that the first sort by name finds them.
    CrossReference rules;
    QStringList ids;
    for (int id = 1; id <= 3000; ++id)
        ids << QString::number(id);
    load(rules, ids.join(u' '), QStringLiteral("9"));
    const auto keyed = [&] {
        int count = 0;
        for (Side side : {Side::NonSelected, Side::Selected}) {
            for (int row = 0; row < rules.list(side)->count(); ++row)
                count += rules.list(side)->at(row).nameKey.has_value();
        }
        return count;
    };
    QCOMPARE(keyed(), 0);
    QTRY_COMPARE(keyed(), 3001);
}

void TestCrossReference::undoStepsAreBounded()
{
    QFETCH(int, centers);
    QFETCH(int, moves);
    QFETCH(int, steps);
    CrossReference rules;
    QStringList ids;
    for (int id = 1; id <= centers; ++id)
        ids << QString::number(id);
    load(rules, ids.join(u' '), {});
    for (int i = 0; i < moves; ++i)
        play(rules, i % 2 ? u"sel 1 0; <"_s : u"sel 0 0; >"_s);
    int undone = 0;
    while (undone <= moves && rules.undo())
        ++undone;
    QCOMPARE(undone, steps);
}

void TestCrossReference::centerSetsAreBounded()
{
    QFETCH(QString, numbers);
    QFETCH(int, loaded);
    QFETCH(int, bytes);
    std::vector<quint32> members;
    static const QRegularExpression range(u"^(\\d+)(?:\\.\\.(\\d+))?(?:/(\\d+))?$"_s);
    for (const QString &token : numbers.split(u',')) {
        const QRegularExpressionMatch m = range.match(token);
        for (int n = m.captured(1).toInt(); m.hasMatch() && n <= (m.hasCaptured(2) ? m.captured(2) : m.captured(1)).toInt(); n += m.hasCaptured(3) ? m.captured(3).toInt() : 1)
            members.push_back(quint32(n));
    }
    const CenterSet set(members, quint32(loaded));
    QCOMPARE(int(set.bytes()), bytes);
    QCOMPARE(set.size(), qsizetype(members.size()));
    for (int n = 0; n < loaded; ++n)
        QVERIFY2(set.contains(quint32(n)) == std::binary_search(members.begin(), members.end(), quint32(n)), qPrintable(QString::number(n)));
}

void TestCrossReference::movesStopAtTheListLimit()
{
    // A list holds at most 32,767 centers: a move past that changes nothing.
    CrossReference rules;
    CenterDocument document;
    for (int id = 1; id <= MaxCenters; ++id)
        document.selected.push_back({CenterId::fromText(QString::number(id)), QStringLiteral("C")});
    document.nonSelected = records(QStringLiteral("1 40001"));
    rules.fill(document);
    play(rules, u"sel 0 0 1; >>; >"_s);
    QCOMPARE(rules.list(Side::NonSelected)->count(), 2);
    QCOMPARE(rules.list(Side::Selected)->count(), MaxCenters);

    // Back into the other list is fine, and many scattered rows go at once.
    QItemSelection every;
    for (int row = 0; row < MaxCenters; row += 2)
        every.select(rules.list(Side::Selected)->index(row, 0), rules.list(Side::Selected)->index(row, 0));
    rules.selection(Side::Selected)->select(every, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    rules.moveSelected(Side::Selected);
    QCOMPARE(rules.list(Side::NonSelected)->count(), 2 + 16384);
    QCOMPARE(rules.list(Side::Selected)->count(), 16383);
    QCOMPARE(rules.list(Side::Selected)->at(0).id.text(), QStringLiteral("2"));
    QCOMPARE(rules.selection(Side::NonSelected)->selectedRows().size(), qsizetype(16384));
    // Newcomers go after the rows that compare equal, so the loaded "1" stays first.
    QVERIFY(rules.list(Side::NonSelected)->at(0).key() == u"000001" && rules.list(Side::NonSelected)->at(16385).key() == u"040001");
}

void TestCrossReference::loadFailureStates()
{
    // Captions and the progress range follow the document's counts, not its records.
    CrossReference rules;
    CenterDocument document;
    document.nonSelected = records(QStringLiteral("1 2"));
    document.nonSelectedCount = 5;
    rules.fill(document);
    QCOMPARE(rules.state().caption[0], QStringLiteral("Non Selected Active Centers (5):"));
    QCOMPARE(rules.state().progressMaximum, 5);
    play(rules, u"sel 0 0; click 0"_s); // ">" enabled until the failed load empties the list
    rules.fail();
    COMPARE_LINES(snapshot(rules, {}).split(u' '), QStringLiteral("- | - | b=000000 s=0:11 m=10 c=0/0 f=").split(u' '));
}

QTEST_GUILESS_MAIN(TestCrossReference)
#include "tst_crossreference.moc"
