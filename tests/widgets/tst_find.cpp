// The "Find Center" panel on the real widgets: the mode switch, when Find
// is enabled, name and ID matching, the searched list, display order, and
// the state a search leaves behind.

#include "controlharness.h"

#include "fixtureserver.h"

using namespace Harness;
using VelmoraInternal::FixtureServer;

class TestFind : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void choosingAModeEmptiesAndLocksTheOtherBox_data();
    void choosingAModeEmptiesAndLocksTheOtherBox();
    void findIsEnabledWhileTheEditedBoxHoldsText();
    void search_data();
    void search();
    void firstHitFollowsTheDisplayOrder();
    void searchLeavesMovesDisabledUntilTheNextClick();
    void enterInTheSearchBoxPressesFind();
    void reloadKeepsTheChosenMode();

private:
    void load(Velmora &c);
    std::unique_ptr<FixtureServer> m_server;
};

void TestFind::init()
{
    m_server = std::make_unique<FixtureServer>();
    QVERIFY(m_server->listen());
}

void TestFind::cleanup()
{
    m_server.reset();
}

void TestFind::load(Velmora &c)
{
    const std::vector<Center> unassigned{{"10", "Central Office"}, {"11", "Accent Works"}, {"142", "Paint Shop"},
                                         {"42", "Stamping"}, {"420", "ölmühle"}};
    const std::vector<Center> assigned{{"500", "Assembly Line"}, {"501", "Central Stores"}};
    m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::xml(document(unassigned, assigned)));
    c.setServerName(m_server->baseUrl());
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    QCOMPARE(lstCenters(c)->count(), 5);
}

void TestFind::choosingAModeEmptiesAndLocksTheOtherBox_data()
{
    QTest::addColumn<QString>("choose");
    QTest::addColumn<QString>("chosenBox");
    QTest::addColumn<QString>("otherBox");
    QTest::newRow("name") << "optFind0" << "txtVendorName" << "txtVendorID";
    QTest::newRow("id") << "optFind1" << "txtVendorID" << "txtVendorName";
}

void TestFind::choosingAModeEmptiesAndLocksTheOtherBox()
{
    QFETCH(QString, choose);
    QFETCH(QString, chosenBox);
    QFETCH(QString, otherBox);
    Velmora c;
    load(c);
    // Give both boxes text first, going through the opposite mode.
    QTest::mouseClick(option(c, choose == QLatin1String("optFind0") ? "optFind1" : "optFind0"), Qt::LeftButton);
    QLineEdit *chosen = c.findChild<QLineEdit *>(chosenBox);
    QLineEdit *other = c.findChild<QLineEdit *>(otherBox);
    other->setReadOnly(false);
    QTest::keyClicks(other, QStringLiteral("abc"));
    chosen->setText(QStringLiteral("kept"));

    QTest::mouseClick(c.findChild<QRadioButton *>(choose), Qt::LeftButton);
    QCOMPARE(other->text(), QString());
    QVERIFY(other->isReadOnly());
    QCOMPARE(other->palette().color(QPalette::Base), c.palette().color(QPalette::Button));
    QVERIFY(!chosen->isReadOnly());
    QCOMPARE(chosen->palette().color(QPalette::Base), c.palette().color(QPalette::Base));
    QCOMPARE(chosen->text(), QStringLiteral("kept"));
    // Emptying the other box disabled Find, though the chosen one holds text.
    QVERIFY(!button(c, "cmdFind")->isEnabled());
}

void TestFind::findIsEnabledWhileTheEditedBoxHoldsText()
{
    Velmora c;
    load(c);
    QLineEdit *id = edit(c, "txtVendorID");
    QTest::keyClicks(id, QStringLiteral("4"));
    QVERIFY(button(c, "cmdFind")->isEnabled());
    QTest::keyClick(id, Qt::Key_Backspace);
    QVERIFY(!button(c, "cmdFind")->isEnabled());
    QTest::keyClicks(id, QStringLiteral("42"));
    QTest::mouseClick(option(c, "optFind0"), Qt::LeftButton);
    QVERIFY(!button(c, "cmdFind")->isEnabled());
    QTest::keyClicks(edit(c, "txtVendorName"), QStringLiteral("x"));
    QVERIFY(button(c, "cmdFind")->isEnabled());
}

void TestFind::search_data()
{
    QTest::addColumn<bool>("byName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("inSelected");
    QTest::addColumn<QString>("expectedId"); // empty: "Not found"
    QTest::newRow("piece of a name, first in order") << true << "cent" << false << "10";
    QTest::newRow("name ignores case") << true << "OFFICE" << false << "10";
    QTest::newRow("name beyond ASCII ignores case") << true << "ÖLMÜ" << false << "420";
    QTest::newRow("name not there") << true << "Foundry" << false << "";
    QTest::newRow("whole ID") << false << "42" << false << "42";
    QTest::newRow("ID is not a prefix") << false << "14" << false << "";
    QTest::newRow("ID with a leading blank") << false << " 42" << false << "";
    QTest::newRow("selected list chosen") << false << "42" << true << "";
    QTest::newRow("name in the selected list") << true << "central" << true << "501";
}

void TestFind::search()
{
    QFETCH(bool, byName);
    QFETCH(QString, text);
    QFETCH(bool, inSelected);
    QFETCH(QString, expectedId);
    Velmora c;
    load(c);
    ModalWatcher watcher;
    if (byName)
        QTest::mouseClick(option(c, "optFind0"), Qt::LeftButton);
    if (inSelected)
        QTest::mouseClick(option(c, "optList1"), Qt::LeftButton);
    edit(c, byName ? "txtVendorName" : "txtVendorID")->setText(text);
    QTest::mouseClick(button(c, "cmdFind"), Qt::LeftButton);

    CenterListView *list = inSelected ? lstSelected(c) : lstCenters(c);
    if (expectedId.isEmpty()) {
        QCOMPARE(watcher.messages.size(), 1);
        QCOMPARE(watcher.messages.first().text, QStringLiteral("Not found"));
        QCOMPARE(watcher.messages.first().icon, QMessageBox::Information);
        QVERIFY(list->selectedRows().empty());
        return;
    }
    QVERIFY(watcher.messages.isEmpty());
    QCOMPARE(selectedIds(list), QStringList{expectedId});
    QCOMPARE(list->item(list->currentRow()).id, expectedId);
    QVERIFY(list->hasFocus());
    // Pressing Find again finds the same center.
    QTest::mouseClick(button(c, "cmdFind"), Qt::LeftButton);
    QCOMPARE(selectedIds(list), QStringList{expectedId});
}

void TestFind::firstHitFollowsTheDisplayOrder()
{
    Velmora c;
    load(c);
    QTest::mouseClick(option(c, "optFind0"), Qt::LeftButton);
    QTest::keyClicks(edit(c, "txtVendorName"), QStringLiteral("c"));
    QTest::mouseClick(button(c, "cmdFind"), Qt::LeftButton);
    QCOMPARE(selectedIds(lstCenters(c)), QStringList{"10"}); // key order: 10 first
    clickHeader(lstCenters(c), 2); // by name: Accent Works first
    QTest::mouseClick(button(c, "cmdFind"), Qt::LeftButton);
    QCOMPARE(selectedIds(lstCenters(c)), QStringList{"11"});
}

void TestFind::searchLeavesMovesDisabledUntilTheNextClick()
{
    Velmora c;
    load(c);
    ModalWatcher watcher;
    clickRow(lstCenters(c), 0);
    clickRow(lstCenters(c), 1, Qt::ControlModifier);
    QCOMPARE(buttonStates(c), QStringLiteral("01000"));
    for (const QString &text : {QStringLiteral("42"), QStringLiteral("999")}) {
        edit(c, "txtVendorID")->setText(text);
        QTest::mouseClick(button(c, "cmdFind"), Qt::LeftButton);
        QCOMPARE(buttonStates(c), QStringLiteral("00000"));
        QVERIFY(!lstCenters(c)->multiSelect());
        QVERIFY(!lstSelected(c)->multiSelect());
        QVERIFY(button(c, "cmdFind")->isEnabled());
    }
    QCOMPARE(watcher.messages.size(), 1);
    clickRow(lstCenters(c), 0);
    QCOMPARE(buttonStates(c), QStringLiteral("10000"));
    QVERIFY(lstCenters(c)->multiSelect());
}

void TestFind::enterInTheSearchBoxPressesFind()
{
    Velmora c;
    load(c);
    ModalWatcher watcher;
    QLineEdit *id = edit(c, "txtVendorID");
    QTest::keyClick(id, Qt::Key_Return); // empty: Find disabled, nothing happens
    QVERIFY(watcher.messages.isEmpty());
    QTest::keyClicks(id, QStringLiteral("142"));
    QTest::keyClick(id, Qt::Key_Return);
    QCOMPARE(selectedIds(lstCenters(c)), QStringList{"142"});
    // The locked box does not search.
    QTest::keyClick(edit(c, "txtVendorName"), Qt::Key_Return);
    QVERIFY(watcher.messages.isEmpty());
}

void TestFind::reloadKeepsTheChosenMode()
{
    Velmora c;
    load(c);
    QTest::mouseClick(option(c, "optFind0"), Qt::LeftButton);
    c.setServerName(m_server->baseUrl());
    QVERIFY(!edit(c, "txtVendorID")->isReadOnly());
    QVERIFY(option(c, "optFind0")->isChecked());
    QTest::keyClicks(edit(c, "txtVendorName"), QStringLiteral("paint"));
    QTest::mouseClick(button(c, "cmdFind"), Qt::LeftButton);
    QCOMPARE(selectedIds(lstCenters(c)), QStringList{"142"});
}

QTEST_MAIN(TestFind)
#include "tst_find.moc"
