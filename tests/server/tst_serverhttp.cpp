// velmora-server's page over real HTTP on 127.0.0.1: the document, commits
// and their refusals, retries, authentication, limits, slow bodies, a busy
// database, the request log and several clients at once.
#include "testdatabases.h"

#include <centerstore.h>
#include <credentials.h>
#include <httpserver.h>
#include <sampledata.h>

#include "core/centerdocument.h"
#include "core/changeset.h"
#include "core/urlencoder.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpSocket>
#include <QTest>

#include <httplib.h>

#include <map>
#include <thread>

using namespace VelmoraServerCore;

namespace {

constexpr int FastIterations = 1000;
const auto Form = "application/x-www-form-urlencoded";

QString insertText(qint32 employee, qint32 center)
{
    return VelmoraInternal::ChangeSet::insertStatement(employee, QString::number(center));
}

QString deleteText(qint32 employee, const QList<qint32> &centers)
{
    QStringList ids;
    for (qint32 c : centers)
        ids << QString::number(c);
    return VelmoraInternal::ChangeSet::deleteStatement(employee, ids);
}

// The body exactly as the control's commit builds it.
std::string body(const QStringList &statements)
{
    return VelmoraInternal::ChangeSet::formBody(statements).toStdString();
}

std::string field(const QString &name, const QString &value)
{
    return (VelmoraInternal::urlEncode(name) + '=' + VelmoraInternal::urlEncode(value) + '&').toStdString();
}

using Assignments = std::map<qint32, QList<qint32>>;

// A server on a fresh SQLite database holding the sample data, listening on
// a free port of 127.0.0.1, with its log lines collected.
class Fixture
{
public:
    explicit Fixture(VelmoraServer::Options options = {})
    {
        m_address = m_databases.create(QStringLiteral("sqlite"));
        CenterStore::Error error;
        m_store = std::make_unique<CenterStore>(CenterStore::Settings{m_address});
        if (!m_store->ensureSchema(&error) || !m_store->seedSample(&error)) {
            m_error = error.message;
            return;
        }
        options.host = QStringLiteral("127.0.0.1");
        options.port = 0;
        options.database = m_address;
        options.log = [this](const QString &line) {
            QMutexLocker lock(&m_logMutex);
            m_log << line;
        };
        m_server = std::make_unique<VelmoraServer>(options);
        m_server->start(&m_error);
    }

    // The server goes first: its workers may still be logging into m_log.
    ~Fixture()
    {
        if (m_server)
            m_server->stop();
    }

    QString error() const { return m_error; }
    bool ok() const { return m_error.isEmpty(); }
    int port() const { return m_server->port(); }
    QString address() const { return m_address; }
    CenterStore &store() { return *m_store; }

    std::unique_ptr<httplib::Client> client() const
    {
        auto c = std::make_unique<httplib::Client>("127.0.0.1", port());
        c->set_read_timeout(20, 0);
        c->set_connection_timeout(5, 0);
        return c;
    }

    Assignments assignments()
    {
        Assignments all;
        for (qint32 employee = 1; employee <= SampleData::EmployeeCount + 12; ++employee) {
            QList<qint32> centers;
            CenterStore::Error error;
            if (!m_store->assignedCenters(employee, &centers, &error))
                qWarning("%s", qPrintable(error.message));
            all[employee] = centers;
        }
        return all;
    }

    QStringList log()
    {
        QMutexLocker lock(&m_logMutex);
        return m_log;
    }

    void stop() { m_server->stop(); }

private:
    TestDatabases m_databases;
    QString m_address;
    std::unique_ptr<CenterStore> m_store;
    std::unique_ptr<VelmoraServer> m_server;
    QString m_error;
    QMutex m_logMutex;
    QStringList m_log;
};

// Active sample centers not assigned to the employee, ascending.
QList<qint32> freeCenters(qint32 employee)
{
    QSet<qint32> mine;
    for (const auto &[e, c] : SampleData::assignments()) {
        if (e == employee)
            mine.insert(c);
    }
    QList<qint32> result;
    for (const Center &c : SampleData::centers()) {
        if (c.active && !mine.contains(c.id))
            result << c.id;
    }
    return result;
}

qint32 inactiveCenter()
{
    for (const Center &c : SampleData::centers()) {
        if (!c.active)
            return c.id;
    }
    return -1;
}

QString text(const httplib::Result &result)
{
    return result ? QString::fromStdString(result->body) : QStringLiteral("(no response: error %1)").arg(int(result.error()));
}

} // namespace

class TestServerHttp : public QObject
{
    Q_OBJECT

private slots:
    void document_data();
    void document();
    void documentRefused_data();
    void documentRefused();
    void paths_data();
    void paths();
    void commit();
    void refused_data();
    void refused();
    void retryIsHarmless();
    void authentication_data();
    void authentication();
    void sizeLimit_data();
    void sizeLimit();
    void contentType_data();
    void contentType();
    void bodyOver8KiB();
    void tooManyFields();
    void slowBody_data();
    void slowBody();
    void busyDatabase();
    void requestLog();
    void concurrentClients();
};

void TestServerHttp::document_data()
{
    QTest::addColumn<int>("employee");
    QTest::newRow("employee 1") << 1;
    QTest::newRow("employee 2") << 2;
    QTest::newRow("last sample employee") << SampleData::EmployeeCount;
    QTest::newRow("employee without assignments") << 4711;
    QTest::newRow("employee 0") << 0;
    QTest::newRow("negative employee") << -5;
}

void TestServerHttp::document()
{
    QFETCH(int, employee);
    Fixture fixture;
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));

    const auto result = fixture.client()->Get("/Velmora.asp?EmployeeID=" + std::to_string(employee));
    QVERIFY2(result, qPrintable(text(result)));
    QCOMPARE(result->status, 200);
    QCOMPARE(QString::fromStdString(result->get_header_value("Content-Type")), QStringLiteral("text/xml; charset=utf-8"));
    QCOMPARE(QString::fromStdString(result->get_header_value("Cache-Control")), QStringLiteral("no-store"));

    // The control's own reader takes it, with counts equal to the records.
    VelmoraInternal::CenterDocument document;
    QString error;
    QVERIFY2(VelmoraInternal::CenterDocumentReader::read(QByteArray::fromStdString(result->body), &document, &error),
             qPrintable(error));
    QCOMPARE(qsizetype(document.nonSelectedCount), qsizetype(document.nonSelected.size()));
    QCOMPARE(qsizetype(document.selectedCount), qsizetype(document.selected.size()));

    // And it holds what the sample says, active centers only, ascending.
    QSet<qint32> mine;
    for (const auto &[e, c] : SampleData::assignments()) {
        if (e == employee)
            mine.insert(c);
    }
    std::vector<VelmoraInternal::CenterRecord> expectSelected;
    std::vector<VelmoraInternal::CenterRecord> expectNonSelected;
    for (const Center &c : SampleData::centers()) {
        if (c.active)
            (mine.contains(c.id) ? expectSelected : expectNonSelected).push_back({QString::number(c.id), c.name});
    }
    QCOMPARE(document.selected.size(), expectSelected.size());
    QCOMPARE(document.nonSelected.size(), expectNonSelected.size());
    for (size_t i = 0; i < expectSelected.size(); ++i) {
        QCOMPARE(document.selected[i].id, expectSelected[i].id);
        QCOMPARE(document.selected[i].name, expectSelected[i].name);
    }
    for (size_t i = 0; i < expectNonSelected.size(); ++i) {
        QCOMPARE(document.nonSelected[i].id, expectNonSelected[i].id);
        QCOMPARE(document.nonSelected[i].name, expectNonSelected[i].name);
    }
}

void TestServerHttp::documentRefused_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("reasonPart");

    QTest::newRow("no query") << "" << "EmployeeID is missing";
    QTest::newRow("other parameter") << "?Employee=1" << "EmployeeID is missing";
    QTest::newRow("empty value") << "?EmployeeID=" << "not a whole number";
    QTest::newRow("letters") << "?EmployeeID=abc" << "not a whole number";
    QTest::newRow("beyond 32 bits") << "?EmployeeID=2147483648" << "32-bit";
    QTest::newRow("below 32 bits") << "?EmployeeID=-2147483649" << "32-bit";
    QTest::newRow("decimal") << "?EmployeeID=1.5" << "not a whole number";
    QTest::newRow("SQL in the value") << "?EmployeeID=1%20OR%201=1" << "not a whole number";
    QTest::newRow("given twice") << "?EmployeeID=1&EmployeeID=2" << "more than once";
}

void TestServerHttp::documentRefused()
{
    QFETCH(QString, query);
    QFETCH(QString, reasonPart);
    Fixture fixture;
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));

    const auto result = fixture.client()->Get(("/Velmora.asp" + query).toStdString());
    QVERIFY(result);
    QCOMPARE(result->status, 400);
    QVERIFY(QString::fromStdString(result->get_header_value("Content-Type")).startsWith(u"text/plain"));
    QVERIFY2(text(result).contains(reasonPart), qPrintable(text(result)));
}

void TestServerHttp::paths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");

    QTest::newRow("page") << "/Velmora.asp?EmployeeID=1" << 200;
    QTest::newRow("double slash from a ServerName ending in /") << "//Velmora.asp?EmployeeID=1" << 200;
    QTest::newRow("root") << "/" << 404;
    QTest::newRow("other page") << "/Other.asp?EmployeeID=1" << 404;
    QTest::newRow("page with a suffix") << "/Velmora.aspx?EmployeeID=1" << 404;
}

void TestServerHttp::paths()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    Fixture fixture;
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const auto result = fixture.client()->Get(path.toStdString());
    QVERIFY(result);
    QCOMPARE(result->status, status);
    QVERIFY(!result->body.empty());
}

void TestServerHttp::commit()
{
    Fixture fixture;
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Assignments before = fixture.assignments();
    const QList<qint32> mine = before.at(1);
    const QList<qint32> free = freeCenters(1);
    QVERIFY(mine.size() >= 2 && free.size() >= 2);

    // Two centers added, two removed, as one commit of the control.
    const auto result = fixture.client()->Post(
        "/Velmora.asp",
        body({insertText(1, free[0]), insertText(1, free[1]), deleteText(1, {mine[0], mine[1]})}), Form);
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    QCOMPARE(text(result), QStringLiteral("Saved for employee 1: 2 centers added, 2 removed."));

    Assignments expected = before;
    QList<qint32> &now = expected[1];
    now.removeOne(mine[0]);
    now.removeOne(mine[1]);
    now << free[0] << free[1];
    std::sort(now.begin(), now.end());
    QCOMPARE(fixture.assignments(), expected);

    // The reload shows the change.
    const auto reload = fixture.client()->Get("/Velmora.asp?EmployeeID=1");
    VelmoraInternal::CenterDocument document;
    QString error;
    QVERIFY2(VelmoraInternal::CenterDocumentReader::read(QByteArray::fromStdString(reload->body), &document, &error),
             qPrintable(error));
    QStringList selected;
    for (const auto &record : document.selected)
        selected << record.id;
    QVERIFY(selected.contains(QString::number(free[0])));
    QVERIFY(!selected.contains(QString::number(mine[0])));
}

void TestServerHttp::refused_data()
{
    QTest::addColumn<QByteArray>("requestBody");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reasonPart");

    const QList<qint32> free = freeCenters(1);
    const std::string goodInsert = body({insertText(1, free[0])});
    auto row = [](const char *name, const std::string &b, int status, const char *reason) {
        QTest::newRow(name) << QByteArray::fromStdString(b) << status << QString::fromLatin1(reason);
    };

    row("drop table", field("SQL", "DROP TABLE CenterEmployeeCrossReference"), 400, "SQL field 1");
    row("valid insert, then drop table", goodInsert + field("SQL", "DROP TABLE Center"), 400, "SQL field 2");
    row("stacked statement",
        field("SQL", insertText(1, free[0]) + "; DELETE FROM CenterEmployeeCrossReference"), 400, "SQL field 1");
    row("sub-query in the ID list",
        goodInsert + field("SQL", "DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=1 AND CenterID IN(SELECT CenterID FROM CenterEmployeeCrossReference)"),
        400, "SQL field 2");
    row("other field after a valid insert", goodInsert + "Name=x&", 400, "field 2 \"Name\"");
    row("malformed escape in the second field", goodInsert + "SQL=INSERT%2&", 400, "field 2");
    row("field without a value separator", goodInsert + "SQL&", 400, "field 2");
    row("empty body", "", 400, "no SQL field");
    row("only separators", "&&", 400, "no SQL field");
    row("mixed employees", goodInsert + body({deleteText(2, {free[1]})}), 400, "SQL field 2");
    row("employee 0", body({insertText(0, free[0])}), 403, "employee 0");
    row("inactive center after a valid insert", goodInsert + body({insertText(1, inactiveCenter())}), 409,
        "SQL field 2");
    row("unknown center", goodInsert + body({insertText(1, 999999)}), 409, "center 999999");
    row("center beyond 32 bits", field("SQL", insertText(1, 1).replace(QStringLiteral(",1,"), QStringLiteral(",4294967297,"))),
        400, "32-bit");
}

void TestServerHttp::refused()
{
    QFETCH(QByteArray, requestBody);
    QFETCH(int, status);
    QFETCH(QString, reasonPart);
    Fixture fixture;
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Assignments before = fixture.assignments();

    const auto result = fixture.client()->Post("/Velmora.asp", requestBody.toStdString(), Form);
    QVERIFY(result);
    QCOMPARE(result->status, status);
    QVERIFY2(text(result).contains(reasonPart), qPrintable(text(result)));
    QCOMPARE(fixture.assignments(), before);

    // The tables are still there and answer.
    const auto document = fixture.client()->Get("/Velmora.asp?EmployeeID=1");
    QVERIFY(document);
    QCOMPARE(document->status, 200);
}

void TestServerHttp::retryIsHarmless()
{
    Fixture fixture;
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const QList<qint32> mine = fixture.assignments().at(3);
    const QList<qint32> free = freeCenters(3);
    const std::string commit = body({insertText(3, free[0]), deleteText(3, {mine[0]})});

    auto client = fixture.client();
    const auto first = client->Post("/Velmora.asp", commit, Form);
    QVERIFY(first);
    QCOMPARE(first->status, 200);
    const Assignments after = fixture.assignments();
    const auto second = client->Post("/Velmora.asp", commit, Form);
    QVERIFY(second);
    QCOMPARE(second->status, 200);
    QCOMPARE(text(second), QStringLiteral("Saved for employee 3: 0 centers added, 0 removed."));
    QCOMPARE(fixture.assignments(), after);
}

void TestServerHttp::authentication_data()
{
    QTest::addColumn<QByteArray>("authorization"); // empty: no header
    QTest::addColumn<int>("status");

    QTest::newRow("no credentials") << QByteArray() << 401;
    QTest::newRow("wrong password") << "Basic " + QByteArray("operator:wrong").toBase64() << 401;
    QTest::newRow("unknown user") << "Basic " + QByteArray("nobody:pa55word").toBase64() << 401;
    QTest::newRow("malformed header") << QByteArray("Basic %%%") << 401;
    QTest::newRow("other scheme") << QByteArray("Bearer abc") << 401;
    QTest::newRow("right credentials") << "Basic " + QByteArray("operator:pa55word").toBase64() << 200;
}

void TestServerHttp::authentication()
{
    QFETCH(QByteArray, authorization);
    QFETCH(int, status);

    QTemporaryDir dir;
    const QString users = dir.filePath(QStringLiteral("users"));
    QString error;
    QVERIFY2(Credentials::addUser(users, QStringLiteral("operator"), "pa55word", &error, FastIterations), qPrintable(error));
    VelmoraServer::Options options;
    options.credentialsFile = users;
    Fixture fixture(options);
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Assignments before = fixture.assignments();

    httplib::Headers headers;
    if (!authorization.isEmpty())
        headers.emplace("Authorization", authorization.toStdString());
    auto client = fixture.client();
    client->set_keep_alive(true);

    const auto get = client->Get("/Velmora.asp?EmployeeID=1", headers);
    QVERIFY(get);
    QCOMPARE(get->status, status);
    const QList<qint32> free = freeCenters(1);
    const auto post = client->Post("/Velmora.asp", headers, body({insertText(1, free[0])}), Form);
    QVERIFY(post);
    QCOMPARE(post->status, status);
    if (status == 401) {
        QCOMPARE(QString::fromStdString(post->get_header_value("WWW-Authenticate")).left(12), QStringLiteral("Basic realm="));
        QCOMPARE(fixture.assignments(), before);
    } else {
        QVERIFY(fixture.assignments().at(1).contains(free[0]));
    }
    // The same connection serves the next request properly: a refused body
    // was read to its end.
    const auto again = client->Get("/Velmora.asp?EmployeeID=2", headers);
    QVERIFY(again);
    QCOMPARE(again->status, status);
}

void TestServerHttp::sizeLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<int>("status");

    QTest::newRow("exactly the limit") << 4096 << false << 200;
    QTest::newRow("one byte over") << 4097 << false << 413;
    QTest::newRow("far over") << 1000000 << false << 413;
    QTest::newRow("chunked within the limit") << 4096 << true << 200;
    QTest::newRow("chunked over the limit") << 5000 << true << 413;
}

void TestServerHttp::sizeLimit()
{
    QFETCH(int, size);
    QFETCH(bool, chunked);
    QFETCH(int, status);

    VelmoraServer::Options options;
    options.bodyLimit = 4096;
    Fixture fixture(options);
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Assignments before = fixture.assignments();

    // A valid commit padded with empty fields ("&") to the wanted size.
    const qint32 center = freeCenters(1).first();
    std::string payload = body({insertText(1, center)});
    QVERIFY(int(payload.size()) <= size);
    payload.append(size_t(size) - payload.size(), '&');

    auto client = fixture.client();
    const httplib::Result result = chunked
        ? client->Post("/Velmora.asp",
                       [&](size_t offset, httplib::DataSink &sink) {
                           if (offset < payload.size())
                               sink.write(payload.data() + offset, std::min<size_t>(1000, payload.size() - offset));
                           else
                               sink.done();
                           return true;
                       },
                       Form)
        : client->Post("/Velmora.asp", payload, Form);
    // A declared length over the limit is refused before the body is read
    // and the connection closed: a client still sending may see a failed
    // write instead of the 413.
    if (!result && status == 413 && !chunked) {
        QVERIFY2(result.error() == httplib::Error::Write || result.error() == httplib::Error::Read,
                 qPrintable(text(result)));
        QCOMPARE(fixture.assignments(), before);
        return;
    }
    QVERIFY2(result, qPrintable(text(result)));
    QCOMPARE(result->status, status);
    if (status == 413) {
        QVERIFY2(text(result).contains(u"4096"), qPrintable(text(result)));
        QCOMPARE(fixture.assignments(), before);
    } else {
        QVERIFY(fixture.assignments().at(1).contains(center));
    }
}

void TestServerHttp::contentType_data()
{
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<int>("status");

    QTest::newRow("form") << "application/x-www-form-urlencoded" << 200;
    QTest::newRow("form with a charset") << "application/x-www-form-urlencoded; charset=windows-1252" << 200;
    QTest::newRow("form in mixed case") << "Application/X-WWW-Form-URLEncoded" << 200;
    QTest::newRow("plain text") << "text/plain" << 415;
    QTest::newRow("JSON") << "application/json" << 415;
    QTest::newRow("multipart") << "multipart/form-data; boundary=x" << 415;
    QTest::newRow("none") << "" << 415;
}

void TestServerHttp::contentType()
{
    QFETCH(QString, contentType);
    QFETCH(int, status);
    Fixture fixture;
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Assignments before = fixture.assignments();
    const qint32 center = freeCenters(1).first();

    httplib::Headers headers;
    if (!contentType.isEmpty())
        headers.emplace("Content-Type", contentType.toStdString());
    const std::string payload = body({insertText(1, center)});
    const auto result = fixture.client()->Post("/Velmora.asp", headers, payload.data(), payload.size(), std::string());
    QVERIFY(result);
    QCOMPARE(result->status, status);
    QCOMPARE(fixture.assignments().at(1).contains(center), status == 200);
    if (status != 200)
        QCOMPARE(fixture.assignments(), before);
}

void TestServerHttp::bodyOver8KiB()
{
    // Far more than the 8 KiB that form bodies are limited to elsewhere.
    Fixture fixture;
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const QList<qint32> free = freeCenters(2);
    QStringList statements;
    for (qint32 c : free)
        statements << insertText(2, c);
    const std::string payload = body(statements);
    QVERIFY(payload.size() > 3 * 8192);
    const auto result = fixture.client()->Post("/Velmora.asp", payload, Form);
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    QCOMPARE(text(result), QStringLiteral("Saved for employee 2: %1 centers added, 0 removed.").arg(free.size()));
    QCOMPARE(freeCenters(2).size() + fixture.assignments().at(2).size() - free.size(),
             size_t(fixture.assignments().at(2).size()));
    for (qint32 c : free)
        QVERIFY(fixture.assignments().at(2).contains(c));
}

void TestServerHttp::tooManyFields()
{
    Fixture fixture;
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Assignments before = fixture.assignments();
    // One valid insert, then more fields than any commit has.
    std::string payload = body({insertText(1, freeCenters(1).first())});
    for (int i = 0; i < 200000; ++i)
        payload += "SQL=&";
    const auto result = fixture.client()->Post("/Velmora.asp", payload, Form);
    QVERIFY(result);
    QCOMPARE(result->status, 413);
    QVERIFY2(text(result).contains(u"too many fields"), qPrintable(text(result)));
    QCOMPARE(fixture.assignments(), before);
}

void TestServerHttp::slowBody_data()
{
    QTest::addColumn<bool>("trickle"); // false: the body stops after a few bytes
    QTest::newRow("stalled body") << false;
    QTest::newRow("body trickling in") << true;
}

void TestServerHttp::slowBody()
{
    QFETCH(bool, trickle);
    VelmoraServer::Options options;
    options.readTimeoutSeconds = 1;
    Fixture fixture(options);
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Assignments before = fixture.assignments();

    const QByteArray payload = QByteArray::fromStdString(body({insertText(1, freeCenters(1).first())}));
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(fixture.port()));
    QVERIFY(socket.waitForConnected(5000));
    socket.write("POST /Velmora.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                 "Content-Length: " + QByteArray::number(payload.size()) + "\r\n\r\n");
    socket.write(payload.left(5));
    QVERIFY(socket.waitForBytesWritten(5000));

    // Bounded: at most 40 rounds of 250 ms, far beyond the 1 s time-out.
    QByteArray answer;
    for (int round = 0; round < 40 && socket.state() == QAbstractSocket::ConnectedState; ++round) {
        if (trickle && 5 + round < payload.size() - 1) {
            socket.write(payload.mid(5 + round, 1));
            socket.flush();
        }
        if (socket.waitForReadyRead(250))
            answer += socket.readAll();
        if (answer.contains("\r\n\r\n"))
            break;
    }
    answer += socket.readAll();
    QVERIFY2(answer.startsWith("HTTP/1.1 408"), answer.constData());
    QCOMPARE(fixture.assignments(), before);
}

void TestServerHttp::busyDatabase()
{
    // Another writer holds the SQLite database: a commit waits a bounded
    // time and gets 503 with nothing applied; once free, the same commit
    // works.
    VelmoraServer::Options options;
    options.busyTimeoutMs = 200;
    Fixture fixture(options);
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    const Assignments before = fixture.assignments();
    const std::string commit = body({insertText(1, freeCenters(1).first())});
    {
        QSqlDatabase other = TestDatabases::connect(fixture.address(), QStringLiteral("other-writer"));
        QSqlQuery lock(other);
        QVERIFY2(lock.exec(QStringLiteral("BEGIN IMMEDIATE")), qPrintable(lock.lastError().text()));
        const auto result = fixture.client()->Post("/Velmora.asp", commit, Form);
        QVERIFY(result);
        QCOMPARE(result->status, 503);
        QCOMPARE(result->get_header_value("Retry-After"), std::string("5"));
        QVERIFY2(text(result).contains(u"unavailable") && text(result).contains(u"nothing was changed"),
                 qPrintable(text(result)));
        // Documents are still served meanwhile.
        const auto document = fixture.client()->Get("/Velmora.asp?EmployeeID=1");
        QVERIFY(document);
        QCOMPARE(document->status, 200);
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other-writer"));
    QCOMPARE(fixture.assignments(), before);
    const auto result = fixture.client()->Post("/Velmora.asp", commit, Form);
    QVERIFY(result);
    QCOMPARE(result->status, 200);
    // The log says why.
    fixture.stop();
    QVERIFY(!fixture.log().filter(QStringLiteral("\" 503 ")).filter(QStringLiteral("busy")).isEmpty());
}

void TestServerHttp::requestLog()
{
    Fixture fixture;
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    auto client = fixture.client();
    QVERIFY(client->Get("/Velmora.asp?EmployeeID=1"));
    QVERIFY(client->Post("/Velmora.asp", field("SQL", "DROP TABLE Center"), Form));
    fixture.stop(); // every line is written once the server has stopped
    const QStringList lines = fixture.log();
    QCOMPARE(lines.size(), 2);
    // Each request had a connection of its own, so the order may vary.
    const QStringList gets = lines.filter(QStringLiteral("\"GET /Velmora.asp\""));
    const QStringList posts = lines.filter(QStringLiteral("\"POST /Velmora.asp\""));
    QCOMPARE(gets.size(), 1);
    QCOMPARE(posts.size(), 1);
    QVERIFY2(gets[0].contains(u"127.0.0.1") && gets[0].contains(u"\"GET /Velmora.asp\" 200"), qPrintable(gets[0]));
    QVERIFY2(posts[0].contains(u"\"POST /Velmora.asp\" 400") && posts[0].contains(u"SQL field 1"), qPrintable(posts[0]));
}

void TestServerHttp::concurrentClients()
{
    // Eight clients commit at once, each for an employee of its own; every
    // commit lands. Bounded: 26 commits per client.
    Fixture fixture;
    QVERIFY2(fixture.ok(), qPrintable(fixture.error()));
    constexpr int Clients = 8;
    constexpr int Rounds = 26; // even: the last round removes free[0]
    const QList<qint32> free = freeCenters(100);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < Clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", fixture.port());
            client.set_read_timeout(20, 0);
            const qint32 employee = 100 + c;
            for (int round = 0; round < Rounds; ++round) {
                const QStringList statements = round % 2 == 0
                    ? QStringList{insertText(employee, free[0]), insertText(employee, free[1])}
                    : QStringList{deleteText(employee, {free[0]})};
                const auto result = client.Post("/Velmora.asp", body(statements), Form);
                if (!result || result->status != 200)
                    ++failures;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    QCOMPARE(failures.load(), 0);
    for (int c = 0; c < Clients; ++c) {
        QList<qint32> centers;
        CenterStore::Error error;
        QVERIFY(fixture.store().assignedCenters(100 + c, &centers, &error));
        QCOMPARE(centers, QList<qint32>{free[1]});
    }
}

QTEST_GUILESS_MAIN(TestServerHttp)
#include "tst_serverhttp.moc"
