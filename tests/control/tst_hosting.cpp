// The control in a host's and an operator's hands: forms built by uic in
// both shapes, and what only the widget shows of the keys (focus after a
// keyboard move, shortcuts, type-ahead, sorting) and of pending changes.
#include "controlfixture.h"
#include "testtable.h"
#include "ui_form-plain.h"
#include "ui_form-stdset.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpServer>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// The IDs of a list in display order, "^" after the current one.
QString ids(QTreeView *view)
{
    QStringList shown;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        shown << view->model()->index(row, 0).data().toString() + (view->currentIndex().row() == row ? u"^"_qs : QString());
    return shown.join(u' ');
}

template<typename Form>
Velmora *setUpForm(QWidget &host)
{
    Form form;
    form.setupUi(&host);
    return form.velmora;
}

} // namespace

class TestHosting : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formsNeverWait_data() { TestTable::load(VELMORA_TABLES "/forms.txt"); }
    void formsNeverWait();
    void keys();
};

void TestHosting::formsNeverWait()
{
    QFETCH(bool, stdset);
    // The forms name this address: a loopback server that takes the
    // connection and never answers.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress(QStringLiteral("127.0.0.24")), 47224));
    QWidget host;
    Velmora *control = stdset ? setUpForm<Ui::StdsetForm>(host) : setUpForm<Ui::PlainForm>(host);
    // A wait inside setupUi() would have ended with the load (5 s later,
    // failed): still busy means setupUi() returned while the load runs.
    QVERIFY(control->isBusy());
    QCOMPARE(control->timeout(), std::chrono::milliseconds(5000));
    QCOMPARE(control->employeeID(), 12);
    QCOMPARE(control->serverName(), QStringLiteral("http://127.0.0.24:47224"));
    QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 5000);
}

void TestHosting::keys()
{
    PageServer page;
    // A host window with an undo of its own for the rest of the window.
    QWidget host;
    auto *layout = new QVBoxLayout(&host);
    auto *control = new Velmora;
    auto *elsewhere = new QPushButton(QStringLiteral("Elsewhere"));
    layout->addWidget(control);
    layout->addWidget(elsewhere);
    QAction hostUndo;
    hostUndo.setShortcut(QKeySequence::Undo);
    host.addAction(&hostUndo);
    QSignalSpy hostUndone(&hostUndo, &QAction::triggered);
    QSignalSpy pending(control, &Velmora::pendingChangesChanged);
    QVERIFY(loadInto(*control, page, {{"1", "Zeta"}, {"2", "Bremen"}, {"3", "Apfel"}, {"4", "Hamburg"}}, {{"9", "Omega"}}));
    host.show();
    QVERIFY(QTest::qWaitForWindowActive(&host));
    QTreeView *left = list(*control, 0);
    QTreeView *right = list(*control, 1);

    // Enter twice moves two centers, and focus stays in the list they left.
    left->setFocus();
    QTest::keyClick(left, Qt::Key_Return);
    QTest::keyClick(left, Qt::Key_Return);
    QCOMPARE(ids(left), QStringLiteral("3^ 4"));
    QCOMPARE(ids(right), QStringLiteral("1 2^ 9"));
    QCOMPARE(control->focusWidget(), left);
    QVERIFY(control->isWindowModified() && control->hasPendingChanges());
    QCOMPARE(pending.count(), 1);

    // Delete twice in the assigned list removes two.
    right->setFocus();
    QTest::keyClick(right, Qt::Key_Home);
    QTest::keyClick(right, Qt::Key_Delete);
    QTest::keyClick(right, Qt::Key_Delete);
    QCOMPARE(ids(right), QStringLiteral("9^"));
    QCOMPARE(control->focusWidget(), right);
    // The centers are back where the server has them.
    QVERIFY(!control->hasPendingChanges() && !control->isWindowModified());

    // Undo and redo, from the keyboard.
    QTest::keyClick(right, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(ids(right), QStringLiteral("2^ 9"));
    QVERIFY(control->hasPendingChanges());
    QTest::keyClick(right, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(ids(right), QStringLiteral("9^"));
    QCOMPARE(hostUndone.count(), 0);
    elsewhere->setFocus();
    QTest::keyClick(elsewhere, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(hostUndone.count(), 1);
    QCOMPARE(ids(right), QStringLiteral("9^"));

    // Ctrl+2 (here from the keypad) sorts by name, Ctrl+1 by ID; type-ahead
    // finds names too.
    left->setFocus();
    QTest::keyClick(left, Qt::Key_2, Qt::ControlModifier | Qt::KeypadModifier);
    QCOMPARE(left->header()->sortIndicatorSection(), 1);
    QCOMPARE(ids(left).remove(u'^'), QStringLiteral("3 2 4 1"));
    QTest::keyClicks(left, "hamb");
    QCOMPARE(left->currentIndex().row(), 2);
    QTest::keyClick(left, Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(left->header()->sortIndicatorSection(), 0);

    // F3 looks on from the current row; "Not found" only without a match.
    QTest::mouseClick(child(*control, "optFind0"), Qt::LeftButton);
    auto *nameBox = child<QLineEdit>(*control, "txtVendorName");
    QTest::keyClicks(nameBox, "e");
    QTest::keyClick(nameBox, Qt::Key_F3);
    QTest::keyClick(left, Qt::Key_F3);
    QTest::keyClick(left, Qt::Key_F3);
    QTest::keyClick(left, Qt::Key_F3, Qt::ShiftModifier);
    QCOMPARE(ids(left), QStringLiteral("1 2^ 3 4"));
    QVERIFY(!control->findChild<QMessageBox *>());

    // F5 with 2 moved: another operator has assigned 2 and 3, and 9 is no
    // longer active. The move is dropped, the changes are marked and told.
    QTest::keyClick(left, Qt::Key_Return);
    QSignalSpy others(control, &Velmora::changedByOthers);
    page.answer(false, {200, centerDocument({{"1", "Zeta"}, {"4", "Hamburg"}}, {{"2", "Bremen"}, {"3", "Apfel"}})});
    QTest::keyClick(left, Qt::Key_F5);
    QVERIFY(others.wait(5000));
    QCOMPARE(others.value(0).value(0).toStringList(), (QStringList{"2", "3", "9"}));
    QCOMPARE(child<QLabel>(*control, "notice")->text(), QStringLiteral("Already made by another operator: 1. Changed by another operator, in italics: 2 (2, 3). No longer active: 1 (9)."));
    QCOMPARE(right->model()->index(1, 1).data(Qt::ToolTipRole).toString(), QStringLiteral("Changed by another operator"));
    QVERIFY(!control->hasPendingChanges());
}

QTEST_MAIN(TestHosting)
#include "tst_hosting.moc"
