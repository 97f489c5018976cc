// The control's exchanges with the server page, without a window: what a
// load or a commit reports for each kind of answer, and what it logs when a
// host turns velmora.session on (passwords masked). A load asked for during
// a commit, replaced loads and deletion during an exchange are tested
// through the controller.
#include "core/session.h"
#include "protocol/limits.h"
#include "pageserver.h"
#include "testtable.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VelmoraInternal;
using VelmoraProtocol::MaxAnswerBytes;

namespace {

// What a session reports: "loaded N/M", "load failed: ...", "committed: ...",
// "commit failed: ... | details".
struct Reports : QStringList
{
    explicit Reports(Session &s)
    {
        QObject::connect(&s, &Session::loaded, &s, [this](const CenterDocument &d) { append(QStringLiteral("loaded %1/%2").arg(d.nonSelected.size()).arg(d.selected.size())); });
        QObject::connect(&s, &Session::loadFailed, &s, [this](const QString &r) { append("load failed: " + r); });
        QObject::connect(&s, &Session::committed, &s, [this](const QString &a) { append("committed: " + a); });
        QObject::connect(&s, &Session::commitFailed, &s, [this](const QString &r, const QString &d) { append("commit failed: " + r + " | " + d); });
    }
};

// What velmora.* logged; everything else goes to the handler QtTest had.
QStringList g_log;
QtMessageHandler g_testHandler = nullptr;
void keepLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (QByteArrayView(context.category).startsWith("velmora."))
        g_log.append(message);
    else
        g_testHandler(type, context, message);
}

} // namespace

class TestSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("velmora.*=true"));
        g_testHandler = qInstallMessageHandler(keepLog);
    }
    void reportsAnswerOrReason_data()
    {
        QByteArray bomb(68000000, 'a'); // a letter in 20 random: about 25:1
        for (qsizetype i = 0; i < bomb.size(); i += 20)
            bomb[i] = char('a' + QRandomGenerator::global()->bounded(26));
        const QByteArray document = gzip(centerDocument({{"1", "A"}, {"2", "B"}}, {{"3", "C"}}));
        TestTable::load(VELMORA_TABLES "/exchanges.txt",
                        {{"gzipped document", document}, {"broken gzip", document.left(document.size() / 2)}, {"gzip bomb", gzip(bomb)},
                         {"gzip of 64 MiB", gzip(bomb.left(MaxAnswerBytes))}});
    }
    void reportsAnswerOrReason();
};

void TestSession::reportsAnswerOrReason()
{
    QFETCH(bool, commit);
    QFETCH(QString, address);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, encoding);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);

    PageServer page;
    // A raw server's behaviour, by the address's name.
    const int behaviour = QStringList{"silent", "closes", "goes away", "trickles"}.indexOf(address);
    RawServer raw(RawServer::Behaviour(std::max(0, behaviour)));
    page.answer(commit, {status, body, contentType, 0, encoding});
    Session session;
    Reports reports(session);
    // The time-out bounds the whole exchange: a trickling answer ends well
    // before the wait below does.
    session.setTimeout(behaviour >= 0 ? std::chrono::milliseconds(400) : DefaultTimeout);
    const QString base = address.isEmpty() ? page.address() : behaviour >= 0 ? raw.address() : address;
    QSignalSpy busy(&session, &Session::busyChanged);
    g_log.clear();
    if (commit) {
        QVERIFY(session.commit(base + QStringLiteral("/Velmora.asp"), "SQL=x+y&"));
        QVERIFY(session.isCommitting());
        QVERIFY(!session.commit(base + QStringLiteral("/Velmora.asp"), "SQL=second&"));
    } else {
        session.load(base + QStringLiteral("/Velmora.asp?EmployeeID=7"));
    }
    QVERIFY(session.isBusy());
    QVERIFY(QTest::qWaitFor([&] { return !session.isBusy(); }, behaviour >= 0 ? 1200 : 10000));
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports.first().contains(QString(expected).replace(QStringLiteral("%1"), base)), qPrintable(reports.first()));
    QVERIFY(!reports.first().contains(u"s3cret"));
    // The log has the exchange's start and its end, never a password.
    const QString log = g_log.join(u'\n');
    QVERIFY2(g_log.size() == 2 && g_log[0].contains(u" starts") && g_log[1].contains(u"ended after") && !log.contains(u"s3cret"), qPrintable(log));
    QCOMPARE(busy.size(), 2);
    if (address.isEmpty())
        QCOMPARE(page.requests(), QStringList{commit ? "POST /Velmora.asp SQL=x+y&" : "GET /Velmora.asp?EmployeeID=7"});
}

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
