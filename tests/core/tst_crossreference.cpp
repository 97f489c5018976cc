// The list rules without a window: moves and their markers, the click rule,
// header sorting, find, and what each leaves enabled, chosen and selected.
// Each row loads two lists, runs a script of operator actions and compares a
// snapshot of everything the rules decide.
#include "core/centerdocument.h"
#include "core/centerkey.h"
#include "core/crossreference.h"

#include <QtTest>

using namespace VelmoraInternal;

namespace {

// "7:Name" or "7" (named "C7") for each center.
std::vector<CenterRecord> records(const QString &spec)
{
    std::vector<CenterRecord> list;
    for (const QString &token : spec.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList parts = token.split(u':');
        list.push_back({parts.at(0), parts.size() > 1 ? parts.at(1) : QStringLiteral("C") + parts.at(0)});
    }
    return list;
}

// Both lists as "ID+marker" with * for selected and ^ for current, then
// b=<> > < << commit find, s=searched list and its options' enabled states,
// m=multi-select of each list, c=the two captions' numbers, f=last focus.
QString snapshot(CrossReference &rules, const QString &focus)
{
    QStringList parts;
    for (Side side : {Side::NonSelected, Side::Selected}) {
        const CenterListModel *list = rules.list(side);
        QStringList items;
        for (int row = 0; row < list->count(); ++row) {
            const QString key = list->at(row).key;
            QString item = list->at(row).id + (isNumericKey(key) ? QString() : key.right(1));
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
                     .arg(int(s.searchList)).arg(bit(s.searchListEnabled[0])).arg(bit(s.searchListEnabled[1]))
                     .arg(bit(s.multiSelect[0])).arg(bit(s.multiSelect[1]))
                     .arg(number.match(s.caption[0]).captured(1), number.match(s.caption[1]).captured(1), focus));
    return parts.join(QStringLiteral(" | "));
}

} // namespace

class TestCrossReference : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void operatorActions_data();
    void operatorActions();
    void movesStopAtTheListLimit();
    void loadFailureAndCommitStates();
};

void TestCrossReference::operatorActions_data()
{
    QTest::addColumn<QString>("nonSelected");
    QTest::addColumn<QString>("selected");
    // Actions separated by ";": "sel L r r..." selects rows of list L (0 or
    // 1) as a click does and makes the first current, "cur L r" moves only
    // the current row, "click L", "> < >> <<", "header L n", "list L",
    // "mode name|id", "text name|id TEXT", "find" (adds "hit=ROW").
    QTest::addColumn<QString>("actions");
    QTest::addColumn<QString>("expected");

    const QString loaded = QStringLiteral("b=000000 s=0:11 m=00");
    QTest::newRow("a load selects nothing and enables the options")
        << "30 4 200" << "12" << "" << "4 30 200 | 12 | " + loaded + " c=3/1 f=-";
    QTest::newRow("> marks N and hands the selection over")
        << "1 2 3" << "9" << "sel 0 1; >" << "1^ 3 | 2N*^ 9 | b=001010 s=1:11 m=00 c=2/2 f=1:0";
    QTest::newRow("moving back cancels the pending change")
        << "1 2 3" << "9" << "sel 0 1; >; <" << "1 2*^ 3 | 9^ | b=100010 s=0:11 m=00 c=3/1 f=0:1";
    QTest::newRow("< of an assigned center marks D, > again unmarks it")
        << "1" << "5 9" << "sel 1 0; <; >" << "1^ | 5*^ 9 | b=001010 s=1:11 m=00 c=1/2 f=1:0";
    QTest::newRow("> refuses a center already assigned")
        << "5 6" << "5" << "sel 0 0; >" << "5*^ 6 | 5 | " + loaded + " c=2/1 f=-";
    QTest::newRow("< adds a second copy and selects the first")
        << "5 6" << "5" << "sel 1 0; <" << "5*^ 5D 6 | - | b=100010 s=0:10 m=00 c=3/0 f=0:0";
    QTest::newRow("> with the current among several selected moves them all")
        << "1 2 3 4" << "" << "click 0; sel 0 0 2 3; >" << "2^ | 1N*^ 3N* 4N* | b=100110 s=1:11 m=11 c=1/3 f=1:0";
    QTest::newRow("> of several skips those already assigned")
        << "1 2 3" << "2" << "sel 0 0 1; >" << "2*^ 3 | 1N*^ 2 | b=001010 s=1:11 m=00 c=2/2 f=1:0";
    QTest::newRow("> of a current row outside the selection moves it alone")
        << "1 2 3" << "" << "sel 0 0 1; cur 0 2; >" << "1* 2*^ | 3N*^ | b=001010 s=1:11 m=00 c=2/1 f=1:0";
    QTest::newRow("> with no current row does nothing")
        << "1 2" << "" << ">; <" << "1 2 | - | b=000000 s=0:11 m=00 c=2/0 f=-";
    QTest::newRow("> of the last center disables its option")
        << "1" << "" << "sel 0 0; >" << "- | 1N*^ | b=001010 s=1:01 m=00 c=0/1 f=1:0";
    QTest::newRow(">> moves the selection in source order and selects it")
        << "1 2 3 4 5" << "9" << "click 0; sel 0 0 2 4; >>"
        << "2^ 4 | 1N*^ 3N* 5N* 9 | b=100110 s=1:11 m=11 c=2/4 f=1:0";
    QTest::newRow("<< back leaves no pending change")
        << "1 2 3" << "" << "sel 0 0 1; >>; <<" << "1*^ 2* 3 | - | b=010010 s=0:10 m=11 c=3/0 f=0:0";
    QTest::newRow(">> of everything swaps the options")
        << "1 2" << "" << "sel 0 0 1; >>" << "- | 1N*^ 2N* | b=000110 s=1:01 m=01 c=0/2 f=1:0";
    QTest::newRow(">> with nothing selected changes nothing")
        << "1 2" << "3" << ">>; <<" << "1 2 | 3 | " + loaded + " c=2/1 f=-";
    QTest::newRow(">> sorts a name-sorted target by key again")
        << "3:A" << "1:Z 2:Y" << "header 1 2; sel 0 0; >>" << "- | 1 2 3N*^ | b=000110 s=1:01 m=01 c=0/3 f=1:2";
    QTest::newRow("click with one selected offers the single move")
        << "1 2" << "3" << "sel 1 0; click 1; sel 0 1; click 0" << "1 2*^ | 3^ | b=100000 s=0:11 m=10 c=2/1 f=-";
    QTest::newRow("click with two selected offers the multiple move")
        << "1 2" << "3 4" << "sel 1 0 1; click 1" << "1 2 | 3*^ 4* | b=000100 s=0:11 m=01 c=2/2 f=-";
    QTest::newRow("click in an empty list disables every move")
        << "1" << "" << "sel 0 0; click 0; click 1" << "1*^ | - | b=000000 s=0:11 m=10 c=1/0 f=-";
    QTest::newRow("click with nothing selected offers the single move")
        << "1" << "2" << "click 1" << "1 | 2 | b=001000 s=0:11 m=01 c=1/1 f=-";
    QTest::newRow("header ID first reverses the key order")
        << "5 40 300" << "" << "header 0 1" << "300 40 5 | - | b=000000 s=0:11 m=00 c=3/0 f=-";
    QTest::newRow("header Name sorts by name, again reverses")
        << "1:b 2:C 3:a" << "" << "header 0 2; header 0 2; header 0 3"
        << "3 2 1 | - | b=000000 s=0:11 m=00 c=3/0 f=-";
    QTest::newRow("sorting keeps the selection with its rows")
        << "1:z 2:y 3:x" << "" << "sel 0 0; header 0 2" << "3 2 1*^ | - | b=000000 s=0:11 m=00 c=3/0 f=-";
    QTest::newRow("find by name: first in display order, case folded")
        << "1:Accent 2:Central 3:Office" << "" << "mode name; text name CENT; find; find"
        << "1*^ 2 3 | - | b=000001 s=0:11 m=00 c=3/0 f=0:0 hit=0 hit=0";
    QTest::newRow("find by ID is a whole match")
        << "142 42 420" << "" << "text id 42; find" << "42*^ 142 420 | - | b=000001 s=0:11 m=00 c=3/0 f=0:0 hit=0";
    QTest::newRow("find searches the chosen list only")
        << "42" << "7" << "list 1; text id 42; find" << "42 | 7 | b=000001 s=1:11 m=00 c=1/1 f=- hit=-1";
    QTest::newRow("find disables the moves, hit or miss")
        << "1 2" << "" << "sel 0 0; click 0; text id 9; find" << "1*^ 2 | - | b=000001 s=0:11 m=00 c=2/0 f=- hit=-1";
    QTest::newRow("choosing a mode empties the other box and disables Find")
        << "1" << "" << "text id 1; mode name" << "1 | - | b=000000 s=0:11 m=00 c=1/0 f=-";
}

void TestCrossReference::operatorActions()
{
    QFETCH(QString, nonSelected);
    QFETCH(QString, selected);
    QFETCH(QString, actions);
    QFETCH(QString, expected);

    CrossReference rules;
    CenterDocument document;
    document.nonSelected = records(nonSelected);
    document.selected = records(selected);
    document.nonSelectedCount = qint16(document.nonSelected.size());
    document.selectedCount = qint16(document.selected.size());
    rules.beginLoad();
    rules.fill(document);
    QString focus = QStringLiteral("-");
    connect(&rules, &CrossReference::focusRequested, this,
            [&](Side side, int row) { focus = QStringLiteral("%1:%2").arg(int(side)).arg(row); });

    QString hits;
    for (const QString &action : actions.split(u';', Qt::SkipEmptyParts)) {
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
        } else if (w[0] == u"header") {
            rules.headerClicked(side, w[2].toInt());
        } else if (w[0] == u"list") {
            rules.chooseSearchList(side);
        } else if (w[0] == u"mode") {
            rules.chooseFindMode(mode);
        } else if (w[0] == u"text") {
            rules.setSearchText(mode, w[2]);
        } else if (w[0] == u"find") {
            hits += QStringLiteral(" hit=%1").arg(rules.find());
        } else {
            QFAIL(qPrintable(action));
        }
    }
    QCOMPARE(snapshot(rules, focus) + hits, expected);
}

void TestCrossReference::movesStopAtTheListLimit()
{
    // A list holds at most 32,767 centers: a move past that changes nothing.
    CrossReference rules;
    CenterDocument document;
    for (int id = 1; id <= CenterListModel::MaxRows; ++id)
        document.selected.push_back({QString::number(id), QStringLiteral("C")});
    document.nonSelected = records(QStringLiteral("40000 40001"));
    rules.fill(document);
    QItemSelectionModel *selection = rules.selection(Side::NonSelected);
    selection->select(QItemSelection(selection->model()->index(0, 0), selection->model()->index(1, 0)),
                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    selection->setCurrentIndex(selection->model()->index(0, 0), QItemSelectionModel::NoUpdate);
    rules.moveSelected(Side::NonSelected);
    rules.moveOne(Side::NonSelected);
    QCOMPARE(rules.list(Side::NonSelected)->count(), 2);
    QCOMPARE(rules.list(Side::Selected)->count(), CenterListModel::MaxRows);

    // Back into the other list is fine, and many scattered rows go at once.
    QItemSelection every;
    for (int row = 0; row < CenterListModel::MaxRows; row += 2)
        every.select(rules.list(Side::Selected)->index(row, 0), rules.list(Side::Selected)->index(row, 0));
    rules.selection(Side::Selected)->select(every, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    rules.moveSelected(Side::Selected);
    QCOMPARE(rules.list(Side::NonSelected)->count(), 2 + 16384);
    QCOMPARE(rules.list(Side::Selected)->count(), 16383);
    QCOMPARE(rules.list(Side::Selected)->at(0).id, QStringLiteral("2"));
    QCOMPARE(rules.selection(Side::NonSelected)->selectedRows().size(), qsizetype(16384));
    QCOMPARE(rules.list(Side::NonSelected)->at(16385).key, QStringLiteral("040001"));
}

void TestCrossReference::loadFailureAndCommitStates()
{
    CrossReference rules;
    CenterDocument document;
    document.nonSelected = records(QStringLiteral("1 2"));
    document.nonSelectedCount = 5;
    rules.fill(document);
    QCOMPARE(rules.state().caption[0], QStringLiteral("Non Selected Active Centers (5):"));
    QCOMPARE(rules.state().progressMaximum, 5);
    rules.selection(Side::NonSelected)->setCurrentIndex(rules.list(Side::NonSelected)->index(0, 0),
                                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    rules.moveOne(Side::NonSelected);
    QCOMPARE(rules.state().caption[1], QStringLiteral("Selected Centers (1):"));
    QStringList statements;
    QVERIFY(rules.buildStatements(8, &statements));
    QCOMPARE(statements, QStringList{QStringLiteral("INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (8,1,GETDATE() ) ")});

    rules.beginCommit();
    QCOMPARE(snapshot(rules, {}).section(u'|', 2), QStringLiteral(" b=000000 s=1:11 m=00 c=1/1 f="));
    rules.commitFailed();
    QVERIFY(rules.state().commitEnabled);
    rules.fail();
    QCOMPARE(rules.list(Side::Selected)->count(), 0);
    QCOMPARE(rules.state().caption[0], QStringLiteral("Non Selected Active Centers (0):"));
    QVERIFY(!rules.state().commitEnabled);
}

QTEST_GUILESS_MAIN(TestCrossReference)
#include "tst_crossreference.moc"
