// Committing against a real HTTP server on 127.0.0.1: the body on the wire,
// the answer shown to the operator, the reload, and every failure keeping
// the pending changes for a retry.

#include "controlharness.h"

#include "fixtureserver.h"

using namespace Harness;
using VelmoraInternal::FixtureServer;

namespace {

const QByteArray InsertPrefix = "SQL=INSERT+INTO+CenterEmployeeCrossReference+%28EmployeeID%2CCenterID%2CRecordLastUpdated%29+VALUES+%28";

QByteArray insertField(const QByteArray &employee, const QByteArray &center)
{
    return InsertPrefix + employee + "%2C" + center + "%2CGETDATE%28%29+%29+&";
}

QByteArray deleteField(const QByteArray &employee, const QByteArray &centers)
{
    return "SQL=DELETE+FROM+CenterEmployeeCrossReference+WHERE+EmployeeID%3D" + employee
        + "+AND+CenterID+IN%28" + centers + "%29&";
}

} // namespace

class TestCommit : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void bodyOnTheWire_data();
    void bodyOnTheWire();
    void nothingPendingSendsNothingButReloads();
    void successReloadsAndShowsTheAnswer_data();
    void successReloadsAndShowsTheAnswer();
    void failedSaveKeepsThePendingChanges_data();
    void failedSaveKeepsThePendingChanges();
    void inputDuringACommitChangesNothing();
    void hostSaveWithNothingPendingLeavesTheDefaultPointer();
    void secondSaveWhileOneIsRunningSendsNothing();
    void urlEncodeIsTheFormEncoding();

private:
    void load(Velmora &c, const std::vector<Center> &unassigned, const std::vector<Center> &assigned);
    std::unique_ptr<FixtureServer> m_server;
};

void TestCommit::init()
{
    m_server = std::make_unique<FixtureServer>();
    QVERIFY(m_server->listen());
}

void TestCommit::cleanup()
{
    m_server.reset();
}

void TestCommit::load(Velmora &c, const std::vector<Center> &unassigned, const std::vector<Center> &assigned)
{
    m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::xml(document(unassigned, assigned)));
    c.setServerName(m_server->baseUrl());
    if (!c.isVisible()) {
        c.show();
        QVERIFY(QTest::qWaitForWindowExposed(&c));
    }
}

void TestCommit::bodyOnTheWire_data()
{
    QTest::addColumn<QString>("employee");
    QTest::addColumn<QStringList>("add");    // IDs moved right
    QTest::addColumn<QStringList>("remove"); // IDs moved left
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("inserts only") << "12" << QStringList{"34", "6"} << QStringList{}
                                  << insertField("12", "6") + insertField("12", "34");
    QTest::newRow("deletes only") << "12" << QStringList{} << QStringList{"70", "8"}
                                  << deleteField("12", "8%2C70");
    QTest::newRow("both") << "12" << QStringList{"34"} << QStringList{"7", "5"}
                          << insertField("12", "34") + deleteField("12", "5%2C7");
    QTest::newRow("employee never assigned") << "" << QStringList{"34"} << QStringList{}
                                             << insertField("0", "34");
    QTest::newRow("negative employee") << "-3" << QStringList{} << QStringList{"5"}
                                       << deleteField("-3", "5");
}

void TestCommit::bodyOnTheWire()
{
    QFETCH(QString, employee);
    QFETCH(QStringList, add);
    QFETCH(QStringList, remove);
    QFETCH(QByteArray, body);
    Velmora c;
    if (!employee.isEmpty())
        QVERIFY(c.setEmployeeID(employee));
    load(c, {{"34", "A"}, {"6", "B"}, {"99", "C"}}, {{"7", "D"}, {"5", "E"}, {"8", "F"}, {"70", "G"}});
    ModalWatcher watcher;
    for (const QString &id : add)
        doubleClickRow(lstCenters(c), rowOf(lstCenters(c), id));
    for (const QString &id : remove)
        doubleClickRow(lstSelected(c), rowOf(lstSelected(c), id));
    // A center moved there and back adds nothing.
    doubleClickRow(lstCenters(c), rowOf(lstCenters(c), "99"));
    doubleClickRow(lstSelected(c), rowOf(lstSelected(c), "99"));
    m_server->clearRequests();
    m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::text("OK"));
    QTest::mouseClick(button(c, "cmdCommit"), Qt::LeftButton);

    QVERIFY(m_server->requestCount() >= 1);
    const FixtureServer::Request post = m_server->requests().first();
    QCOMPARE(post.method, QByteArray("POST"));
    QCOMPARE(post.target, QByteArray("/Velmora.asp"));
    QCOMPARE(post.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(post.body, body);
}

void TestCommit::nothingPendingSendsNothingButReloads()
{
    Velmora c;
    load(c, {{"1", "A"}}, {});
    doubleClickRow(lstCenters(c), 0);
    doubleClickRow(lstSelected(c), 0);
    ModalWatcher watcher;
    m_server->clearRequests();
    QTest::mouseClick(button(c, "cmdCommit"), Qt::LeftButton);
    QCOMPARE(m_server->requestCount(), qsizetype(1));
    QCOMPARE(m_server->lastRequest().method, QByteArray("GET"));
    QVERIFY(watcher.messages.isEmpty());
    QCOMPARE(buttonStates(c), QStringLiteral("00000"));
}

void TestCommit::successReloadsAndShowsTheAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("chunk"); // 0: one piece
    QTest::addColumn<bool>("shown");
    QTest::newRow("short answer") << QByteArray("1 assignment added, 0 removed.") << 0 << true;
    QTest::newRow("blank answer") << QByteArray("    ") << 0 << false;
    QTest::newRow("empty answer") << QByteArray() << 0 << false;
    QTest::newRow("one line break") << QByteArray("\r\n") << 0 << true;
    QTest::newRow("long answer in pieces") << QByteArray(5000, 'x') + "end" << 700 << true;
}

void TestCommit::successReloadsAndShowsTheAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, chunk);
    QFETCH(bool, shown);
    Velmora c;
    QVERIFY(c.setEmployeeID(QStringLiteral("3")));
    load(c, {{"1", "A"}, {"2", "B"}}, {});
    ModalWatcher watcher;
    doubleClickRow(lstCenters(c), 0);
    QCOMPARE(keys(lstSelected(c)), QStringList{"000001N"});

    m_server->setResponse(QStringLiteral("/Velmora.asp"),
                          chunk ? FixtureServer::Response::chunked(answer, chunk) : FixtureServer::Response::text(answer));
    // The reload after the answer gets the server's new state.
    connect(m_server.get(), &FixtureServer::requestReceived, this, [&] {
        if (m_server->lastRequest().method == "GET")
            m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::xml(document({{"2", "B"}}, {{"1", "A"}})));
    });
    QTest::mouseClick(button(c, "cmdCommit"), Qt::LeftButton);

    QCOMPARE(watcher.messages.size(), shown ? 1 : 0);
    if (shown) {
        QCOMPARE(watcher.messages.first().text, QString::fromUtf8(answer));
        QCOMPARE(watcher.messages.first().title, QStringLiteral("Velmora Cross Reference"));
        QCOMPARE(watcher.messages.first().icon, QMessageBox::Information);
    }
    QCOMPARE(keys(lstSelected(c)), QStringList{"000001"});
    QCOMPARE(buttonStates(c), QStringLiteral("00000"));
    QCOMPARE(child<QProgressBar>(c, "prbLoad")->value(), 0);
    QCOMPARE(c.cursor().shape(), Qt::ArrowCursor);
}

void TestCommit::failedSaveKeepsThePendingChanges_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("detail");
    const int normal = int(FixtureServer::Mode::Normal);
    QTest::newRow("refused") << 400 << normal << "400";
    QTest::newRow("server error") << 500 << normal << "500";
    QTest::newRow("connection dropped") << 200 << int(FixtureServer::Mode::CloseWithoutAnswer) << "could not be reached";
    QTest::newRow("no answer in time") << 200 << int(FixtureServer::Mode::NeverAnswer) << "did not answer";
}

void TestCommit::failedSaveKeepsThePendingChanges()
{
    QFETCH(int, status);
    QFETCH(int, mode);
    QFETCH(QString, detail);
    Velmora c;
    c.setTimeout(std::chrono::milliseconds(400));
    QVERIFY(c.setEmployeeID(QStringLiteral("3")));
    load(c, {{"1", "A"}, {"2", "B"}}, {{"9", "Z"}});
    ModalWatcher watcher;
    doubleClickRow(lstCenters(c), 0);
    doubleClickRow(lstSelected(c), rowOf(lstSelected(c), "9"));

    FixtureServer::Response refusal = FixtureServer::Response::text("Field SQL 1: unknown center", status);
    refusal.mode = FixtureServer::Mode(mode);
    m_server->setResponse(QStringLiteral("/Velmora.asp"), refusal);
    m_server->clearRequests();
    QTest::mouseClick(button(c, "cmdCommit"), Qt::LeftButton);

    QCOMPARE(watcher.messages.size(), 1);
    QCOMPARE(watcher.messages.first().text, QStringLiteral("Error During saving to Database"));
    QVERIFY2(watcher.messages.first().informativeText.contains(detail), qPrintable(watcher.messages.first().informativeText));
    if (mode == int(FixtureServer::Mode::Normal))
        QVERIFY(watcher.messages.first().informativeText.contains(QStringLiteral("unknown center")));
    // No reload: the markers are still there and the commit can be retried.
    for (const FixtureServer::Request &r : m_server->requests())
        QCOMPARE(r.method, QByteArray("POST"));
    QCOMPARE(keys(lstSelected(c)), QStringList{"000001N"});
    QCOMPARE(keys(lstCenters(c)), (QStringList{"000002", "000009D"}));
    QVERIFY(button(c, "cmdCommit")->isEnabled());
    QCOMPARE(c.cursor().shape(), Qt::ArrowCursor);

    m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::text("saved"));
    m_server->clearRequests();
    QTest::mouseClick(button(c, "cmdCommit"), Qt::LeftButton);
    QCOMPARE(m_server->requests().first().body, insertField("3", "1") + deleteField("3", "9"));
    QCOMPARE(watcher.messages.last().text, QStringLiteral("saved"));
}

void TestCommit::inputDuringACommitChangesNothing()
{
    Velmora c;
    load(c, {{"1", "A"}, {"2", "B"}, {"3", "C"}}, {});
    ModalWatcher watcher;
    doubleClickRow(lstCenters(c), 0);
    FixtureServer::Response slow = FixtureServer::Response::text("ok");
    slow.delayMs = 150;
    m_server->setResponse(QStringLiteral("/Velmora.asp"), slow);
    connect(m_server.get(), &FixtureServer::requestReceived, this, [&] {
        if (m_server->lastRequest().method == "GET") {
            m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::xml(document({{"2", "B"}, {"3", "C"}}, {{"1", "A"}})));
            return;
        }
        // The operator double-clicks, presses Enter and uses the pop-up while
        // the save runs.
        doubleClickRow(lstCenters(c), 0);
        QTest::keyClick(lstCenters(c), Qt::Key_Return);
        clickRow(lstSelected(c), 0, Qt::NoModifier, Qt::RightButton);
    });
    QTest::mouseClick(button(c, "cmdCommit"), Qt::LeftButton);
    QVERIFY(watcher.menus.isEmpty());
    QCOMPARE(watcher.messages.size(), 1);
    QCOMPARE(watcher.messages.first().text, QStringLiteral("ok"));
    QCOMPARE(ids(lstCenters(c)), (QStringList{"2", "3"}));
    QCOMPARE(keys(lstSelected(c)), QStringList{"000001"});
    int posts = 0;
    for (const FixtureServer::Request &r : m_server->requests())
        posts += r.method == "POST";
    QCOMPARE(posts, 1);
}

void TestCommit::hostSaveWithNothingPendingLeavesTheDefaultPointer()
{
    Velmora c;
    load(c, {{"1", "A"}}, {});
    m_server->clearRequests();
    c.SaveToDatabase();
    QCOMPARE(m_server->requestCount(), qsizetype(0));
    QCOMPARE(c.cursor().shape(), Qt::ArrowCursor);
}

void TestCommit::secondSaveWhileOneIsRunningSendsNothing()
{
    Velmora c;
    load(c, {{"1", "A"}}, {});
    ModalWatcher watcher;
    doubleClickRow(lstCenters(c), 0);
    FixtureServer::Response slow = FixtureServer::Response::text("ok");
    slow.delayMs = 100;
    m_server->setResponse(QStringLiteral("/Velmora.asp"), slow);
    m_server->clearRequests();
    connect(m_server.get(), &FixtureServer::requestReceived, this, [&] { c.SaveToDatabase(); });
    c.SaveToDatabase();
    QCOMPARE(m_server->requestCount(), qsizetype(1));
    QCOMPARE(watcher.messages.size(), 1);
    // The host's save does not reload: the change is still marked.
    QCOMPARE(keys(lstSelected(c)), QStringList{"000001N"});
}

void TestCommit::urlEncodeIsTheFormEncoding()
{
    Velmora c;
    QCOMPARE(c.urlEncode(QStringLiteral("IN(5,7)")), QStringLiteral("IN%285%2C7%29"));
    QCOMPARE(c.urlEncode(QStringLiteral("café 100%")), QStringLiteral("caf%E9+100%25"));
    QCOMPARE(c.urlEncode(QString()), QString());
}

QTEST_MAIN(TestCommit)
#include "tst_commit.moc"
