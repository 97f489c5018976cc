// The control's process without a window, against the test page server:
// commit, answer and reload in their order; a failed commit; a host's load
// during a commit; a save; and the waits of the synchronous members, which
// end with their exchange, with a newer load, or with the controller.
#include "core/controller.h"
#include "pageserver.h"

#include <QPointer>
#include <QtTest>

using namespace VelmoraInternal;

namespace {

// What the controller reports, in order.
struct Log : QStringList
{
    explicit Log(Controller &c)
    {
        QObject::connect(&c, &Controller::loadStarted, &c, [this] { append("load started"); });
        QObject::connect(&c, &Controller::loaded, &c, [this] { append("loaded"); });
        QObject::connect(&c, &Controller::loadFailed, &c, [this](const QString &r) { append("load failed: " + r); });
        QObject::connect(&c, &Controller::committed, &c, [this](const QString &a) { append("committed: " + a); });
        QObject::connect(&c, &Controller::answerShown, &c, [this](const QString &a, bool reload) { append(QStringLiteral("answer%1: ").arg(reload ? " before the reload" : "") + a); });
        QObject::connect(&c, &Controller::commitFailed, &c, [this](const QString &r, const QString &d) { append("commit failed: " + r.section(u':', 0, 0) + " | " + d); });
        QObject::connect(&c, &Controller::busyChanged, &c, [this](bool busy) { append(busy ? "busy" : "idle"); });
    }
};

// The IDs of a list, pending ones marked with '*'.
QString ids(Controller &c, Side side)
{
    const CenterListModel *list = c.rules().list(side);
    QStringList out;
    for (int row = 0; row < list->count(); ++row)
        out.append(list->at(row).id.text() + (list->index(row, 0).data(CenterListModel::PendingRole).toBool() ? "*" : ""));
    return out.join(u' ');
}

// Loads 34 (unassigned) and 9 (assigned) for employee 12, then assigns 34
// when asked to.
bool loadFirst(Controller &c, PageServer &page, bool assign34)
{
    page.answer(false, {200, centerDocument({{"34", "A"}}, {{"9", "Z"}})});
    c.setEmployeeId(12);
    c.setServerName(page.address());
    if (!c.waitForLoad(c.load()) || c.rules().list(Side::NonSelected)->count() != 1)
        return false;
    QItemSelectionModel *selection = c.rules().selection(Side::NonSelected);
    selection->setCurrentIndex(selection->model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (assign34)
        c.rules().moveOne(Side::NonSelected);
    return true;
}

const char Post[] = "POST /Velmora.asp SQL=INSERT+INTO+CenterEmployeeCrossReference+%28EmployeeID%2CCenterID%2CRecordLastUpdated%29+VALUES+%2812%2C34%2CGETDATE%28%29+%29+&";
const char Get[] = "GET /Velmora.asp?EmployeeID=12";

// One run of the commit sequence: what is pending, how the commit starts
// and what the server answers; then what is reported, requested and left.
struct Sequence
{
    bool pending = true;
    bool save = false;      // SaveToDatabase instead of the button
    bool hostLoads = false; // the host asks for a load during the commit
    int status = 200;
    QByteArray answer = "Saved.";
    QStringList log;
    QStringList requests = {Post, Get};
    QString assigned = "9 34"; // the assigned list afterwards, pending ones with '*'
    bool commitEnabled = false;
};

} // namespace

Q_DECLARE_METATYPE(Sequence)

class TestController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commitAnswerReload_data();
    void commitAnswerReload();
    void waitsEndWithTheirExchange_data();
    void waitsEndWithTheirExchange();
    void addressesAndTimeout();
    void pendingEndsWhenTheServerTakesTheChanges_data();
    void pendingEndsWhenTheServerTakesTheChanges();
};

void TestController::commitAnswerReload_data()
{
    QTest::addColumn<Sequence>("run");
    const QString failed = QStringLiteral("commit failed: The server at http | down");
    QTest::newRow("the answer first, the reload after its box") << Sequence{.log = {"busy", "committed: Saved.", "answer before the reload: Saved.", "box closed", "load started", "idle", "loaded"}};
    QTest::newRow("a blank answer reloads at once") << Sequence{.answer = "  ", .log = {"busy", "committed:   ", "load started", "idle", "loaded"}};
    QTest::newRow("a line break is an answer") << Sequence{.answer = "\n", .log = {"busy", "committed: \n", "answer before the reload: \n", "box closed", "load started", "idle", "loaded"}};
    QTest::newRow("nothing pending only reloads") << Sequence{.pending = false, .log = {"load started", "busy", "idle", "loaded"}, .requests = {Get}};
    QTest::newRow("a failed commit keeps every change and enables Commit") << Sequence{.status = 500, .answer = "down", .log = {"busy", "idle", failed}, .requests = {Post}, .assigned = "9 34*", .commitEnabled = true};
    QTest::newRow("a host load during a failing commit leaves nothing to commit") << Sequence{.hostLoads = true, .status = 500, .answer = "down", .log = {"busy", "load started", failed, "idle", "loaded"}};
    QTest::newRow("a host load during a commit runs before the box's reload") << Sequence{.hostLoads = true, .log = {"busy", "load started", "committed: Saved.", "answer before the reload: Saved.", "loaded", "box closed", "load started", "idle", "loaded"}, .requests = {Post, Get, Get}};
    QTest::newRow("a save shows the answer and reloads nothing") << Sequence{.save = true, .log = {"busy", "idle", "committed: Saved.", "answer: Saved."}, .requests = {Post}, .assigned = "9 34*", .commitEnabled = true};
    QTest::newRow("a failed save keeps the changes") << Sequence{.save = true, .status = 500, .answer = "down", .log = {"busy", "idle", failed}, .requests = {Post}, .assigned = "9 34*", .commitEnabled = true};
}

void TestController::commitAnswerReload()
{
    QFETCH(Sequence, run);
    const auto &[pending, save, hostLoads, status, answer, log, requests, assigned, commitEnabled] = run;

    PageServer page;
    Controller c;
    QVERIFY(loadFirst(c, page, pending));
    QCOMPARE(c.rules().state().commitEnabled, pending);
    page.answer(true, {status, answer, "text/plain", 300});
    page.answer(false, {200, centerDocument({}, {{"34", "A"}, {"9", "Z"}})}); // what the server holds now
    Log reports(c);
    if (save) {
        QCOMPARE(c.save() != 0, pending);
    } else {
        c.commit();
        // Nothing may be moved or committed while the commit runs.
        QCOMPARE(c.rules().state().commitEnabled || c.rules().state().addEnabled || c.rules().state().removeEnabled, false);
    }
    if (hostLoads)
        c.load();
    QVERIFY(QTest::qWaitFor([&] { return c.phase() == Controller::Phase::Answer ? !hostLoads || reports.contains("loaded") : !c.isBusy(); }, 10000));
    if (c.phase() == Controller::Phase::Answer) {
        c.commit(); // nothing starts while the answer is shown
        QVERIFY(c.isBusy());
        reports.append("box closed");
        c.answerClosed();
        QVERIFY(QTest::qWaitFor([&] { return !c.isBusy(); }, 10000));
    }
    QCOMPARE(c.phase(), Controller::Phase::Idle);
    QCOMPARE(reports, log);
    QCOMPARE(page.requests().mid(1), requests);
    QCOMPARE(ids(c, Side::Selected), assigned);
    QCOMPARE(c.rules().state().commitEnabled, commitEnabled);
}

void TestController::waitsEndWithTheirExchange_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<QStringList>("log");
    QTest::newRow("a load's wait ends when it has loaded") << false << "" << QStringList{"load started", "busy", "idle", "loaded"};
    QTest::newRow("a load's wait ends with the newer load that replaced it") << false << "newer load" << QStringList{"load started", "busy", "load started", "idle", "loaded"};
    QTest::newRow("a save's wait ends with the answer") << true << "" << QStringList{"busy", "idle", "committed: ok", "answer: ok"};
    QTest::newRow("a load's wait ends when the controller goes") << false << "destroy" << QStringList{"load started", "busy"};
    QTest::newRow("a save's wait ends when the controller goes") << true << "destroy" << QStringList{"busy"};
}

void TestController::waitsEndWithTheirExchange()
{
    QFETCH(bool, save);
    QFETCH(QString, meanwhile);
    QFETCH(QStringList, log);

    PageServer page;
    PageServer newer;
    auto *c = new Controller;
    const QPointer<Controller> alive(c);
    c->setTimeout(std::chrono::minutes(2));
    if (save) {
        // A second save waits for its own answer, not for the first one's.
        QVERIFY(loadFirst(*c, page, true) && c->waitForSave(c->save()));
    }
    // The first server answers late, the newer one at once.
    page.answer(false, {200, centerDocument({{"1", "Old"}}, {}), "text/xml", 600});
    page.answer(true, {200, "ok", "text/plain", 600});
    newer.answer(false, {200, centerDocument({{"2", "New"}}, {})});
    c->setServerName(page.address());
    auto reports = std::make_unique<Log>(*c);
    const auto cleanup = qScopeGuard([&] { delete alive.data(); }); // before the log goes
    QObject scope; // the timer goes with the test, whatever it finds
    QTimer::singleShot(100, &scope, [&] {
        if (meanwhile == u"destroy") {
            delete c;
        } else if (meanwhile == u"newer load") {
            c->setServerName(newer.address());
            c->load();
        }
    });
    // False only when the controller is gone; the time-out is far off.
    QCOMPARE(save ? c->waitForSave(c->save()) : c->waitForLoad(c->load()), meanwhile != u"destroy");
    QCOMPARE(*reports, log);
    if (!alive)
        return;
    // The replaced answer arrives and is never reported.
    QTest::qWait(800);
    QCOMPARE(*reports, log);
    if (meanwhile == u"newer load")
        QCOMPARE(ids(*c, Side::NonSelected), QStringLiteral("2"));
}

void TestController::addressesAndTimeout()
{
    // The server name is used as given; the employee as plain decimal.
    Controller c;
    c.setServerName(QStringLiteral("http://host/base/"));
    c.setEmployeeId(-5);
    QCOMPARE(c.loadUrl(), QStringLiteral("http://host/base//Velmora.asp?EmployeeID=-5"));
    QCOMPARE(c.commitUrl(), QStringLiteral("http://host/base//Velmora.asp"));
    // 30 s unless set; zero or less restores it.
    QCOMPARE(c.timeout().count(), 30000);
    for (const auto &[set, got] : {std::pair{1500, 1500}, {0, 30000}, {-1, 30000}}) {
        c.setTimeout(std::chrono::milliseconds(set));
        QCOMPARE(c.timeout().count(), got);
    }

    // In design mode nothing goes out and nothing turns busy.
    PageServer page;
    c.setServerName(page.address());
    c.enterDesignMode();
    QVERIFY(c.waitForLoad(c.load()));
    c.commit();
    QCOMPARE(c.save(), quint64(0));
    QVERIFY(!c.isBusy() && page.requests().isEmpty());
}

void TestController::pendingEndsWhenTheServerTakesTheChanges_data()
{
    QTest::addColumn<bool>("save");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("pending");
    QTest::newRow("a save the server took") << true << 200 << false;
    QTest::newRow("a save that failed") << true << 500 << true;
    QTest::newRow("a commit the server took, its answer still shown") << false << 200 << false;
}

void TestController::pendingEndsWhenTheServerTakesTheChanges()
{
    QFETCH(bool, save);
    QFETCH(int, status);
    QFETCH(bool, pending);
    PageServer page;
    Controller c;
    QVERIFY(loadFirst(c, page, true));
    QVERIFY(c.rules().state().pendingChanges && c.rules().canUndo());
    page.answer(true, {status, "Saved."});
    if (save) {
        QVERIFY(c.waitForSave(c.save()));
    } else {
        c.commit();
        QVERIFY(QTest::qWaitFor([&] { return c.phase() == Controller::Phase::Answer; }, 10000));
    }
    QCOMPARE(c.rules().state().pendingChanges, pending);
    // Undo goes with the changes the server took.
    QCOMPARE(c.rules().canUndo(), pending);
    // The markers stay until the reload.
    QCOMPARE(ids(c, Side::Selected), QStringLiteral("9 34*"));
}

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"
