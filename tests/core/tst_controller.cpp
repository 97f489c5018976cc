// The control's process without a window, against the test page server:
// commit, answer and reload in their order; a failed commit; a host's load
// during a commit; a save (runs in commit-sequences.txt); the waits of the
// synchronous members, which end with their exchange, with a newer load, or
// with the controller (waits.txt); the employee numbers a host may give
// (employees.txt); and the input the busy gate eats (busy-gate.txt).
#include "core/controller.h"
#include "pageserver.h"
#include "suitechecks.h"
#include "testlines.h"
#include "testtable.h"

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
        QObject::connect(&c, &Controller::commitFailed, &c, [this](const QString &r, const QString &d) { append("commit failed: " + r.section(u':', 0, 0) + " / " + d); });
        QObject::connect(&c, &Controller::busyChanged, &c, [this](bool busy) { append(busy ? "busy" : "idle"); });
        QObject::connect(&c, &Controller::saveRefused, &c, [this] { append("refused"); });
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

// "34 5 | 9": the centers served unassigned and assigned, named "C" + ID.
QByteArray document(const QString &lists)
{
    Centers centers[2];
    for (int side = 0; side < 2; ++side) {
        for (const QString &id : lists.section(u'|', side, side).split(u' ', Qt::SkipEmptyParts))
            centers[side].push_back({id, u'C' + id});
    }
    return centerDocument(centers[0], centers[1]);
}

// A request as "GET 12", or "POST" with its statements as "+12:34" (an
// insert) and "-12:5,7" (a delete).
QString request(const QString &sent)
{
    if (sent.startsWith(u"GET"))
        return QStringLiteral("GET ") + sent.section(u'=', 1);
    QString out = QStringLiteral("POST");
    static const QRegularExpression statement(QStringLiteral("VALUES \\((\\S+),(\\S+),GETDATE|EmployeeID=(\\S+) AND CenterID IN\\((\\S+)\\)"));
    for (const QString &field : sent.section(u' ', 2).split(u'&', Qt::SkipEmptyParts)) {
        const auto m = statement.match(QUrl::fromPercentEncoding(field.mid(4).replace(u'+', u' ').toLatin1()));
        out += m.captured(1).isEmpty() ? QStringLiteral(" -%1:%2").arg(m.captured(3), m.captured(4))
                                       : QStringLiteral(" +%1:%2").arg(m.captured(1), m.captured(2));
    }
    return out;
}

// One step of a script of save-sequences.txt.
bool step(Controller &c, PageServer &page, const QString &step)
{
    const QString word = step.section(u' ', 0, 0);
    const QString rest = step.section(u' ', 1);
    if (word == u"serve") {
        page.answer(false, {200, document(rest)});
    } else if (word == u"unserved") {
        page.answer(false, {500, "down", "text/plain"});
    } else if (word == u">" || word == u"<") {
        const Side side = word == u">" ? Side::NonSelected : Side::Selected;
        const int row = c.rules().list(side)->findId(CenterId::fromText(rest));
        QItemSelectionModel *selection = c.rules().selection(side);
        selection->setCurrentIndex(selection->model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return row >= 0 && c.rules().moveOne(side) >= 0;
    } else if (word == u"employee") {
        c.setEmployeeId(rest.toInt());
    } else if (word == u"undo") {
        return c.rules().undo();
    } else if (word == u"load" || word == u"save") {
        const quint64 ticket = word == u"load" ? c.load() : c.save();
        return boundedWait("the wait", [&] { return word == u"load" ? c.waitForLoad(ticket) : !ticket || c.waitForSave(ticket); });
    } else if (word == u"commit" || word == u"f5") {
        if (word == u"commit")
            c.commit();
        else
            c.reloadKeepingChanges();
        if (!QTest::qWaitFor([&] { return c.phase() == Controller::Phase::Answer || !c.isBusy(); }, 10000))
            return false;
        c.answerClosed();
        return QTest::qWaitFor([&] { return !c.isBusy(); }, 10000);
    } else {
        return false;
    }
    return true;
}

// Loads 34 (unassigned) and 9 (assigned) for employee 12, then assigns 34
// when asked to.
bool loadFirst(Controller &c, PageServer &page, bool assign34)
{
    page.answer(false, {200, centerDocument({{"34", "A"}}, {{"9", "Z"}})});
    c.setEmployeeId(12);
    c.setServerName(page.address());
    if (!boundedWait("the first load's wait", [&] { return c.waitForLoad(c.load()); }) || c.rules().list(Side::NonSelected)->count() != 1)
        return false;
    QItemSelectionModel *selection = c.rules().selection(Side::NonSelected);
    selection->setCurrentIndex(selection->model()->index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (assign34)
        c.rules().moveOne(Side::NonSelected);
    return true;
}

} // namespace

class TestController : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commitAnswerReload_data() { TestTable::load(VELMORA_TABLES "/commit-sequences.txt"); }
    void commitAnswerReload();
    void savesAndReloads_data() { TestTable::load(VELMORA_TABLES "/save-sequences.txt"); }
    void savesAndReloads();
    void waitsEndWithTheirExchange_data() { TestTable::load(VELMORA_TABLES "/waits.txt"); }
    void waitsEndWithTheirExchange();
    void addressesAndTimeout();
    void takesThirtyTwoBitEmployees_data() { TestTable::load(VELMORA_TABLES "/employees.txt"); }
    void takesThirtyTwoBitEmployees();
    void busyGateEatsInput_data() { TestTable::load(VELMORA_TABLES "/busy-gate.txt"); }
    void busyGateEatsInput();
};

void TestController::commitAnswerReload()
{
    QFETCH(bool, pending);
    QFETCH(bool, save);
    QFETCH(bool, hostLoads);
    QFETCH(int, status);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, log);
    QFETCH(QStringList, requests);
    QFETCH(QString, whileAnswered);
    QFETCH(QString, assigned);
    QFETCH(bool, pendingAfter);
    QFETCH(QString, buttons);

    PageServer page;
    Controller c;
    QVERIFY(loadFirst(c, page, pending));
    c.setTimeout(std::chrono::milliseconds(status ? 30000 : 100));
    page.answer(true, {status ? status : 200, answer, "text/plain", 300});
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
    QCOMPARE(c.phase() == Controller::Phase::Answer ? ids(c, Side::Selected) : QString(), whileAnswered);
    if (c.phase() == Controller::Phase::Answer) {
        // The server took the changes: undo goes with them, the markers stay
        // until the reload.
        QVERIFY(!c.rules().state().pendingChanges && !c.rules().canUndo());
        // Neither the host's commit nor its save starts while the answer is
        // shown, nor takes the reload away.
        QVERIFY(!c.commit() && c.save() == 0 && c.isBusy());
        reports.append("box closed");
        c.answerClosed();
        QVERIFY(QTest::qWaitFor([&] { return !c.isBusy(); }, 10000));
    }
    QCOMPARE(c.phase(), Controller::Phase::Idle);
    COMPARE_LINES(reports, log);
    COMPARE_LINES(page.requests().mid(1), requests);
    QCOMPARE(ids(c, Side::Selected), assigned);
    QCOMPARE(c.rules().state().pendingChanges, pendingAfter);
    // Undo goes with the changes the server took, and only with them: a
    // failed commit keeps every move undoable.
    QCOMPARE(c.rules().canUndo(), pendingAfter);
    const ControlState &s = c.rules().state();
    QCOMPARE(QStringLiteral("%1%2%3%4%5").arg(s.addEnabled).arg(s.addAllEnabled).arg(s.removeEnabled).arg(s.removeAllEnabled).arg(s.commitEnabled), buttons);
}

void TestController::savesAndReloads()
{
    QFETCH(QString, steps);
    QFETCH(QStringList, requests);
    QFETCH(QString, lists);
    QFETCH(QString, reports);

    PageServer page;
    page.answer(true, {200, "Saved.", "text/plain"});
    Controller c;
    c.setEmployeeId(12);
    c.setServerName(page.address());
    QStringList reported;
    connect(&c.rules(), &CrossReference::pendingChangesChanged, this, [&](bool pending) { reported.append(pending ? "pending" : "saved"); });
    connect(&c, &Controller::loadFailed, this, [&](const QString &, bool kept) { reported.append(kept ? "failed, kept" : "failed"); });
    connect(&c, &Controller::reloadReported, this, [&](const ReloadReport &r) {
        reported.append(QStringLiteral("kept %1 made %2 changed %3 gone %4").arg(r.movesKept).arg(r.movesAlreadyMade).arg(r.changedElsewhere.join(u','), r.gone.join(u',')));
    });
    for (const QString &each : steps.split(QStringLiteral("; ")))
        QVERIFY2(step(c, page, each), qPrintable(each));
    QStringList sent;
    for (const QString &each : page.requests())
        sent.append(request(each));
    COMPARE_LINES(sent, requests);
    QStringList shown;
    for (Side side : {Side::NonSelected, Side::Selected}) {
        QStringList items;
        for (int row = 0; row < c.rules().list(side)->count(); ++row) {
            const CenterItem &item = c.rules().list(side)->at(row);
            items.append(item.id.text() + (item.isPending() ? "*" : "") + (item.changedElsewhere ? "!" : ""));
        }
        shown.append(items.isEmpty() ? QStringLiteral("-") : items.join(u' '));
    }
    COMPARE_LINES(shown.join(QStringLiteral(" | ")).split(u' '), lists.split(u' '));
    COMPARE_LINES(reported, reports.split(QStringLiteral("; ")));
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
        // A second save, of 34 taken back out, waits for its own answer, not
        // for the first one's.
        QVERIFY(loadFirst(*c, page, true) && boundedWait("the first save's wait", [&] { return c->waitForSave(c->save()); }));
        c->rules().moveOne(Side::Selected);
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
    QCOMPARE(boundedWait("the wait", [&] { return save ? c->waitForSave(c->save()) : c->waitForLoad(c->load()); }), meanwhile != u"destroy");
    COMPARE_LINES(*reports, log);
    if (!alive)
        return;
    // The replaced answer arrives and is never reported.
    QTest::qWait(800);
    COMPARE_LINES(*reports, log);
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
    QVERIFY(boundedWait("the load's wait in design mode", [&] { return c.waitForLoad(c.load()); }));
    c.commit();
    QCOMPARE(c.save(), quint64(0));
    QVERIFY(!c.isBusy() && page.requests().isEmpty());
}

void TestController::takesThirtyTwoBitEmployees()
{
    QFETCH(QString, text);
    QFETCH(bool, taken);
    QFETCH(int, stored);
    Controller c;
    c.setEmployeeId(7);
    QCOMPARE(c.setEmployeeId(text), taken);
    QCOMPARE(c.employeeId(), stored);
}

void TestController::busyGateEatsInput()
{
    QFETCH(QString, event);
    QFETCH(bool, eatenWhileBusy);
    bool known = false;
    QEvent input(QEvent::Type(QMetaEnum::fromType<QEvent::Type>().keyToValue(qPrintable(event), &known)));
    QVERIFY(known);
    Controller c;
    QVERIFY(!c.eventFilter(&c, &input)); // idle
    RawServer silent;
    c.setServerName(silent.address());
    c.load();
    QVERIFY(c.isBusy());
    QCOMPARE(c.eventFilter(&c, &input), eatenWhileBusy);
}

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"
