// Loading against a real HTTP server on 127.0.0.1: the URL, filling both
// lists, and every way a load can fail leaving empty lists and a reason.

#include "controlharness.h"

#include "fixtureserver.h"

#include <QSignalSpy>

using namespace Harness;
using VelmoraInternal::FixtureServer;

namespace {

const std::vector<Center> SomeUnassigned{{"30", "Thirty Press"}, {"4", "Four Lathe"}, {"200", "Two Hundred Paint"}};
const std::vector<Center> SomeAssigned{{"7", "Seven Assembly"}, {"1234567", "Big Weld"}};

QByteArray withComment()
{
    return "<r><c><n><a>1</a><b>1</b></n></c>"
           "<u><x><i>1</i><m>One</m></x><!-- a comment --><x><i>2</i><m>Two</m></x></u>"
           "<s><x><i>3</i><m>Three</m></x></s></r>";
}

} // namespace

class TestLoading : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void urlIsPlainConcatenation_data();
    void urlIsPlainConcatenation();
    void goodDocumentFillsBothListsInKeyOrder();
    void captionsShowTheDocumentsCounts();
    void emptyListsStillEnableTheSearch();
    void aLoadSelectsNothing();
    void pointerIsBusyOnlyWhileLoading();
    void inputDuringALoadIsIgnored();
    void redirectsAreFollowed();
    void secondLoadReplacesEverything();
    void failedLoadLeavesEmptyListsAndAReason_data();
    void failedLoadLeavesEmptyListsAndAReason();
    void nextGoodLoadClearsTheReason();
    void hostileDocumentsFailWithAReason_data();
    void hostileDocumentsFailWithAReason();

private:
    void loadGood(Velmora &control);

    std::unique_ptr<FixtureServer> m_server;
};

void TestLoading::init()
{
    m_server = std::make_unique<FixtureServer>();
    QVERIFY(m_server->listen());
}

void TestLoading::cleanup()
{
    m_server.reset();
}

void TestLoading::loadGood(Velmora &control)
{
    m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::xml(document(SomeUnassigned, SomeAssigned)));
    control.setServerName(m_server->baseUrl());
    QCOMPARE(lstCenters(control)->count(), 3);
}

void TestLoading::urlIsPlainConcatenation_data()
{
    QTest::addColumn<QStringList>("employeeAssignments");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QByteArray>("expectedTarget");
    QTest::newRow("employee never assigned") << QStringList() << "" << QByteArray("/Velmora.asp?EmployeeID=0");
    QTest::newRow("negative employee") << QStringList{"-7"} << "" << QByteArray("/Velmora.asp?EmployeeID=-7");
    QTest::newRow("bad text keeps the stored number") << QStringList{"42", "abc"} << "" << QByteArray("/Velmora.asp?EmployeeID=42");
    // The text is concatenated as it stands; QtNetwork sends the doubled
    // slash as one, which every web server treats alike.
    QTest::newRow("server name ending in a slash") << QStringList{"42"} << "/" << QByteArray("/Velmora.asp?EmployeeID=42");
}

void TestLoading::urlIsPlainConcatenation()
{
    QFETCH(QStringList, employeeAssignments);
    QFETCH(QString, suffix);
    QFETCH(QByteArray, expectedTarget);
    Velmora control;
    for (const QString &text : employeeAssignments)
        control.setEmployeeID(text);
    control.setServerName(m_server->baseUrl() + suffix);
    QCOMPARE(m_server->requestCount(), qsizetype(1));
    QCOMPARE(m_server->lastRequest().method, QByteArray("GET"));
    QCOMPARE(m_server->lastRequest().target, expectedTarget);
    QVERIFY(m_server->lastRequest().body.isEmpty());
}

void TestLoading::goodDocumentFillsBothListsInKeyOrder()
{
    Velmora control;
    control.setEmployeeID(QStringLiteral("12"));
    loadGood(control);
    QCOMPARE(ids(lstCenters(control)), (QStringList{"4", "30", "200"}));
    QCOMPARE(keys(lstCenters(control)), (QStringList{"000004", "000030", "000200"}));
    QCOMPARE(lstCenters(control)->item(0).name, QStringLiteral("Four Lathe"));
    QCOMPARE(ids(lstSelected(control)), (QStringList{"7", "1234567"}));
    QCOMPARE(keys(lstSelected(control)), (QStringList{"000007", "1234567"}));
    QCOMPARE(lstCenters(control)->sortKey(), 2);

    QVERIFY(option(control, "optList0")->isEnabled());
    QVERIFY(option(control, "optList1")->isEnabled());
    QVERIFY(option(control, "optFind0")->isEnabled());
    QVERIFY(option(control, "optFind1")->isEnabled());
    QLineEdit *id = edit(control, "txtVendorID");
    QVERIFY(id->isEnabled());
    QVERIFY(!id->isReadOnly());
    QCOMPARE(id->palette().color(QPalette::Base), control.palette().color(QPalette::Base));
    QCOMPARE(child<QProgressBar>(control, "prbLoad")->value(), 0);
    QCOMPARE(child<QProgressBar>(control, "prbLoad")->maximum(), 5);
    QCOMPARE(buttonStates(control), QStringLiteral("00000"));
}

void TestLoading::captionsShowTheDocumentsCounts()
{
    Velmora control;
    m_server->setResponse(QStringLiteral("/Velmora.asp"),
                          FixtureServer::Response::xml(document(30005, 2, SomeUnassigned, {})));
    control.setServerName(m_server->baseUrl());
    QCOMPARE(lstCenters(control)->count(), 3);
    QCOMPARE(label(control, "lblAllVendors")->text(), QStringLiteral("Non Selected Active Centers (30005):"));
    QCOMPARE(label(control, "lblSelVendors")->text(), QStringLiteral("Selected Centers (2):"));
    // A longer count still fits its label.
    QVERIFY(label(control, "lblAllVendors")->width() >= label(control, "lblAllVendors")->sizeHint().width());
}

void TestLoading::emptyListsStillEnableTheSearch()
{
    Velmora control;
    QSignalSpy failed(&control, &Velmora::loadFailed);
    m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::xml(document({}, {})));
    control.setServerName(m_server->baseUrl());
    QCOMPARE(failed.count(), 0);
    QCOMPARE(label(control, "lblAllVendors")->text(), QStringLiteral("Non Selected Active Centers (0):"));
    QCOMPARE(label(control, "lblSelVendors")->text(), QStringLiteral("Selected Centers (0):"));
    QVERIFY(option(control, "optList0")->isEnabled());
    QVERIFY(option(control, "optFind1")->isEnabled());
    QVERIFY(edit(control, "txtVendorID")->isEnabled());
}

void TestLoading::aLoadSelectsNothing()
{
    Velmora control;
    control.show();
    loadGood(control);
    for (CenterListView *list : {lstCenters(control), lstSelected(control)}) {
        QVERIFY(list->selectedRows().empty());
        QCOMPARE(list->currentRow(), -1);
    }
}

void TestLoading::pointerIsBusyOnlyWhileLoading()
{
    Velmora control;
    Qt::CursorShape during = Qt::ArrowCursor;
    bool setDuring = false;
    connect(m_server.get(), &FixtureServer::requestReceived, this, [&] {
        during = control.cursor().shape();
        setDuring = control.testAttribute(Qt::WA_SetCursor);
    });
    loadGood(control);
    QCOMPARE(during, Qt::WaitCursor);
    QVERIFY(setDuring);
    QCOMPARE(control.cursor().shape(), Qt::ArrowCursor);
}

void TestLoading::inputDuringALoadIsIgnored()
{
    Velmora control;
    control.show();
    QVERIFY(QTest::qWaitForWindowExposed(&control));
    loadGood(control);
    QLineEdit *id = edit(control, "txtVendorID");
    connect(m_server.get(), &FixtureServer::requestReceived, this, [&] {
        QTest::keyClicks(id, QStringLiteral("99"));
        QTest::mouseClick(button(control, "cmdCommit"), Qt::LeftButton);
    });
    control.setServerName(m_server->baseUrl());
    QCOMPARE(id->text(), QString());
    QCOMPARE(m_server->requestCount(), qsizetype(2)); // two loads, no commit
    // Once the load is over, input works again.
    QTest::keyClicks(id, QStringLiteral("4"));
    QCOMPARE(id->text(), QStringLiteral("4"));
}

void TestLoading::redirectsAreFollowed()
{
    Velmora control;
    m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::redirect("/moved/Velmora.asp?EmployeeID=0"));
    m_server->setResponse(QStringLiteral("/moved/Velmora.asp"), FixtureServer::Response::xml(document(SomeUnassigned, SomeAssigned)));
    control.setServerName(m_server->baseUrl());
    QCOMPARE(lstCenters(control)->count(), 3);
    QStringList targets;
    for (const FixtureServer::Request &r : m_server->requests())
        targets << QString::fromLatin1(r.target);
    QCOMPARE(targets, (QStringList{"/Velmora.asp?EmployeeID=0", "/moved/Velmora.asp?EmployeeID=0"}));
}

void TestLoading::secondLoadReplacesEverything()
{
    Velmora control;
    control.show();
    loadGood(control);
    clickRow(lstCenters(control), 0);
    QTest::mouseClick(button(control, "cmdAdd"), Qt::LeftButton);
    QCOMPARE(lstSelected(control)->count(), 3);
    QVERIFY(button(control, "cmdCommit")->isEnabled());

    m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::xml(document({{"9", "Nine"}}, {})));
    control.setServerName(m_server->baseUrl());
    QCOMPARE(ids(lstCenters(control)), QStringList{"9"});
    QCOMPARE(lstSelected(control)->count(), 0);
    QVERIFY(!button(control, "cmdCommit")->isEnabled());
}

void TestLoading::failedLoadLeavesEmptyListsAndAReason_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("reasonPart");

    const int normal = int(FixtureServer::Mode::Normal);
    QTest::newRow("comment between records") << withComment() << 200 << normal << "record";
    QTest::newRow("empty name element")
        << QByteArray("<r><c><n><a>1</a><b>0</b></n></c><u><x><i>1</i><m/></x></u><s/></r>") << 200 << normal << "name";
    QTest::newRow("count not a number")
        << QByteArray("<r><c><n><a>x1</a><b>0</b></n></c><u/><s/></r>") << 200 << normal << "x1";
    QTest::newRow("count out of range")
        << QByteArray("<r><c><n><a>40000</a><b>0</b></n></c><u/><s/></r>") << 200 << normal << "40000";
    QTest::newRow("counts add up past the limit")
        << QByteArray("<r><c><n><a>20000</a><b>20000</b></n></c><u/><s/></r>") << 200 << normal << "40000";
    QTest::newRow("ID that is not a number")
        << QByteArray("<r><c><n><a>1</a><b>0</b></n></c><u><x><i>1 OR 1=1</i><m>Bad</m></x></u><s/></r>") << 200 << normal << "ID";
    QTest::newRow("missing selected list")
        << QByteArray("<r><c><n><a>1</a><b>0</b></n></c><u><x><i>1</i><m>One</m></x></u></r>") << 200 << normal << "selected";
    QTest::newRow("not XML") << QByteArray("<html><body>Server error") << 200 << normal << "line";
    QTest::newRow("not found") << QByteArray("no such page") << 404 << normal << "404";
    QTest::newRow("server error") << QByteArray("boom") << 500 << normal << "500";
    QTest::newRow("connection closed") << QByteArray() << 200 << int(FixtureServer::Mode::CloseWithoutAnswer) << "could not be reached";
    QTest::newRow("server never answers") << QByteArray() << 200 << int(FixtureServer::Mode::NeverAnswer) << "did not answer";
}

void TestLoading::failedLoadLeavesEmptyListsAndAReason()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(int, mode);
    QFETCH(QString, reasonPart);

    Velmora control;
    control.show();
    control.setTimeout(std::chrono::milliseconds(400));
    loadGood(control);
    clickRow(lstCenters(control), 0);
    QTest::mouseClick(button(control, "cmdAdd"), Qt::LeftButton);
    QVERIFY(button(control, "cmdCommit")->isEnabled());

    FixtureServer::Response response = FixtureServer::Response::xml(body, status);
    response.mode = FixtureServer::Mode(mode);
    m_server->setResponse(QStringLiteral("/Velmora.asp"), response);
    QSignalSpy failed(&control, &Velmora::loadFailed);
    control.setServerName(m_server->baseUrl());

    QCOMPARE(failed.count(), 1);
    const QString reason = failed.first().first().toString();
    QVERIFY2(reason.contains(reasonPart, Qt::CaseInsensitive), qPrintable(reason));
    QCOMPARE(lstCenters(control)->count(), 0);
    QCOMPARE(lstSelected(control)->count(), 0);
    QCOMPARE(lstCenters(control)->placeholderText(), reason);
    QCOMPARE(label(control, "lblAllVendors")->text(), QStringLiteral("Non Selected Active Centers (0):"));
    QCOMPARE(label(control, "lblSelVendors")->text(), QStringLiteral("Selected Centers (0):"));
    QCOMPARE(child<QProgressBar>(control, "prbLoad")->value(), 0);
    QVERIFY(!button(control, "cmdCommit")->isEnabled());
    QCOMPARE(control.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
}

void TestLoading::nextGoodLoadClearsTheReason()
{
    Velmora control;
    m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::text("nope", 500));
    control.setServerName(m_server->baseUrl());
    QVERIFY(!lstCenters(control)->placeholderText().isEmpty());
    loadGood(control);
    QVERIFY(lstCenters(control)->placeholderText().isEmpty());
}

void TestLoading::hostileDocumentsFailWithAReason_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reasonPart");

    QByteArray laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE r [\n<!ENTITY lol \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
        QByteArray entity = "<!ENTITY lol" + QByteArray::number(i) + " \"";
        for (int j = 0; j < 10; ++j)
            entity += "&lol" + (i > 1 ? QByteArray::number(i - 1) : QByteArray()) + ";";
        laughs += entity + "\">\n";
    }
    laughs += "]>\n<r><c><n><a>1</a><b>0</b></n></c><u><x><i>1</i><m>&lol9;</m></x></u><s/></r>";
    QTest::newRow("billion laughs") << laughs << "entity";

    const int depth = 200000;
    QByteArray deep = "<r><c><n><a>0</a><b>0</b></n></c><u>";
    deep += QByteArray("<d>").repeated(depth) + QByteArray("</d>").repeated(depth);
    deep += "</u><s/></r>";
    QTest::newRow("deeply nested") << deep << "record";

    QTest::newRow("invalid UTF-8")
        << QByteArray("<r><c><n><a>1</a><b>0</b></n></c><u><x><i>1</i><m>Caf\xC3\x28</m></x></u><s/></r>") << "UTF-8";
    QTest::newRow("answer over the size limit") << QByteArray(100 * 1024 * 1024, ' ') << "larger than";
}

void TestLoading::hostileDocumentsFailWithAReason()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, reasonPart);
    Velmora c;
    m_server->setResponse(QStringLiteral("/Velmora.asp"), FixtureServer::Response::xml(body));
    QSignalSpy failed(&c, &Velmora::loadFailed);
    c.setServerName(m_server->baseUrl());
    QCOMPARE(failed.count(), 1);
    const QString reason = failed.first().first().toString();
    QVERIFY2(reason.contains(reasonPart, Qt::CaseInsensitive), qPrintable(reason));
    QCOMPARE(lstCenters(c)->count(), 0);
}

QTEST_MAIN(TestLoading)
#include "tst_loading.moc"
