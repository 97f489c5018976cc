// Hostile requests against a real velmora-server on 127.0.0.1, on SQLite and
// on PostgreSQL: each one is refused with a reason, and the database holds
// exactly what it held before, although most hostile fields follow a valid
// insert that would show if anything had been applied. The server goes on
// serving afterwards.
#include "reliabilitysupport.h"
#include "testdatabases.h"

#include <centerstore.h>
#include <credentials.h>
#include <httpserver.h>
#include <sampledata.h>

#include "core/urlencoder.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>

#include <memory>
#include <thread>

using namespace VelmoraServerCore;
using namespace Reliability;

namespace {

const char *const Form = "application/x-www-form-urlencoded";
constexpr int FastIterations = 1000; // key derivation rounds for test users

// A server on a fresh database of the backend holding the sample data.
class Fixture
{
public:
    Fixture(const QString &backend, VelmoraServer::Options options = {})
    {
        m_address = m_databases.create(backend);
        if (!seedSampleDatabase(m_address, &m_error))
            return;
        options.host = QStringLiteral("127.0.0.1");
        options.port = 0;
        options.database = m_address;
        m_server = std::make_unique<VelmoraServer>(options);
        m_server->start(&m_error);
    }

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    int port() const { return m_server->port(); }
    QString address() const { return m_address; }

    std::unique_ptr<httplib::Client> client() const
    {
        auto c = std::make_unique<httplib::Client>("127.0.0.1", port());
        c->set_connection_timeout(5, 0);
        c->set_read_timeout(60, 0);
        c->set_write_timeout(60, 0);
        return c;
    }

private:
    TestDatabases m_databases;
    QString m_address;
    std::unique_ptr<VelmoraServer> m_server;
    QString m_error;
};

QString text(const httplib::Result &result)
{
    return result ? QString::fromStdString(result->body)
                  : QStringLiteral("(no answer: %1)").arg(QString::fromStdString(httplib::to_string(result.error())));
}

// Employee 1 of the sample: a center it does not have and one it has.
qint32 freeCenter()
{
    QSet<qint32> mine;
    for (const auto &[e, c] : SampleData::assignments()) {
        if (e == 1)
            mine.insert(c);
    }
    for (qint32 c : activeSampleCenters()) {
        if (!mine.contains(c))
            return c;
    }
    return -1;
}

qint32 assignedCenter()
{
    for (const auto &[e, c] : SampleData::assignments()) {
        if (e == 1)
            return c;
    }
    return -1;
}

// The valid insert that goes first in most hostile bodies.
std::string validInsert()
{
    return commitBody({insertStatement(1, freeCenter())});
}

// The statement texts with a piece swapped for a hostile one.
QString insertWith(const QString &employee, const QString &center, const QString &tail = QString())
{
    return QStringLiteral("INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (%1,%2,GETDATE() ) %3")
        .arg(employee, center, tail);
}

QString deleteWith(const QString &employee, const QString &list, const QString &tail = QString())
{
    return QStringLiteral("DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=%1 AND CenterID IN(%2)%3")
        .arg(employee, list, tail);
}

// The database did not change and the server still answers.
void checkNothingApplied(const Fixture &fixture, const Snapshot &before)
{
    const Snapshot after = snapshot(fixture.address());
    QVERIFY2(after.error.isEmpty(), qPrintable(after.error));
    QVERIFY2(after == before, qPrintable(after.differenceFrom(before)));
    const auto document = fixture.client()->Get("/Velmora.asp?EmployeeID=1");
    QVERIFY2(document, qPrintable(text(document)));
    QCOMPARE(document->status, 200);
}

} // namespace

class TestHostileInput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hostileBodyIsRefused_data();
    void hostileBodyIsRefused();
    void hostileDocumentRequestIsRefused_data();
    void hostileDocumentRequestIsRefused();
    void millionTinyFieldsAreRefusedQuickly_data();
    void millionTinyFieldsAreRefusedQuickly();
    void bodyOverTheLimitIsRefused_data();
    void bodyOverTheLimitIsRefused();
    void slowBodyIsClosedByTheReadTimeout_data();
    void slowBodyIsClosedByTheReadTimeout();
    void restOfARefusedBodyIsNotARequest_data();
    void restOfARefusedBodyIsNotARequest();
    void wrongContentTypeIsRefused_data();
    void wrongContentTypeIsRefused();
    void wrongCredentialsAreRefused_data();
    void wrongCredentialsAreRefused();
};

void TestHostileInput::hostileBodyIsRefused_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reasonPart");

    const QString c = QString::number(freeCenter());
    const QString mine = QString::number(assignedCenter());
    const std::string valid = validInsert();
    struct Row
    {
        const char *name;
        std::string body;
        int status;
        const char *reason;
    };
    auto sql = [](const QString &statement) { return field(QStringLiteral("SQL"), statement); };
    const QList<Row> rows = {
        // Stacked statements.
        {"stacked: '; DROP TABLE' after an insert", sql(insertWith("1", c, "; DROP TABLE Center")), 400, "SQL field 1"},
        {"stacked: a second statement after a line break",
         valid + sql(deleteWith("1", mine) + "\nDELETE FROM CenterEmployeeCrossReference"), 400, "SQL field 2"},
        {"stacked: an insert glued to a delete", valid + sql(deleteWith("1", mine) + insertWith("1", c)), 400, "SQL field 2"},
        {"stacked: a lone ';' at the end", valid + sql(insertWith("1", c, ";")), 400, "SQL field 2"},
        {"stacked: '&SQL=' encoded inside a value",
         "SQL=" + VelmoraInternal::urlEncode(insertWith("1", c)).toStdString() + "%26SQL%3D"
             + VelmoraInternal::urlEncode(deleteWith("1", mine)).toStdString() + "&",
         400, "SQL field 1"},
        // Comments.
        {"comment: '--' after the statement", valid + sql(insertWith("1", c, "--")), 400, "SQL field 2"},
        {"comment: '--' inside the ID list", valid + sql(deleteWith("1", mine + "--")), 400, "SQL field 2"},
        {"comment: '/**/' before the center ID", valid + sql(insertWith("1", "/**/" + c)), 400, "SQL field 2"},
        {"comment: '#' after the statement", valid + sql(deleteWith("1", mine, "#")), 400, "SQL field 2"},
        // Quotes and ';' inside an ID.
        {"quote: center ID in single quotes", valid + sql(insertWith("1", "'" + c + "'")), 400, "SQL field 2"},
        {"quote: a quote closing a string in the ID list", valid + sql(deleteWith("1", mine + "') OR ('1'='1")), 400,
         "SQL field 2"},
        {"quote: employee in double quotes", valid + sql(insertWith("\"1\"", c)), 400, "SQL field 2"},
        {"semicolon inside the center ID", valid + sql(insertWith("1", c + ";DROP TABLE Center")), 400, "SQL field 2"},
        {"semicolon inside the ID list", valid + sql(deleteWith("1", mine + ";" + c)), 400, "SQL field 2"},
        // Sub-queries.
        {"sub-query as the ID list",
         valid + sql(deleteWith("1", "SELECT \"CenterID\" FROM \"CenterEmployeeCrossReference\"")), 400, "SQL field 2"},
        {"sub-query inside the ID list", valid + sql(deleteWith("1", mine + ",(SELECT 1)")), 400, "SQL field 2"},
        {"OR 1=1 after the ID list", valid + sql(deleteWith("1", mine, " OR 1=1")), 400, "SQL field 2"},
        {"OR 1=1 in the employee", valid + sql(deleteWith("1 OR 1=1", mine)), 400, "SQL field 2"},
        // Numbers beyond 32 bits.
        {"center 2147483648", valid + sql(insertWith("1", "2147483648")), 400, "32-bit"},
        {"center that wraps to a real one in 32 bits", valid + sql(insertWith("1", QString::number(4294967296LL + c.toLongLong()))),
         400, "32-bit"},
        {"employee that wraps to 1 in 32 bits", valid + sql(insertWith("4294967297", c)), 400, "32-bit"},
        {"employee below -2147483648", valid + sql(deleteWith("-2147483649", mine)), 400, "32-bit"},
        {"a 40-digit center in the ID list", valid + sql(deleteWith("1", mine + "," + QString(40, u'9'))), 400, "32-bit"},
        // Zero, negative and other ill-written numbers.
        {"center 0 in an insert", valid + sql(insertWith("1", "0")), 400, "not positive"},
        {"negative center in an insert", valid + sql(insertWith("1", "-" + c)), 400, "not positive"},
        {"center 0 in the ID list", valid + sql(deleteWith("1", mine + ",0")), 400, "not positive"},
        {"negative center in the ID list", valid + sql(deleteWith("1", "-" + mine)), 400, "not positive"},
        {"employee 0", sql(insertWith("0", c)), 403, "employee 0"},
        {"negative employee", sql(deleteWith("-1", mine)), 403, "employee -1"},
        {"employee -0", valid + sql(deleteWith("-0", mine)), 400, "SQL field 2"},
        {"center with leading zeros", valid + sql(insertWith("1", "00" + c)), 400, "SQL field 2"},
        {"center with a plus sign", valid + sql(insertWith("1", "+" + c)), 400, "SQL field 2"},
        {"center in full-width digits", valid + sql(insertWith("1", QStringLiteral("\uFF11"))), 400, "SQL field 2"},
        {"empty ID list", valid + sql(deleteWith("1", "")), 400, "SQL field 2"},
        // Field names.
        {"field name in lower case", valid + field("sql", insertWith("1", c)), 400, "field 2 \"sql\""},
        {"field name SQL2", valid + field("SQL2", insertWith("1", c)), 400, "field 2 \"SQL2\""},
        {"field name with a trailing blank", valid + field("SQL ", insertWith("1", c)), 400, "field 2"},
        {"empty field name", valid + "=" + VelmoraInternal::urlEncode(insertWith("1", c)).toStdString() + "&", 400,
         "field 2"},
        {"unknown field after a valid one", valid + "Name=x&", 400, "field 2 \"Name\""},
        {"field without '='", valid + "SQL&", 400, "field 2"},
        // One employee per request.
        {"second insert for another employee", valid + commitBody({insertStatement(2, c.toInt())}), 400,
         "one request changes one employee"},
        {"delete for another employee", valid + commitBody({deleteStatement(2, {mine.toInt()})}), 400,
         "one request changes one employee"},
        {"employee 0 after employee 1", valid + commitBody({deleteStatement(0, {mine.toInt()})}), 400,
         "one request changes one employee"},
        // Malformed percent escapes.
        {"'%' at the end of the body", valid + "SQL=%", 400, "malformed percent escape"},
        {"'%' followed by one hex digit", valid + "SQL=%4&", 400, "malformed percent escape"},
        {"'%' followed by a non-hex digit", valid + "SQL=%G1&", 400, "malformed percent escape"},
        {"'%%'", valid + "SQL=%%41&", 400, "malformed percent escape"},
        {"IIS-style %u escape", valid + "SQL=%u0041&", 400, "malformed percent escape"},
        {"malformed escape in the field name", valid + "S%QL=x&", 400, "malformed percent escape in the field name"},
        {"escaped NUL inside a statement", valid + "SQL=" + VelmoraInternal::urlEncode(insertWith("1", c)).toStdString() + "%00&",
         400, "SQL field 2"},
        {"overlong UTF-8 for '.' and '/'", valid + "SQL=%C0%AE%C0%AF&", 400, "SQL field 2"},
        // Nothing to do.
        {"empty body", "", 400, "no SQL field"},
        {"only separators", "&&&&", 400, "no SQL field"},
        // Allowed statements that the database refuses: still all or nothing.
        {"inactive center after a valid insert", valid + commitBody({insertStatement(1, inactiveSampleCenters().first())}),
         409, "not an active center"},
        {"unknown center after a valid insert", valid + commitBody({insertStatement(1, 999999)}), 409,
         "not an active center"},
    };
    for (const QString &backend : TestDatabases::backends()) {
        for (const Row &row : rows) {
            QTest::addRow("%s: %s", qPrintable(backend), row.name)
                << backend << QByteArray::fromStdString(row.body) << row.status << QString::fromLatin1(row.reason);
        }
    }
}

void TestHostileInput::hostileBodyIsRefused()
{
    QFETCH(QString, backend);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, reasonPart);
    if (!TestDatabases::require(backend))
        return;
    Fixture fixture(backend);
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Snapshot before = snapshot(fixture.address());
    QVERIFY2(before.error.isEmpty(), qPrintable(before.error));

    const auto result = fixture.client()->Post("/Velmora.asp", body.toStdString(), Form);
    QVERIFY2(result, qPrintable(text(result)));
    QCOMPARE(result->status, status);
    QVERIFY(QString::fromStdString(result->get_header_value("Content-Type")).startsWith(u"text/plain"));
    QVERIFY2(text(result).contains(reasonPart), qPrintable(text(result)));
    checkNothingApplied(fixture, before);
}

void TestHostileInput::hostileDocumentRequestIsRefused_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("status");
    QTest::newRow("SQL in the employee number") << "/Velmora.asp?EmployeeID=1%20OR%201=1" << 400;
    QTest::newRow("stacked statement in the employee number") << "/Velmora.asp?EmployeeID=1;DROP%20TABLE%20Center" << 400;
    QTest::newRow("quote in the employee number") << "/Velmora.asp?EmployeeID=1'" << 400;
    QTest::newRow("employee beyond 32 bits") << "/Velmora.asp?EmployeeID=4294967297" << 400;
    QTest::newRow("malformed percent escape") << "/Velmora.asp?EmployeeID=%G1" << 400;
    QTest::newRow("employee given twice") << "/Velmora.asp?EmployeeID=1&EmployeeID=2" << 400;
    QTest::newRow("path traversal") << "/../../etc/passwd" << 404;
    QTest::newRow("other page") << "/Velmora.aspx?EmployeeID=1" << 404;
}

void TestHostileInput::hostileDocumentRequestIsRefused()
{
    QFETCH(QString, target);
    QFETCH(int, status);
    Fixture fixture(QStringLiteral("sqlite"));
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Snapshot before = snapshot(fixture.address());
    const auto result = fixture.client()->Get(target.toStdString());
    QVERIFY2(result, qPrintable(text(result)));
    QCOMPARE(result->status, status);
    QVERIFY(!result->body.empty());
    QVERIFY(result->body.find("<?xml") == std::string::npos);
    checkNothingApplied(fixture, before);
}

void TestHostileInput::millionTinyFieldsAreRefusedQuickly_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reasonPart");
    const QByteArray valid = QByteArray::fromStdString(validInsert());
    QTest::newRow("SQL=& a million times (5 MB)") << QByteArray("SQL=&").repeated(1000000) << 413 << "too many fields";
    QTest::newRow("a valid insert, then SQL=& a million times")
        << valid + QByteArray("SQL=&").repeated(1000000) << 413 << "too many fields";
    QTest::newRow("a=& a million times") << QByteArray("a=&").repeated(1000000) << 413 << "too many fields";
    QTest::newRow("& five million times") << QByteArray(5000000, '&') << 400 << "no SQL field";
    QTest::newRow("a valid insert repeated 40,000 times")
        << valid.repeated(40000) << 413 << "too many fields";
}

void TestHostileInput::millionTinyFieldsAreRefusedQuickly()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, reasonPart);
    Fixture fixture(QStringLiteral("sqlite"));
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Snapshot before = snapshot(fixture.address());
    QVERIFY(body.size() < 8 * 1024 * 1024); // under the default body limit

    QElapsedTimer timer;
    timer.start();
    const auto result = fixture.client()->Post("/Velmora.asp", body.toStdString(), Form);
    QVERIFY2(result, qPrintable(text(result)));
    QCOMPARE(result->status, status);
    QVERIFY2(text(result).contains(reasonPart), qPrintable(text(result)));
    // A generous sanity bound (sanitizer builds included), not a benchmark.
    QVERIFY2(timer.elapsed() < 30000, qPrintable(QStringLiteral("took %1 ms").arg(timer.elapsed())));
    checkNothingApplied(fixture, before);
}

void TestHostileInput::bodyOverTheLimitIsRefused_data()
{
    QTest::addColumn<int>("mode"); // 0 declared length, 1 chunked, 2 declared huge length, nothing sent
    QTest::addColumn<int>("size");
    QTest::newRow("declared length one byte over") << 0 << 65537;
    QTest::newRow("declared length 10 MB") << 0 << 10 * 1024 * 1024;
    QTest::newRow("chunked, one chunk past the limit") << 1 << 70000;
    QTest::newRow("chunked, 10 MB") << 1 << 10 * 1024 * 1024;
    QTest::newRow("declared 1 TB, no body sent") << 2 << 0;
}

void TestHostileInput::bodyOverTheLimitIsRefused()
{
    QFETCH(int, mode);
    QFETCH(int, size);
    VelmoraServer::Options options;
    options.bodyLimit = 65536;
    Fixture fixture(QStringLiteral("sqlite"), options);
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Snapshot before = snapshot(fixture.address());

    // A valid commit padded with empty fields: only the size is wrong.
    std::string payload = validInsert();
    if (size > int(payload.size()))
        payload.append(size_t(size) - payload.size(), '&');

    if (mode == 2) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(fixture.port()));
        QVERIFY(socket.waitForConnected(5000));
        socket.write("POST /Velmora.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                     "Content-Length: 1099511627776\r\n\r\n");
        QByteArray answer;
        for (int round = 0; round < 100 && !answer.contains("\r\n\r\n"); ++round) {
            if (socket.waitForReadyRead(100))
                answer += socket.readAll();
        }
        QVERIFY2(answer.startsWith("HTTP/1.1 413"), answer.constData());
    } else {
        auto client = fixture.client();
        const httplib::Result result = mode == 1
            ? client->Post("/Velmora.asp",
                           [&](size_t offset, httplib::DataSink &sink) {
                               if (offset < payload.size())
                                   sink.write(payload.data() + offset, std::min<size_t>(16384, payload.size() - offset));
                               else
                                   sink.done();
                               return true;
                           },
                           Form)
            : client->Post("/Velmora.asp", payload, Form);
        if (result) {
            QCOMPARE(result->status, 413);
            QVERIFY2(text(result).contains(u"65536"), qPrintable(text(result)));
        } else {
            // The server may close the connection while the client is still
            // sending the rest of an oversized body; it never accepts it.
            QVERIFY2(result.error() == httplib::Error::Write || result.error() == httplib::Error::Read,
                     qPrintable(text(result)));
        }
    }
    checkNothingApplied(fixture, before);
}

void TestHostileInput::slowBodyIsClosedByTheReadTimeout_data()
{
    QTest::addColumn<int>("sent");     // bytes of the body sent at once
    QTest::addColumn<bool>("trickle"); // then one more byte every 200 ms
    QTest::addColumn<int>("clients");  // connections doing the same at once
    QTest::newRow("stalled after the headers") << 0 << false << 1;
    QTest::newRow("stalled in the middle of the body") << 40 << false << 1;
    QTest::newRow("body trickling in byte by byte") << 5 << true << 1;
    QTest::newRow("more stalled clients than worker threads") << 10 << false << 6;
}

void TestHostileInput::slowBodyIsClosedByTheReadTimeout()
{
    QFETCH(int, sent);
    QFETCH(bool, trickle);
    QFETCH(int, clients);
    VelmoraServer::Options options;
    options.readTimeoutSeconds = 1;
    options.threads = 4;
    Fixture fixture(QStringLiteral("sqlite"), options);
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Snapshot before = snapshot(fixture.address());

    const QByteArray payload = QByteArray::fromStdString(validInsert());
    QVERIFY(payload.size() > sent + 60);
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    for (int i = 0; i < clients; ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), quint16(fixture.port()));
        QVERIFY(socket->waitForConnected(5000));
        socket->write("POST /Velmora.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                      "Content-Length: " + QByteArray::number(payload.size()) + "\r\n\r\n" + payload.left(sent));
        QVERIFY(socket->waitForBytesWritten(5000));
        sockets.push_back(std::move(socket));
    }

    // Bounded: 75 rounds of 200 ms, far beyond the 1 s read time-out.
    QElapsedTimer timer;
    timer.start();
    std::vector<QByteArray> answers(sockets.size());
    for (int round = 0; round < 75; ++round) {
        bool allClosed = true;
        for (size_t i = 0; i < sockets.size(); ++i) {
            QTcpSocket &socket = *sockets[i];
            if (socket.state() == QAbstractSocket::ConnectedState && trickle && sent + round < payload.size() - 1) {
                socket.write(payload.mid(sent + round, 1));
                socket.flush();
            }
            socket.waitForReadyRead(200 / int(sockets.size()));
            answers[i] += socket.readAll();
            allClosed = allClosed && socket.state() != QAbstractSocket::ConnectedState;
        }
        if (allClosed)
            break;
    }
    for (size_t i = 0; i < sockets.size(); ++i) {
        QVERIFY2(sockets[i]->state() != QAbstractSocket::ConnectedState, "the server kept a slow connection open");
        // Answered 408 when the server got to answer at all.
        QVERIFY2(answers[i].isEmpty() || answers[i].startsWith("HTTP/1.1 408"), answers[i].constData());
    }
    QVERIFY2(timer.elapsed() < 15000, qPrintable(QStringLiteral("closed after %1 ms").arg(timer.elapsed())));
    checkNothingApplied(fixture, before);
}

void TestHostileInput::restOfARefusedBodyIsNotARequest_data()
{
    QTest::addColumn<bool>("chunked"); // else: a declared length, stalled past the read time-out
    QTest::newRow("chunked body over the limit") << true;
    QTest::newRow("body stalled past the read time-out") << false;
}

void TestHostileInput::restOfARefusedBodyIsNotARequest()
{
    // A request is refused part-way through its body; the bytes that follow
    // on the connection still belong to that body. Here they spell a valid
    // commit: it must not be taken as a request of its own.
    QFETCH(bool, chunked);
    VelmoraServer::Options options;
    options.bodyLimit = 4096;
    options.readTimeoutSeconds = 1;
    Fixture fixture(QStringLiteral("sqlite"), options);
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Snapshot before = snapshot(fixture.address());

    const QByteArray innerBody = QByteArray::fromStdString(validInsert());
    const QByteArray inner = "POST /Velmora.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                             "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: "
        + QByteArray::number(innerBody.size()) + "\r\n\r\n" + innerBody;
    const QByteArray head = "POST /Velmora.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                            "Content-Type: application/x-www-form-urlencoded\r\n";
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(fixture.port()));
    QVERIFY(socket.waitForConnected(5000));
    if (chunked) {
        const QByteArray chunk(5000, '&');
        socket.write(head + "Transfer-Encoding: chunked\r\n\r\n" + QByteArray::number(chunk.size(), 16) + "\r\n" + chunk
                     + "\r\n");
    } else {
        // The declared length covers the first bytes and the inner request.
        socket.write(head + "Content-Length: " + QByteArray::number(5 + inner.size()) + "\r\n\r\n" + "SQL=&");
    }
    QVERIFY(socket.waitForBytesWritten(5000));
    QTest::qWait(chunked ? 300 : 1800); // the server has refused the body by now
    socket.write(inner);
    socket.waitForBytesWritten(5000);

    // Bounded: 40 rounds of 100 ms.
    QByteArray answers;
    for (int round = 0; round < 40 && socket.state() == QAbstractSocket::ConnectedState; ++round) {
        if (socket.waitForReadyRead(100))
            answers += socket.readAll();
    }
    answers += socket.readAll();
    QVERIFY2(answers.startsWith(chunked ? "HTTP/1.1 413" : "HTTP/1.1 408"), answers.constData());
    QVERIFY2(answers.count("HTTP/1.1 ") == 1, answers.constData());
    checkNothingApplied(fixture, before);
}

void TestHostileInput::wrongContentTypeIsRefused_data()
{
    QTest::addColumn<QString>("contentType");
    QTest::newRow("none") << QString();
    QTest::newRow("text/plain") << "text/plain";
    QTest::newRow("application/json") << "application/json";
    QTest::newRow("multipart/form-data") << "multipart/form-data; boundary=xyz";
    QTest::newRow("text/xml") << "text/xml";
    QTest::newRow("form type with a suffix") << "application/x-www-form-urlencoded-x";
    QTest::newRow("form type as a parameter only") << "text/plain; type=application/x-www-form-urlencoded";
}

void TestHostileInput::wrongContentTypeIsRefused()
{
    QFETCH(QString, contentType);
    Fixture fixture(QStringLiteral("sqlite"));
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Snapshot before = snapshot(fixture.address());
    httplib::Headers headers;
    if (!contentType.isEmpty())
        headers.emplace("Content-Type", contentType.toStdString());
    const std::string payload = validInsert();
    const auto result = fixture.client()->Post("/Velmora.asp", headers, payload.data(), payload.size(), std::string());
    QVERIFY2(result, qPrintable(text(result)));
    QCOMPARE(result->status, 415);
    QVERIFY2(text(result).contains(u"application/x-www-form-urlencoded"), qPrintable(text(result)));
    checkNothingApplied(fixture, before);
}

void TestHostileInput::wrongCredentialsAreRefused_data()
{
    QTest::addColumn<QByteArray>("authorization"); // empty: no header at all
    QTest::newRow("no credentials") << QByteArray();
    QTest::newRow("wrong password") << "Basic " + QByteArray("operator:wrong").toBase64();
    QTest::newRow("password with a suffix") << "Basic " + QByteArray("operator:pa55word ").toBase64();
    QTest::newRow("password prefix only") << "Basic " + QByteArray("operator:pa55").toBase64();
    QTest::newRow("unknown user") << "Basic " + QByteArray("nobody:pa55word").toBase64();
    QTest::newRow("user name in another case") << "Basic " + QByteArray("Operator:pa55word").toBase64();
    QTest::newRow("empty user and password") << "Basic " + QByteArray(":").toBase64();
    QTest::newRow("no colon") << "Basic " + QByteArray("operatorpa55word").toBase64();
    QTest::newRow("not base64") << QByteArray("Basic %%%%");
    QTest::newRow("empty Basic") << QByteArray("Basic ");
    QTest::newRow("other scheme") << QByteArray("Bearer pa55word");
    QTest::newRow("SQL in the user name") << "Basic " + QByteArray("' OR '1'='1:x").toBase64();
    QTest::newRow("very long header") << "Basic " + QByteArray(6000, 'A');
}

void TestHostileInput::wrongCredentialsAreRefused()
{
    QFETCH(QByteArray, authorization);
    QTemporaryDir dir;
    const QString users = dir.filePath(QStringLiteral("users"));
    QString error;
    QVERIFY2(Credentials::addUser(users, QStringLiteral("operator"), "pa55word", &error, FastIterations),
             qPrintable(error));
    VelmoraServer::Options options;
    options.credentialsFile = users;
    Fixture fixture(QStringLiteral("sqlite"), options);
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Snapshot before = snapshot(fixture.address());

    httplib::Headers headers;
    if (!authorization.isEmpty())
        headers.emplace("Authorization", authorization.toStdString());
    auto client = fixture.client();
    const auto get = client->Get("/Velmora.asp?EmployeeID=1", headers);
    QVERIFY2(get, qPrintable(text(get)));
    QCOMPARE(get->status, 401);
    QVERIFY(get->body.find("<?xml") == std::string::npos);
    const auto post = client->Post("/Velmora.asp", headers, validInsert(), Form);
    QVERIFY2(post, qPrintable(text(post)));
    QCOMPARE(post->status, 401);
    QVERIFY(QString::fromStdString(post->get_header_value("WWW-Authenticate")).startsWith(u"Basic realm="));
    QCOMPARE(snapshot(fixture.address()), before);

    // The right user gets through on the same server, so the refusals above
    // were about the credentials.
    httplib::Headers right{{"Authorization", "Basic " + QByteArray("operator:pa55word").toBase64().toStdString()}};
    const auto document = client->Get("/Velmora.asp?EmployeeID=1", right);
    QVERIFY2(document, qPrintable(text(document)));
    QCOMPARE(document->status, 200);
}

QTEST_GUILESS_MAIN(TestHostileInput)
#include "tst_hostileinput.moc"
