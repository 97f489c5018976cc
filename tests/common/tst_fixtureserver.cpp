// The test HTTP server itself: that it answers as configured, records what
// it receives, keeps connections alive, and misbehaves only when told to.
#include "fixtureserver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using namespace VelmoraInternal;
using Response = FixtureServer::Response;
using Mode = FixtureServer::Mode;

namespace {

constexpr int WaitMs = 20000; // only a guard against a hang, never a measurement

struct Reply
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QByteArray contentType;
};

Reply finish(QNetworkReply *reply)
{
    std::unique_ptr<QNetworkReply> owner(reply);
    if (!reply->isFinished()) {
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!finished.wait(WaitMs))
            qWarning("reply did not finish");
    }
    Reply r;
    r.error = reply->error();
    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->isOpen())
        r.body = reply->readAll();
    r.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    return r;
}

// Sends raw bytes on a fresh connection and collects everything the server
// sends back until it hangs up or `expectedResponses` answers are complete.
QByteArray exchangeRaw(const FixtureServer &server, const QList<QByteArray> &writes, int expectedResponses)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    if (!socket.waitForConnected(WaitMs))
        return "not connected";
    for (const QByteArray &piece : writes) {
        socket.write(piece);
        socket.flush();
        QTest::qWait(1); // let the pieces arrive separately
    }
    QByteArray received;
    QDeadlineTimer deadline(WaitMs);
    while (!deadline.hasExpired() && received.count("HTTP/1.1 ") < expectedResponses
           && socket.state() == QAbstractSocket::ConnectedState) {
        QTest::qWait(5);
        received += socket.readAll();
    }
    QTest::qWait(5);
    received += socket.readAll();
    return received;
}

} // namespace

class TestFixtureServer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void answersWithTheResponseForThePath_data();
    void answersWithTheResponseForThePath();
    void recordsRequestsWithTargetHeadersAndBody_data();
    void recordsRequestsWithTargetHeadersAndBody();
    void deliversChunkedAnswerWhole_data();
    void deliversChunkedAnswerWhole();
    void misbehavesOnlyWhenTold_data();
    void misbehavesOnlyWhenTold();
    void followsRedirectToAnotherPath();
    void servesSeveralRequestsOnOneConnection();
    void answersPipelinedAndSplitRequestsInOrder_data();
    void answersPipelinedAndSplitRequestsInOrder();
    void refusesMalformedRequests_data();
    void refusesMalformedRequests();
    void signalsEachRequest();

private:
    std::unique_ptr<FixtureServer> m_server;
    std::unique_ptr<QNetworkAccessManager> m_nam;
};

void TestFixtureServer::init()
{
    m_server = std::make_unique<FixtureServer>();
    QVERIFY(m_server->listen());
    QVERIFY(m_server->baseUrl().startsWith("http://127.0.0.1:"));
    m_nam = std::make_unique<QNetworkAccessManager>();
}

void TestFixtureServer::cleanup()
{
    m_nam.reset();
    m_server.reset();
}

void TestFixtureServer::answersWithTheResponseForThePath_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");

    QTest::newRow("configured path") << "/Velmora.asp" << 200 << QByteArray("<r/>") << QByteArray("text/xml");
    QTest::newRow("query not part of the match")
        << "/Velmora.asp?EmployeeID=42" << 200 << QByteArray("<r/>") << QByteArray("text/xml");
    QTest::newRow("other configured path") << "/error" << 500 << QByteArray("Server error") << QByteArray("text/html");
    QTest::newRow("unknown path") << "/nothing-here" << 404 << QByteArray("Not Found") << QByteArray("text/plain; charset=utf-8");
    QTest::newRow("path is matched exactly") << "/velmora.asp" << 404 << QByteArray("Not Found")
                                             << QByteArray("text/plain; charset=utf-8");
}

void TestFixtureServer::answersWithTheResponseForThePath()
{
    QFETCH(QString, target);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);

    m_server->setResponse("/Velmora.asp", Response::xml("<r/>"));
    Response error = Response::text("Server error", 500);
    error.contentType = "text/html";
    m_server->setResponse("/error", error);

    const Reply reply = finish(m_nam->get(QNetworkRequest(QUrl(m_server->baseUrl() + target))));
    QCOMPARE(reply.status, status);
    QCOMPARE(reply.body, body);
    QCOMPARE(reply.contentType, contentType);
    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(m_server->lastRequest().target, target.toUtf8());
}

void TestFixtureServer::recordsRequestsWithTargetHeadersAndBody_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("GET") << QByteArray("GET") << QByteArray();
    QTest::newRow("POST form body") << QByteArray("POST") << QByteArray("SQL=a+b&SQL=c%26d&");
    QTest::newRow("POST empty body") << QByteArray("POST") << QByteArray();
    QByteArray large(1024 * 1024 + 17, Qt::Uninitialized);
    for (qsizetype i = 0; i < large.size(); ++i)
        large[i] = char('a' + i % 26);
    QTest::newRow("POST body of a megabyte") << QByteArray("POST") << large;
}

void TestFixtureServer::recordsRequestsWithTargetHeadersAndBody()
{
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, body);

    m_server->setResponse("/Velmora.asp", Response::text("Saved"));
    QNetworkRequest request(QUrl(m_server->baseUrl() + "/Velmora.asp?EmployeeID=-7"));
    request.setRawHeader("X-Extra", "One");
    QNetworkReply *sent = nullptr;
    if (method == "POST") {
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        sent = m_nam->post(request, body);
    } else {
        sent = m_nam->get(request);
    }
    const Reply reply = finish(sent);
    QCOMPARE(reply.error, QNetworkReply::NoError);
    QCOMPARE(reply.body, QByteArray("Saved"));

    QCOMPARE(m_server->requestCount(), 1);
    const FixtureServer::Request r = m_server->lastRequest();
    QCOMPARE(r.method, method);
    QCOMPARE(r.target, QByteArray("/Velmora.asp?EmployeeID=-7"));
    QCOMPARE(r.path, QByteArray("/Velmora.asp"));
    QCOMPARE(r.query, QByteArray("EmployeeID=-7"));
    QCOMPARE(r.headers.value("x-extra"), QByteArray("One"));
    QVERIFY(r.headers.value("host").startsWith("127.0.0.1:"));
    QCOMPARE(r.body.size(), body.size());
    QCOMPARE(r.body, body);
    if (method == "POST")
        QCOMPARE(r.headers.value("content-type"), QByteArray("application/x-www-form-urlencoded"));
}

void TestFixtureServer::deliversChunkedAnswerWhole_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("chunkSize");

    QTest::newRow("empty body") << 0 << 16;
    QTest::newRow("one byte") << 1 << 1024;
    QTest::newRow("many small chunks") << 1000 << 7;
    QTest::newRow("body the size of one chunk") << 1024 << 1024;
    QTest::newRow("100 KiB in 1000-byte chunks") << 100 * 1024 << 1000;
}

void TestFixtureServer::deliversChunkedAnswerWhole()
{
    QFETCH(int, size);
    QFETCH(int, chunkSize);

    QByteArray body(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        body[i] = char('0' + i % 10);
    m_server->setResponse("/big", Response::chunked(body, chunkSize));

    const Reply reply = finish(m_nam->get(QNetworkRequest(QUrl(m_server->baseUrl() + "/big"))));
    QCOMPARE(reply.error, QNetworkReply::NoError);
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.body.size(), body.size());
    QCOMPARE(reply.body, body);
}

void TestFixtureServer::misbehavesOnlyWhenTold_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("transferTimeoutMs");
    QTest::addColumn<int>("error");

    QTest::newRow("never answers: the client gives up")
        << int(Mode::NeverAnswer) << 300 << int(QNetworkReply::OperationCanceledError);
    QTest::newRow("hangs up without answer")
        << int(Mode::CloseWithoutAnswer) << 0 << int(QNetworkReply::RemoteHostClosedError);
    QTest::newRow("normal answer") << int(Mode::Normal) << 0 << int(QNetworkReply::NoError);
}

void TestFixtureServer::misbehavesOnlyWhenTold()
{
    QFETCH(int, mode);
    QFETCH(int, transferTimeoutMs);
    QFETCH(int, error);

    Response response = Response::text("fine");
    response.mode = Mode(mode);
    m_server->setResponse("/x", response);

    QNetworkRequest request(QUrl(m_server->baseUrl() + "/x"));
    request.setTransferTimeout(transferTimeoutMs);
    const Reply reply = finish(m_nam->get(request));
    QCOMPARE(int(reply.error), error);
    QVERIFY(m_server->requestCount() >= 1);
    QCOMPARE(m_server->requests().first().path, QByteArray("/x"));
}

void TestFixtureServer::followsRedirectToAnotherPath()
{
    m_server->setResponse("/old", Response::redirect("/new"));
    m_server->setResponse("/new", Response::text("arrived"));

    const Reply reply = finish(m_nam->get(QNetworkRequest(QUrl(m_server->baseUrl() + "/old"))));
    QCOMPARE(reply.error, QNetworkReply::NoError);
    QCOMPARE(reply.body, QByteArray("arrived"));
    QCOMPARE(m_server->requestCount(), 2);
    QCOMPARE(m_server->requests().at(0).path, QByteArray("/old"));
    QCOMPARE(m_server->requests().at(1).path, QByteArray("/new"));
}

void TestFixtureServer::servesSeveralRequestsOnOneConnection()
{
    m_server->setResponse("/a", Response::text("first"));
    m_server->setResponse("/b", Response::chunked("second", 2));
    m_server->setResponse("/c", Response::text("third"));

    QCOMPARE(finish(m_nam->get(QNetworkRequest(QUrl(m_server->baseUrl() + "/a")))).body, QByteArray("first"));
    QNetworkRequest post(QUrl(m_server->baseUrl() + "/b"));
    post.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    QCOMPARE(finish(m_nam->post(post, QByteArray("x=1"))).body, QByteArray("second"));
    QCOMPARE(finish(m_nam->get(QNetworkRequest(QUrl(m_server->baseUrl() + "/c")))).body, QByteArray("third"));

    QCOMPARE(m_server->requestCount(), 3);
    QCOMPARE(m_server->connectionCount(), 1);
    for (const FixtureServer::Request &r : m_server->requests())
        QCOMPARE(r.connection, 1);
}

void TestFixtureServer::answersPipelinedAndSplitRequestsInOrder_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QByteArrayList>("bodiesRecorded");

    const QByteArray first = "POST /a HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello";
    const QByteArray second = "GET /b HTTP/1.1\r\nHost: x\r\n\r\n";
    const QByteArray chunked =
        "POST /a HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2;ext=1\r\nde\r\n0\r\n\r\n";

    QTest::newRow("two requests in one write") << QList<QByteArray>{first + second} << QByteArrayList{"hello", ""};
    QTest::newRow("header split in two")
        << QList<QByteArray>{first.left(20), first.mid(20) + second} << QByteArrayList{"hello", ""};
    QTest::newRow("body split from its header")
        << QList<QByteArray>{first.left(first.size() - 3), first.right(3), second} << QByteArrayList{"hello", ""};
    QTest::newRow("chunked request body") << QList<QByteArray>{chunked, second} << QByteArrayList{"abcde", ""};
    QTest::newRow("chunked request body split")
        << QList<QByteArray>{chunked.left(60), chunked.mid(60), second} << QByteArrayList{"abcde", ""};
}

void TestFixtureServer::answersPipelinedAndSplitRequestsInOrder()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QByteArrayList, bodiesRecorded);

    Response slow = Response::chunked("AAAA", 1); // answered over several turns
    m_server->setResponse("/a", slow);
    m_server->setResponse("/b", Response::text("BB"));

    const QByteArray received = exchangeRaw(*m_server, writes, 2);
    const qsizetype a = received.indexOf("\r\n\r\n1\r\nA\r\n1\r\nA\r\n1\r\nA\r\n1\r\nA\r\n0\r\n\r\n");
    const qsizetype b = received.indexOf("Content-Length: 2\r\nConnection: keep-alive\r\n\r\nBB");
    QVERIFY2(a >= 0, received.constData());
    QVERIFY2(b > a, received.constData());

    QCOMPARE(m_server->requestCount(), bodiesRecorded.size());
    for (qsizetype i = 0; i < bodiesRecorded.size(); ++i)
        QCOMPARE(m_server->requests().at(i).body, bodiesRecorded.at(i));
}

void TestFixtureServer::refusesMalformedRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("statusLine");

    QTest::newRow("not HTTP") << QByteArray("HELLO\r\n\r\n") << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("header line without colon")
        << QByteArray("GET / HTTP/1.1\r\nHost x\r\n\r\n") << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("negative length")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n") << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("length not a number")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: ten\r\n\r\n") << QByteArray("HTTP/1.1 400 ");
    QTest::newRow("body too large")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 999999999999\r\n\r\n") << QByteArray("HTTP/1.1 413 ");
    QTest::newRow("header without end")
        << QByteArray("GET / HTTP/1.1\r\nX: ") + QByteArray(70 * 1024, 'x') << QByteArray("HTTP/1.1 431 ");
}

void TestFixtureServer::refusesMalformedRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, statusLine);

    const QByteArray received = exchangeRaw(*m_server, {request}, 1);
    QVERIFY2(received.startsWith(statusLine), received.left(200).constData());
    QCOMPARE(m_server->requestCount(), 0);

    // The server keeps serving other connections.
    const Reply reply = finish(m_nam->get(QNetworkRequest(QUrl(m_server->baseUrl() + "/"))));
    QCOMPARE(reply.status, 404);
}

void TestFixtureServer::signalsEachRequest()
{
    QSignalSpy received(m_server.get(), &FixtureServer::requestReceived);
    finish(m_nam->get(QNetworkRequest(QUrl(m_server->baseUrl() + "/one"))));
    finish(m_nam->get(QNetworkRequest(QUrl(m_server->baseUrl() + "/two"))));
    QCOMPARE(received.count(), 2);

    m_server->clearRequests();
    QCOMPARE(m_server->requestCount(), 0);
    QCOMPARE(m_server->lastRequest().method, QByteArray());
}

QTEST_GUILESS_MAIN(TestFixtureServer)
#include "tst_fixtureserver.moc"
