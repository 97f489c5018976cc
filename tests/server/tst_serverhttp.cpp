// velmora-server's page over real HTTP on 127.0.0.1, one row per answer the
// page gives: the document, a commit, and a refusal at each stage a request
// passes (path, method, authentication, declared length, content type, body
// time-out, form, statements, employee, centers). Every row also checks the
// database (changed only by an accepted commit) and the request's log line.
#include "rawclient.h"
#include "servertexts.h"
#include "testdatabases.h"
#include "testlines.h"

#include "store/centerstore.h"
#include "auth/credentials.h"
#include "page/centercatalogue.h"
#include "page/documentwriter.h"
#include "testserver.h"
#include "store/sampledata.h"
#include "http/tlscertificate.h"

#include "core/centerdocument.h"
#include "core/gzipinflater.h"
#include "protocol/limits.h"
#include "protocol/maskedaddress.h"

#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUrlQuery>

using namespace VelmoraServerCore;

namespace {

QList<qint32> ids(const QList<Center> &centers)
{
    QList<qint32> result;
    for (const Center &c : centers)
        result << c.id;
    return result;
}

QStringList printed(const QList<qint32> &ids)
{
    QStringList lines;
    for (qint32 id : ids)
        lines << QString::number(id);
    return lines;
}

} // namespace

class TestServerHttp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_inactive = std::find_if(SampleData::centers().cbegin(), SampleData::centers().cend(), [](const Center &c) { return !c.active; })->id;
        CenterStore store({m_databases.create(QStringLiteral("sqlite"))});
        CenterStore::Error error;
        QVERIFY2(store.ensureSchema(&error) && store.seedSample(&error) && store.centerLists(1, &m_seeded, &error), qPrintable(error.message));
        m_free = m_seeded.nonSelected.first().id;
        m_mine = m_seeded.selected.first().id;
        QString reason;
        QVERIFY2(Credentials::addUser(m_dir.filePath(QStringLiteral("users")), QStringLiteral("operator"), "pa55word",
                                      &reason, 1000), qPrintable(reason));
        const auto pem = [this](const char *name) { return m_dir.filePath(QLatin1String(name)); };
        QVERIFY(TlsCertificate::generate(QStringLiteral("127.0.0.1")).save(pem("cert.pem"), pem("key.pem"), &reason)
                && TlsCertificate::generate(QStringLiteral("127.0.0.1")).save(pem("other.pem"), pem("other-key.pem"), &reason));
    }

    // The tables are in tables/: what each column holds is said at the top.
    void page_data()
    {
        const QByteArray valid = QByteArray::fromStdString(ServerTexts::body({ServerTexts::insert(1, m_free), ServerTexts::remove(1, {m_mine})}));
        TestTable::load(VELMORA_TABLES "/http-requests.txt",
                        {{"valid", valid}, {"length", QByteArray::number(valid.size())}, {"fill", QByteArray(4096 - valid.size(), '&')},
                         {"escapeAt", QByteArray::number(valid.size() + 10)}, {"free", QByteArray::number(m_free)}, {"inactive", QByteArray::number(m_inactive)},
                         {"headers", QByteArray("X-Line: a\r\n").repeated(150)}, {"chunks", QByteArray("1;e=xyz\r\n&\r\n").repeated(600)},
                         {"document length", QByteArray::number(DocumentWriter::write(m_seeded).size())}});
    }

    void page()
    {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, body);
        QFETCH(int, declared);
        QFETCH(int, status);
        QFETCH(QByteArray, expected);

        const QString address = m_databases.create(QStringLiteral("sqlite"));
        CenterStore store({address});
        CenterStore::Error error;
        QVERIFY2(store.ensureSchema(&error) && store.seedSample(&error), qPrintable(error.message));
        QMutex mutex;
        QStringList log;
        VelmoraServer::Options options;
        options.port = 0;
        options.database = address;
        options.credentialsFile = m_dir.filePath(QStringLiteral("users"));
        // Small, except for the row that sends more fields than any commit has.
        options.bodyLimit = body.size() > 100000 ? 1 << 20 : 4096;
        options.readTimeoutSeconds = 1;
        options.log = [&](const QString &line) { QMutexLocker lock(&mutex); log << line; };
        TestServer server(options);
        QString reason;
        QVERIFY2(server.start(&reason), qPrintable(reason));

        const QByteArray length = declared == -2 ? QByteArray() : "Content-Length: " + QByteArray::number(declared == -1 ? body.size() : declared) + "\r\n";
        const QByteArray all = RawClient::exchange(QHostAddress::LocalHost, server.port(), head + "Host: 127.0.0.1\r\n" + length + "\r\n" + body);
        server.stop(); // every log line is written once the server has stopped
        const QByteArray answer = all.mid(all.indexOf("\r\n\r\n") + 4);
        QCOMPARE(all.mid(9, 3).toInt(), status);
        QVERIFY2(all.contains(expected) && all.count("Connection: close") == 1 && all.count("HTTP/1.1") == 1, all.left(600).constData());

        // The database changed exactly when a commit was accepted.
        CenterLists after;
        QVERIFY2(store.centerLists(1, &after, &error), qPrintable(error.message));
        const bool commit = status == 200 && head.startsWith("POST");
        QList<qint32> selected = ids(m_seeded.selected);
        if (commit) {
            selected.removeOne(m_mine);
            selected.insert(std::lower_bound(selected.begin(), selected.end(), m_free), m_free);
        }
        COMPARE_LINES(printed(ids(after.selected)), printed(selected));

        // A document is today's, byte for byte, compressed or not; the
        // control reads every active center of employee 1 in it.
        if (status == 200 && !commit) {
            VelmoraInternal::GzipInflater inflater(VelmoraProtocol::MaxAnswerBytes);
            const bool gzip = all.left(all.indexOf("\r\n\r\n")).contains("Content-Encoding: gzip");
            QVERIFY(!gzip || inflater.feed(answer) == VelmoraInternal::GzipInflater::State::Complete);
            const QByteArray text = gzip ? inflater.take() : answer;
            QCOMPARE(text, DocumentWriter::write(m_seeded));
            VelmoraInternal::CenterDocument document;
            QVERIFY2(VelmoraInternal::CenterDocumentReader::read(text, &document, &reason), qPrintable(reason));
            QCOMPARE(qsizetype(document.selected.size() + document.nonSelected.size()), m_seeded.selected.size() + m_seeded.nonSelected.size());
            QCOMPARE(document.selected.back().id.text() + document.nonSelected.front().name, QString::number(m_seeded.selected.last().id) + m_seeded.nonSelected.first().name);
        }

        // One log line: the target with its query (its secrets masked), the
        // status, the body bytes sent and, for a refusal, the reason.
        QCOMPARE(log.size(), 1);
        const QByteArray target = head.left(head.indexOf(" HTTP/1.1"));
        const QString line = QStringLiteral("\"%1\" %2 %3").arg(VelmoraProtocol::maskedAddress(QString::fromLatin1(target))).arg(status).arg(answer.size());
        QVERIFY2(log.first().contains(line) && (status == 200 || log.first().contains(answer)) && !log.first().contains(u"secret"), qPrintable(log.first() + QStringLiteral(" lacks ") + line));
        if (status == 200 || status == 401)
            QVERIFY2(log.first().contains(status == 200 ? u" operator \"" : u" - \""), qPrintable(log.first()));
    }

    // The server reads the centers once and keeps them until "Center"
    // changes: through another server's store, or by a site's own SQL. The
    // rows are in tables/catalogue-changes.txt.
    void catalogueFollowsChanges_data() { TestTable::load(VELMORA_TABLES "/catalogue-changes.txt"); }

    void catalogueFollowsChanges()
    {
        QFETCH(QString, backend);
        QFETCH(QStringList, before);
        QFETCH(QStringList, change);
        QFETCH(QByteArray, expected);
        QFETCH(int, builds);
        if (!TestDatabases::require(backend))
            return;
        const QString address = m_databases.create(backend);
        const QString schema = QUrlQuery(QUrl(address)).queryItemValue(QStringLiteral("schema"));
        QVERIFY(TestDatabases::putCenters(address, 3));
        QSqlDatabase sql = TestDatabases::connect(address, QString::fromUtf8(QTest::currentDataTag()));
        const auto run = [&](const QStringList &statements) {
            for (QString statement : statements) {
                QSqlQuery query(sql);
                if (!statement.isEmpty() && !query.exec(statement.replace(QStringLiteral("{schema}"), schema)))
                    return statement + QStringLiteral(": ") + query.lastError().text();
            }
            return QString();
        };
        QCOMPARE(run(before), QString());
        VelmoraServer::Options options;
        options.port = 0;
        options.database = address;
        options.catalogue = std::make_shared<CatalogueCache>();
        TestServer server(options);
        QString reason;
        QVERIFY2(server.start(&reason), qPrintable(reason));
        const auto get = [&](const char *method, bool gzip) {
            return RawClient::exchange(QHostAddress::LocalHost, server.port(), QByteArray(method)
                + " /Velmora.asp?EmployeeID=5 HTTP/1.1\r\n" + (gzip ? "Accept-Encoding: gzip\r\n\r\n" : "\r\n"));
        };
        // The second request takes the kept catalogue; HEAD sends what GET does, without the body.
        const QByteArray first = get("GET", true);
        QCOMPARE(get("HEAD", true), first.left(first.indexOf("\r\n\r\n") + 4));
        QCOMPARE(options.catalogue->builds(), 1);

        if (change.first().startsWith(u"put ")) {
            const QStringList put = change.first().split(u' ');
            CenterStore::Error error;
            QVERIFY2(CenterStore({address}).putCenters({{put[1].toInt(), put.mid(3).join(u' '), put[2] == u"1"}}, &error), qPrintable(error.message));
        } else {
            QCOMPARE(run(change), QString());
        }
        const QByteArray next = get("GET", false);
        const QByteArray body = next.mid(next.indexOf("\r\n\r\n") + 4);
        CenterLists lists;
        CenterStore::Error error;
        QVERIFY2(CenterStore({address}).centerLists(5, &lists, &error), qPrintable(error.message));
        QVERIFY2(body.contains(expected), body.left(300).constData());
        QCOMPARE(body, DocumentWriter::write(lists));
        QCOMPARE(options.catalogue->builds(), builds);
    }

    void startRefused_data() { TestTable::load(VELMORA_TABLES "/refused-starts.txt", {{"dir", m_dir.path().toUtf8()}}); }

    void startRefused()
    {
        QFETCH(QString, database);
        QFETCH(QString, credentials);
        QFETCH(QString, certificate);
        QFETCH(QString, key);
        QFETCH(QString, reasonPart);
        QFile(m_dir.filePath(QStringLiteral("empty"))).open(QIODevice::WriteOnly);
        VelmoraServer::Options options;
        options.port = 0;
        options.database = m_databases.create(QStringLiteral("sqlite"));
        TestServer first(options);
        QString reason;
        QVERIFY2(first.start(&reason), qPrintable(reason));
        options.port = (database + credentials + certificate + key).isEmpty() ? first.port() : 0;
        options.database = database.isEmpty() ? options.database : database;
        options.credentialsFile = credentials;
        options.tlsCertificateFile = certificate;
        options.tlsKeyFile = key;
        TestServer server(options);
        QVERIFY(!server.start(&reason) && !server.isRunning());
        QVERIFY2(reason.contains(reasonPart.contains(u"%1") ? reasonPart.arg(first.port()) : reasonPart) && !reason.contains(u"secret"), qPrintable(reason));
    }

private:
    TestDatabases m_databases;
    QTemporaryDir m_dir;
    qint32 m_free = 0; // active, not assigned to employee 1
    qint32 m_mine = 0; // assigned to employee 1
    qint32 m_inactive = 0;
    CenterLists m_seeded; // employee 1's lists in a database just seeded
};

QTEST_GUILESS_MAIN(TestServerHttp)
#include "tst_serverhttp.moc"
