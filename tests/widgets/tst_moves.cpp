// Moving centers with the buttons, the mouse and the keyboard: keys and
// markers, the button and option states after each move, the selection rule,
// sorting by header, the "Remove" pop-up, and that no sequence of operator
// actions loses a center.

#include "controlharness.h"

#include "fixtureserver.h"

#include <QRandomGenerator>
#include <QSet>

using namespace Harness;
using VelmoraInternal::FixtureServer;

namespace {

std::vector<Center> centers(std::initializer_list<int> idList)
{
    std::vector<Center> out;
    for (int id : idList)
        out.push_back({QString::number(id), QStringLiteral("Center %1").arg(id)});
    return out;
}

void press(Velmora &c, const char *name)
{
    QTest::mouseClick(button(c, name), Qt::LeftButton);
}

} // namespace

class TestMoves : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void singleMoveMarksAndMovingBackCancels_data();
    void singleMoveMarksAndMovingBackCancels();
    void statesAfterEachKindOfMove_data();
    void statesAfterEachKindOfMove();
    void lastCenterLeavingDisablesItsSearchOption();
    void multipleMoveLeavingCentersBehindKeepsADisabledOptionDisabled();
    void multipleMoveSelectsExactlyTheMovedCentersInKeyOrder();
    void addRefusesACenterAlreadyAssigned();
    void removeAllowsADuplicateAndSelectsTheFirst();
    void addAllCopiesDuplicates();
    void selectionRule_data();
    void selectionRule();
    void clickInOneListClearsTheOthersSelection();
    void doubleClickMovesEvenWhileTheButtonIsDisabled();
    void singleMoveWithSeveralSelectedMovesThemAll();
    void singleMoveOfACurrentCenterOutsideTheSelectionMovesItAlone();
    void multipleMoveWithNothingSelectedChangesNothing();
    void headerClicksSortAndReverse();
    void removePopUpOnlyOnRightRelease();
    void keyboardMovesAndSelectionRule();
    void pendingChangesAreShownOnTheRow();
    void randomOperatorActionsNeverLoseACenter_data();
    void randomOperatorActionsNeverLoseACenter();

private:
    void load(Velmora &c, const std::vector<Center> &unassigned, const std::vector<Center> &assigned);
    std::unique_ptr<FixtureServer> m_server;
};

void TestMoves::init()
{
    m_server = std::make_unique<FixtureServer>();
    QVERIFY(m_server->listen());
}

void TestMoves::cleanup()
{
    m_server.reset();
}

void TestMoves::load(Velmora &c, const std::vector<Center> &unassigned, const std::vector<Center> &assigned)
{
    m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::xml(document(unassigned, assigned)));
    c.setServerName(m_server->baseUrl());
    if (!c.isVisible()) {
        c.show();
        QVERIFY(QTest::qWaitForWindowExposed(&c));
    }
    QCOMPARE(lstCenters(c)->count(), int(unassigned.size()));
}

void TestMoves::singleMoveMarksAndMovingBackCancels_data()
{
    QTest::addColumn<bool>("loadedAssigned");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("markedKey");
    QTest::addColumn<QString>("plainKey");
    QTest::newRow("unassigned center") << false << "42" << "000042N" << "000042";
    QTest::newRow("assigned center") << true << "42" << "000042D" << "000042";
    QTest::newRow("seven digits") << false << "1234567" << "1234567N" << "1234567";
}

void TestMoves::singleMoveMarksAndMovingBackCancels()
{
    QFETCH(bool, loadedAssigned);
    QFETCH(QString, id);
    QFETCH(QString, markedKey);
    QFETCH(QString, plainKey);
    Velmora c;
    const std::vector<Center> one{{id, "The One"}};
    load(c, loadedAssigned ? centers({1, 2}) : one, loadedAssigned ? one : centers({1, 2}));
    CenterListView *from = loadedAssigned ? lstSelected(c) : lstCenters(c);
    CenterListView *to = loadedAssigned ? lstCenters(c) : lstSelected(c);

    clickRow(from, rowOf(from, id));
    press(c, loadedAssigned ? "cmdDelete" : "cmdAdd");
    QCOMPARE(rowOf(from, id), -1);
    QCOMPARE(to->item(rowOf(to, id)).key, markedKey);
    QCOMPARE(selectedIds(to), QStringList{id});
    QCOMPARE(to->item(to->currentRow()).id, id);
    QVERIFY(to->hasFocus());

    clickRow(to, rowOf(to, id));
    press(c, loadedAssigned ? "cmdAdd" : "cmdDelete");
    QCOMPARE(from->item(rowOf(from, id)).key, plainKey);
    QCOMPARE(rowOf(to, id), -1);
    // Cancelling is still a move: commit stays available.
    QVERIFY(button(c, "cmdCommit")->isEnabled());
}

void TestMoves::statesAfterEachKindOfMove_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QString>("buttonName");
    QTest::addColumn<QString>("buttons"); // add, addAll, delete, removeAll, commit
    QTest::addColumn<QString>("chosenOption");
    QTest::newRow(">") << "lstCenters" << QList<int>{0} << "cmdAdd" << "00101" << "optList1";
    QTest::newRow("<") << "lstSelectedCenters" << QList<int>{0} << "cmdDelete" << "10001" << "optList0";
    QTest::newRow(">>") << "lstCenters" << QList<int>{0, 2} << "cmdAddAll" << "00011" << "optList1";
    QTest::newRow("<<") << "lstSelectedCenters" << QList<int>{0, 1} << "cmdRemoveAll" << "01001" << "optList0";
}

void TestMoves::statesAfterEachKindOfMove()
{
    QFETCH(QString, list);
    QFETCH(QList<int>, rows);
    QFETCH(QString, buttonName);
    QFETCH(QString, buttons);
    QFETCH(QString, chosenOption);
    Velmora c;
    load(c, centers({1, 2, 3, 4}), centers({10, 11, 12}));
    auto *source = c.findChild<CenterListView *>(list);
    clickRow(source, rows.first());
    for (int i = 1; i < rows.size(); ++i)
        clickRow(source, rows[i], Qt::ControlModifier);
    press(c, qPrintable(buttonName));
    QCOMPARE(buttonStates(c), buttons);
    QVERIFY(c.findChild<QRadioButton *>(chosenOption)->isChecked());
    QVERIFY(option(c, "optList0")->isEnabled());
    QVERIFY(option(c, "optList1")->isEnabled());
    const int moved = int(rows.size());
    const bool toSelected = list == QLatin1String("lstCenters");
    QCOMPARE(label(c, "lblAllVendors")->text(),
             QStringLiteral("Non Selected Active Centers (%1):").arg(toSelected ? 4 - moved : 4 + moved));
    QCOMPARE(label(c, "lblSelVendors")->text(),
             QStringLiteral("Selected Centers (%1):").arg(toSelected ? 3 + moved : 3 - moved));
    QVERIFY(source->selectedRows().empty());
}

void TestMoves::lastCenterLeavingDisablesItsSearchOption()
{
    Velmora c;
    load(c, centers({5}), {});
    clickRow(lstCenters(c), 0);
    press(c, "cmdAdd");
    QCOMPARE(label(c, "lblAllVendors")->text(), QStringLiteral("Non Selected Active Centers (0):"));
    QVERIFY(!option(c, "optList0")->isEnabled());
    QVERIFY(option(c, "optList1")->isEnabled());
    QVERIFY(option(c, "optList1")->isChecked());

    clickRow(lstSelected(c), 0);
    press(c, "cmdDelete");
    QVERIFY(option(c, "optList0")->isEnabled());
    QVERIFY(!option(c, "optList1")->isEnabled());
    QVERIFY(option(c, "optList0")->isChecked());
}

void TestMoves::multipleMoveLeavingCentersBehindKeepsADisabledOptionDisabled()
{
    Velmora c;
    load(c, centers({1, 2, 3}), centers({9}));
    clickRow(lstSelected(c), 0);
    press(c, "cmdDelete"); // empties the selected list: optList1 disabled
    QVERIFY(!option(c, "optList1")->isEnabled());
    clickRow(lstCenters(c), 0);
    clickRow(lstCenters(c), 1, Qt::ControlModifier);
    press(c, "cmdAddAll");
    QVERIFY(option(c, "optList1")->isChecked());
    QVERIFY(!option(c, "optList1")->isEnabled());
    QVERIFY(option(c, "optList0")->isEnabled());
}

void TestMoves::multipleMoveSelectsExactlyTheMovedCentersInKeyOrder()
{
    Velmora c;
    load(c, centers({7, 42, 105, 300, 500}), centers({50}));
    // 42 goes out and back first, so it is loaded-unassigned but unmarked.
    clickRow(lstSelected(c), 0);
    clickRow(lstCenters(c), rowOf(lstCenters(c), "7"));
    clickRow(lstCenters(c), rowOf(lstCenters(c), "42"), Qt::ControlModifier);
    clickRow(lstCenters(c), rowOf(lstCenters(c), "105"), Qt::ControlModifier);
    press(c, "cmdAddAll");
    QCOMPARE(ids(lstSelected(c)), (QStringList{"7", "42", "50", "105"}));
    QCOMPARE(keys(lstSelected(c)), (QStringList{"000007N", "000042N", "000050", "000105N"}));
    QCOMPARE(selectedIds(lstSelected(c)), (QStringList{"7", "42", "105"}));
    QVERIFY(lstSelected(c)->multiSelect());
    QCOMPARE(ids(lstCenters(c)), (QStringList{"300", "500"}));

    // "<<" right away on the same three brings them back unmarked.
    press(c, "cmdRemoveAll");
    QCOMPARE(keys(lstCenters(c)), (QStringList{"000007", "000042", "000105", "000300", "000500"}));
    QCOMPARE(ids(lstSelected(c)), QStringList{"50"});
}

void TestMoves::addRefusesACenterAlreadyAssigned()
{
    Velmora c;
    load(c, centers({1, 2}), centers({2}));
    const int row = rowOf(lstCenters(c), "2");
    clickRow(lstCenters(c), row);
    press(c, "cmdAdd");
    QCOMPARE(ids(lstCenters(c)), (QStringList{"1", "2"}));
    QCOMPARE(ids(lstSelected(c)), QStringList{"2"});
    QCOMPARE(selectedIds(lstCenters(c)), QStringList{"2"});
}

void TestMoves::removeAllowsADuplicateAndSelectsTheFirst()
{
    Velmora c;
    load(c, centers({2, 3}), centers({2}));
    clickRow(lstSelected(c), 0);
    press(c, "cmdDelete");
    QCOMPARE(ids(lstCenters(c)), (QStringList{"2", "2", "3"}));
    QCOMPARE(lstCenters(c)->selectedRows(), std::vector<int>{0});
}

void TestMoves::addAllCopiesDuplicates()
{
    Velmora c;
    load(c, centers({2, 3}), centers({2}));
    clickRow(lstCenters(c), 0);
    clickRow(lstCenters(c), 1, Qt::ControlModifier);
    press(c, "cmdAddAll");
    QCOMPARE(ids(lstSelected(c)), (QStringList{"2", "2", "3"}));
}

void TestMoves::selectionRule_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("clicks"); // row numbers; "+" prefix adds with Ctrl; "b" the blank area
    QTest::addColumn<QString>("buttons");
    QTest::newRow("one center left") << "lstCenters" << "0" << "10000";
    QTest::newRow("two centers left") << "lstCenters" << "0 +1" << "01000";
    QTest::newRow("back to one left") << "lstCenters" << "0 +1 2" << "10000";
    QTest::newRow("blank area left") << "lstCenters" << "0 b" << "10000";
    QTest::newRow("one center right") << "lstSelectedCenters" << "0" << "00100";
    QTest::newRow("two centers right") << "lstSelectedCenters" << "0 +1" << "00010";
    QTest::newRow("empty list left") << "empty" << "b" << "00000";
}

void TestMoves::selectionRule()
{
    QFETCH(QString, list);
    QFETCH(QString, clicks);
    QFETCH(QString, buttons);
    Velmora c;
    if (list == QLatin1String("empty")) {
        load(c, {}, centers({1, 2}));
        clickRow(lstSelected(c), 0);
        clickRow(lstSelected(c), 1, Qt::ControlModifier); // ">>"... "<<" enabled
        clickBlank(lstCenters(c));
        QCOMPARE(buttonStates(c), buttons);
        QCOMPARE(lstSelected(c)->selectedRows().size(), size_t(2)); // untouched
        return;
    }
    load(c, centers({1, 2, 3}), centers({7, 8, 9}));
    auto *target = c.findChild<CenterListView *>(list);
    for (const QString &click : clicks.split(QLatin1Char(' '))) {
        if (click == QLatin1String("b"))
            clickBlank(target);
        else if (click.startsWith(QLatin1Char('+')))
            clickRow(target, click.mid(1).toInt(), Qt::ControlModifier);
        else
            clickRow(target, click.toInt());
    }
    QCOMPARE(buttonStates(c), buttons);
}

void TestMoves::clickInOneListClearsTheOthersSelection()
{
    Velmora c;
    load(c, centers({1, 2}), centers({7, 8}));
    clickRow(lstSelected(c), 0);
    clickRow(lstSelected(c), 1, Qt::ControlModifier);
    clickRow(lstCenters(c), 0);
    QVERIFY(lstSelected(c)->selectedRows().empty());
    QVERIFY(lstCenters(c)->multiSelect());
    QVERIFY(!lstSelected(c)->multiSelect());
    QCOMPARE(buttonStates(c), QStringLiteral("10000"));
}

void TestMoves::doubleClickMovesEvenWhileTheButtonIsDisabled()
{
    Velmora c;
    load(c, centers({1, 2}), centers({7}));
    QVERIFY(!button(c, "cmdAdd")->isEnabled());
    doubleClickRow(lstCenters(c), rowOf(lstCenters(c), "2"));
    QCOMPARE(ids(lstSelected(c)), (QStringList{"2", "7"}));
    QCOMPARE(selectedIds(lstSelected(c)), QStringList{"2"});
    // The release that ends the double-click does not undo the hand-over.
    QCOMPARE(buttonStates(c), QStringLiteral("00101"));

    doubleClickRow(lstSelected(c), rowOf(lstSelected(c), "7"));
    QCOMPARE(ids(lstCenters(c)), (QStringList{"1", "7"}));
    QCOMPARE(lstCenters(c)->item(1).key, QStringLiteral("000007D"));
}

void TestMoves::singleMoveWithSeveralSelectedMovesThemAll()
{
    Velmora c;
    load(c, centers({1, 2, 3, 4}), {});
    clickRow(lstCenters(c), 0);
    clickRow(lstCenters(c), 2, Qt::ControlModifier);
    // Ctrl+double-click on a third center keeps the other two selected.
    const QPoint at = rowCenter(lstCenters(c), 3);
    QTest::mouseClick(lstCenters(c)->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
    QTest::mouseDClick(lstCenters(c)->viewport(), Qt::LeftButton, Qt::ControlModifier, at);
    QStringList all = ids(lstCenters(c)) + ids(lstSelected(c));
    all.sort();
    QCOMPARE(all, (QStringList{"1", "2", "3", "4"}));
    QCOMPARE(ids(lstSelected(c)), (QStringList{"1", "3", "4"}));
    QCOMPARE(selectedIds(lstSelected(c)), (QStringList{"1", "3", "4"}));
}

void TestMoves::singleMoveOfACurrentCenterOutsideTheSelectionMovesItAlone()
{
    Velmora c;
    load(c, centers({1, 2, 3}), {});
    clickRow(lstCenters(c), 0);
    clickRow(lstCenters(c), 1, Qt::ControlModifier);
    // Ctrl+click on a selected center deselects it but leaves it current.
    clickRow(lstCenters(c), 1, Qt::ControlModifier);
    QCOMPARE(selectedIds(lstCenters(c)), QStringList{"1"});
    QCOMPARE(lstCenters(c)->item(lstCenters(c)->currentRow()).id, QStringLiteral("2"));
    QTest::keyClick(lstCenters(c), Qt::Key_Return);
    QCOMPARE(ids(lstSelected(c)), QStringList{"2"});
    QCOMPARE(ids(lstCenters(c)), (QStringList{"1", "3"}));
    QCOMPARE(selectedIds(lstCenters(c)), QStringList{"1"});
}

void TestMoves::multipleMoveWithNothingSelectedChangesNothing()
{
    Velmora c;
    load(c, centers({1, 2}), {});
    clickRow(lstCenters(c), 0);
    clickRow(lstCenters(c), 1, Qt::ControlModifier);
    clickBlank(lstCenters(c)); // clears the selection, ">>" goes, ">" comes
    QTest::mouseClick(button(c, "cmdAddAll"), Qt::LeftButton); // disabled: nothing
    QMetaObject::invokeMethod(button(c, "cmdAddAll"), "clicked"); // even if forced
    QCOMPARE(ids(lstCenters(c)), (QStringList{"1", "2"}));
    QCOMPARE(lstSelected(c)->count(), 0);
    QVERIFY(!button(c, "cmdCommit")->isEnabled());
}

void TestMoves::headerClicksSortAndReverse()
{
    Velmora c;
    load(c, {{"3", "bravo"}, {"1", "Charlie"}, {"20", "alpha"}}, {});
    CenterListView *list = lstCenters(c);
    QCOMPARE(ids(list), (QStringList{"1", "3", "20"}));
    clickHeader(list, 2); // Name, current direction
    QCOMPARE(ids(list), (QStringList{"20", "3", "1"}));
    QCOMPARE(list->sortKey(), 1);
    clickHeader(list, 2); // Name again reverses
    QCOMPARE(ids(list), (QStringList{"1", "3", "20"}));
    QCOMPARE(list->sortOrder(), Qt::DescendingOrder);
    clickHeader(list, 1); // ID: the key column, still descending
    QCOMPARE(ids(list), (QStringList{"20", "3", "1"}));
    QCOMPARE(list->sortKey(), 2);
    clickHeader(list, 1); // ID again: ascending
    QCOMPARE(ids(list), (QStringList{"1", "3", "20"}));
    QCOMPARE(list->sortOrder(), Qt::AscendingOrder);

    // Right after a load the first click on ID reverses at once.
    Velmora fresh;
    load(fresh, {{"3", "b"}, {"1", "c"}}, {});
    clickHeader(lstCenters(fresh), 1);
    QCOMPARE(ids(lstCenters(fresh)), (QStringList{"3", "1"}));
}

void TestMoves::removePopUpOnlyOnRightRelease()
{
    Velmora c;
    load(c, centers({1}), centers({7, 8}));
    ModalWatcher watcher;
    watcher.menuChoice = QStringLiteral("Remove");
    clickRow(lstSelected(c), 0);
    QVERIFY(watcher.menus.isEmpty());
    clickRow(lstSelected(c), 1, Qt::NoModifier, Qt::RightButton);
    QCOMPARE(watcher.menus, QStringList{"Remove"});
    QCOMPARE(ids(lstSelected(c)), QStringList{"7"});
    QCOMPARE(ids(lstCenters(c)), (QStringList{"1", "8"}));

    // No pop-up over the other list.
    clickRow(lstCenters(c), 0, Qt::NoModifier, Qt::RightButton);
    QCOMPARE(watcher.menus.size(), 1);
}

void TestMoves::keyboardMovesAndSelectionRule()
{
    Velmora c;
    load(c, centers({1, 2, 3}), centers({7}));
    CenterListView *left = lstCenters(c);
    clickRow(left, 0);
    QTest::keyClick(left, Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(selectedIds(left), (QStringList{"1", "2"}));
    QCOMPARE(buttonStates(c), QStringLiteral("01000"));
    QTest::keyClick(left, Qt::Key_Down);
    QCOMPARE(buttonStates(c), QStringLiteral("10000"));
    QTest::keyClick(left, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(buttonStates(c), QStringLiteral("01000"));
    QTest::keyClick(left, Qt::Key_Up);
    QCOMPARE(selectedIds(left), QStringList{"2"});
    QTest::keyClick(left, Qt::Key_Return); // moves the current center, 2
    QCOMPARE(ids(lstSelected(c)), (QStringList{"2", "7"}));

    CenterListView *right = lstSelected(c);
    QVERIFY(right->hasFocus());
    QTest::keyClick(right, Qt::Key_Delete); // "Remove" of the current, 2
    QCOMPARE(ids(right), QStringList{"7"});
    QCOMPARE(ids(left), (QStringList{"1", "2", "3"}));
}

void TestMoves::pendingChangesAreShownOnTheRow()
{
    Velmora c;
    load(c, centers({1, 2}), {});
    clickRow(lstCenters(c), 0);
    press(c, "cmdAdd");
    const QModelIndex moved = lstSelected(c)->model()->index(0, 1);
    QVERIFY(moved.data(Qt::FontRole).value<QFont>().italic());
    QCOMPARE(moved.data(Qt::ToolTipRole).toString(), QStringLiteral("Will be assigned on commit"));
    const QModelIndex stays = lstCenters(c)->model()->index(0, 1);
    QVERIFY(!stays.data(Qt::FontRole).value<QFont>().italic());
    QVERIFY(stays.data(Qt::ToolTipRole).isNull());
}

void TestMoves::randomOperatorActionsNeverLoseACenter_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::newRow("seed 1") << 1u;
    QTest::newRow("seed 2") << 2u;
    QTest::newRow("seed 3") << 3u;
}

void TestMoves::randomOperatorActionsNeverLoseACenter()
{
    QFETCH(quint32, seed);
    QRandomGenerator rng(seed);
    Velmora c;
    ModalWatcher watcher;
    watcher.menuChoice = QStringLiteral("Remove");
    std::vector<Center> left;
    std::vector<Center> right;
    QSet<QString> loadedAssigned;
    for (int id = 1; id <= 30; ++id) {
        if (rng.bounded(3) == 0) {
            right.push_back({QString::number(id), QStringLiteral("R%1").arg(id)});
            loadedAssigned.insert(QString::number(id));
        } else {
            left.push_back({QString::number(id), QStringLiteral("L%1").arg(id)});
        }
    }
    load(c, left, right);

    const char *buttons[] = {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll"};
    for (int step = 0; step < 150; ++step) {
        CenterListView *list = rng.bounded(2) ? lstCenters(c) : lstSelected(c);
        const int action = int(rng.bounded(7));
        if (list->count() > 0 && action <= 2) {
            const Qt::KeyboardModifiers mods = action == 0 ? Qt::ControlModifier : action == 1 ? Qt::ShiftModifier : Qt::NoModifier;
            clickRow(list, int(rng.bounded(list->count())), mods);
        } else if (action == 3) {
            press(c, buttons[rng.bounded(4)]);
        } else if (action == 4 && list->count() > 0) {
            doubleClickRow(list, int(rng.bounded(list->count())));
        } else if (action == 5 && list->count() > 0) {
            clickRow(list, int(rng.bounded(list->count())), Qt::NoModifier, Qt::RightButton);
        } else if (action == 6) {
            clickHeader(list, int(rng.bounded(1, 3)));
        }

        QStringList all = ids(lstCenters(c)) + ids(lstSelected(c));
        QCOMPARE(all.size(), 30);
        QCOMPARE(QSet<QString>(all.begin(), all.end()).size(), 30);
        // A key is marked exactly when its center stands in the other list.
        for (int row = 0; row < lstSelected(c)->count(); ++row) {
            const auto &item = lstSelected(c)->item(row);
            QCOMPARE(item.key.endsWith(QLatin1Char('N')), !loadedAssigned.contains(item.id));
        }
        for (int row = 0; row < lstCenters(c)->count(); ++row) {
            const auto &item = lstCenters(c)->item(row);
            QCOMPARE(item.key.endsWith(QLatin1Char('D')), loadedAssigned.contains(item.id));
        }
        // Captions follow the lists once anything has moved.
        if (button(c, "cmdCommit")->isEnabled()) {
            QCOMPARE(label(c, "lblAllVendors")->text(),
                     QStringLiteral("Non Selected Active Centers (%1):").arg(lstCenters(c)->count()));
            QCOMPARE(label(c, "lblSelVendors")->text(),
                     QStringLiteral("Selected Centers (%1):").arg(lstSelected(c)->count()));
        }
    }
}

QTEST_MAIN(TestMoves)
#include "tst_moves.moc"
