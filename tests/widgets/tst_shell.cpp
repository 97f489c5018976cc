// The control as a host first sees it: children, captions, initial states,
// start-up columns, the version caption, the employee property and the
// layout's response to more room.

#include "controlharness.h"

#include <velmora/identity.h>

#include <QGroupBox>
#include <QHeaderView>
#include <QMenu>

using namespace Harness;

class TestShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyChildHasItsNameAndCaption_data();
    void everyChildHasItsNameAndCaption();
    void startsWithEverythingDisabledButTheNameBox();
    void searchBoxesStartInTheInactiveLook();
    void bothListsHaveTheirColumnsBeforeAnyLoad();
    void versionCaptionComesFromTheBuild();
    void removeMenuIsAPopUpOnly();
    void sizeHintIsTheDesignSize();
    void extraRoomGoesToTheLists();
    void captionsAreNeverClipped();
    void employeeIdAcceptsOnlySigned32BitNumbers_data();
    void employeeIdAcceptsOnlySigned32BitNumbers();
    void timeoutPropertyDefaultsToThirtySeconds();
};

void TestShell::everyChildHasItsNameAndCaption_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("cmdCommit") << "cmdCommit" << "Commit to Database";
    QTest::newRow("cmdRemoveAll") << "cmdRemoveAll" << "<<";
    QTest::newRow("cmdAddAll") << "cmdAddAll" << ">>";
    QTest::newRow("cmdAdd") << "cmdAdd" << ">";
    QTest::newRow("cmdDelete") << "cmdDelete" << "<";
    QTest::newRow("fraFind") << "fraFind" << " Find Center";
    QTest::newRow("Frame1") << "Frame1" << " List to search  ";
    QTest::newRow("optList1") << "optList1" << "Selected Centers";
    QTest::newRow("optList0") << "optList0" << "Non Selected Centers";
    QTest::newRow("cmdFind") << "cmdFind" << "Find";
    QTest::newRow("optFind1") << "optFind1" << "ID";
    QTest::newRow("optFind0") << "optFind0" << "Name";
    QTest::newRow("txtVendorID") << "txtVendorID" << "";
    QTest::newRow("txtVendorName") << "txtVendorName" << "";
    QTest::newRow("lblAllVendors") << "lblAllVendors" << "Non Selected Active Centers:";
    QTest::newRow("lblSelVendors") << "lblSelVendors" << "Selected Centers:";
}

void TestShell::everyChildHasItsNameAndCaption()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    Velmora control;
    QWidget *w = control.findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    QString text;
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        text = b->text();
    else if (auto *g = qobject_cast<QGroupBox *>(w))
        text = g->title();
    else if (auto *l = qobject_cast<QLabel *>(w))
        text = l->text();
    else if (auto *e = qobject_cast<QLineEdit *>(w))
        text = e->text();
    QCOMPARE(text, caption);
}

void TestShell::startsWithEverythingDisabledButTheNameBox()
{
    Velmora control;
    QCOMPARE(buttonStates(control), QStringLiteral("00000"));
    QVERIFY(!button(control, "cmdFind")->isEnabled());
    for (const char *name : {"optFind0", "optFind1", "optList0", "optList1"})
        QVERIFY2(!option(control, name)->isEnabled(), name);
    QVERIFY(option(control, "optFind1")->isChecked());
    QVERIFY(option(control, "optList0")->isChecked());
    QVERIFY(!edit(control, "txtVendorID")->isEnabled());
    QVERIFY(edit(control, "txtVendorID")->isReadOnly());
    QVERIFY(edit(control, "txtVendorName")->isEnabled());
    QVERIFY(edit(control, "txtVendorName")->isReadOnly());
    QCOMPARE(child<QProgressBar>(control, "prbLoad")->value(), 0);
}

void TestShell::searchBoxesStartInTheInactiveLook()
{
    Velmora control;
    const QColor face = control.palette().color(QPalette::Button);
    QCOMPARE(edit(control, "txtVendorID")->palette().color(QPalette::Base), face);
    QCOMPARE(edit(control, "txtVendorName")->palette().color(QPalette::Base), face);
}

void TestShell::bothListsHaveTheirColumnsBeforeAnyLoad()
{
    Velmora control;
    for (CenterListView *list : {lstCenters(control), lstSelected(control)}) {
        QCOMPARE(list->model()->columnCount(), 3);
        QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("ID"));
        QCOMPARE(list->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Name"));
        QCOMPARE(list->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("ID"));
        // 3975 twips are 265 pixels: a fifth for the ID, the rest for the name.
        QCOMPARE(list->header()->sectionSize(0), 53);
        QCOMPARE(list->header()->sectionSize(1), 212);
        QVERIFY(list->isColumnHidden(2));
        QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(!list->multiSelect());
    }
}

void TestShell::versionCaptionComesFromTheBuild()
{
    Velmora control;
    QCOMPARE(label(control, "lblVersionNumber")->text(),
             QStringLiteral("Version Number: ") + QLatin1String(VelmoraIdentity::Version));
    QCOMPARE(QLatin1String(VelmoraIdentity::Version), QLatin1String("3.0.2"));
}

void TestShell::removeMenuIsAPopUpOnly()
{
    Velmora control;
    auto *menu = control.findChild<QMenu *>(QStringLiteral("mnuRemove"));
    QVERIFY(menu);
    QVERIFY(!menu->isVisible());
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->objectName(), QStringLiteral("mnuRemoveItems"));
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("Remove"));
}

void TestShell::sizeHintIsTheDesignSize()
{
    Velmora control;
    QCOMPARE(control.sizeHint(), QSize(583, 348));
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    QCOMPARE(lstCenters(control)->geometry(), QRect(7, 24, 265, 185));
    QCOMPARE(lstSelected(control)->geometry(), QRect(311, 24, 265, 185));
    QCOMPARE(button(control, "cmdAdd")->geometry(), QRect(271, 64, 41, 25));
}

void TestShell::extraRoomGoesToTheLists()
{
    Velmora control;
    control.resize(583 + 200, 348 + 100);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    QCOMPARE(lstCenters(control)->geometry(), QRect(7, 24, 365, 285));
    QCOMPARE(lstSelected(control)->geometry(), QRect(411, 24, 365, 285));
    QCOMPARE(button(control, "cmdAdd")->geometry().topLeft(), QPoint(371, 64));
    QCOMPARE(button(control, "cmdCommit")->geometry().topRight(), QPoint(463 + 112 - 1 + 200, 245 + 100));
    QCOMPARE(child<QGroupBox>(control, "fraFind")->geometry().topLeft(), QPoint(8, 208 + 100));
    // Column widths were set once at start-up and stay.
    QCOMPARE(lstCenters(control)->header()->sectionSize(0), 53);
}

void TestShell::captionsAreNeverClipped()
{
    Velmora control;
    QFont wide = control.font();
    wide.setPointSizeF(8.0);
    wide.setLetterSpacing(QFont::PercentageSpacing, 130);
    control.setFont(wide);
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    control.resize(control.sizeHint());
    for (const char *name : {"optList0", "optList1", "optFind0", "lblAllVendors"}) {
        QWidget *w = control.findChild<QWidget *>(QLatin1String(name));
        QVERIFY2(w->width() >= w->sizeHint().width() || w->geometry().right() >= w->parentWidget()->width() - 5, name);
    }
    QPushButton *commit = button(control, "cmdCommit");
    QVERIFY(commit->width() >= commit->fontMetrics().horizontalAdvance(commit->text()));
}

void TestShell::employeeIdAcceptsOnlySigned32BitNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("plain") << "42" << true;
    QTest::newRow("zero") << "0" << true;
    QTest::newRow("negative") << "-7" << true;
    QTest::newRow("largest") << "2147483647" << true;
    QTest::newRow("smallest") << "-2147483648" << true;
    QTest::newRow("one past largest") << "2147483648" << false;
    QTest::newRow("one past smallest") << "-2147483649" << false;
    QTest::newRow("letters") << "abc" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("trailing letters") << "12ab" << false;
    QTest::newRow("decimal") << "1.5" << false;
}

void TestShell::employeeIdAcceptsOnlySigned32BitNumbers()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    Velmora control;
    QCOMPARE(control.setEmployeeID(text), accepted);
}

void TestShell::timeoutPropertyDefaultsToThirtySeconds()
{
    Velmora control;
    QCOMPARE(control.timeout(), std::chrono::milliseconds(30000));
    QCOMPARE(control.property("timeout").toInt(), 30000);
    control.setProperty("timeout", 1500);
    QCOMPARE(control.timeout(), std::chrono::milliseconds(1500));
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
