// velmora-server's page over real HTTP on 127.0.0.1, one row per answer the
// page gives: the document, a commit, and a refusal at each stage a request
// passes (path, method, authentication, declared length, content type, body
// time-out, form, statements, employee, centers). Every row also checks the
// database (changed only by an accepted commit) and the request's log line.
#include "rawclient.h"
#include "servertexts.h"
#include "testdatabases.h"

#include <centerstore.h>
#include <credentials.h>
#include <httpserver.h>
#include <sampledata.h>
#include <tlscertificate.h>

#include "core/centerdocument.h"
#include "core/maskedaddress.h"

#include <QMutex>
#include <QTest>

using namespace VelmoraServerCore;

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
                         {"headers", QByteArray("X-Line: a\r\n").repeated(150)}, {"chunks", QByteArray("1;e=xyz\r\n&\r\n").repeated(600)}});
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
        VelmoraServer server(options);
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
        QCOMPARE(after.selected.size(), m_seeded.selected.size());
        QCOMPARE(after.selected.first().id == m_seeded.selected.first().id, !commit || m_mine != m_seeded.selected.first().id);
        QCOMPARE(std::any_of(after.selected.cbegin(), after.selected.cend(), [&](const Center &c) { return c.id == m_free; }), commit);

        // A document is the control's, with every active center of employee 1.
        if (status == 200 && !commit) {
            VelmoraInternal::CenterDocument document;
            QVERIFY2(VelmoraInternal::CenterDocumentReader::read(answer, &document, &reason), qPrintable(reason));
            QCOMPARE(qsizetype(document.selected.size() + document.nonSelected.size()), m_seeded.selected.size() + m_seeded.nonSelected.size());
            QCOMPARE(document.selected.back().id.text() + document.nonSelected.front().name, QString::number(m_seeded.selected.last().id) + m_seeded.nonSelected.first().name);
        }

        // One log line: the target with its query (its secrets masked), the
        // status, the body bytes sent and, for a refusal, the reason.
        QCOMPARE(log.size(), 1);
        const QByteArray target = head.left(head.indexOf(" HTTP/1.1"));
        const QString line = QStringLiteral("\"%1\" %2 %3").arg(VelmoraInternal::maskedAddress(QString::fromLatin1(target))).arg(status).arg(answer.size());
        QVERIFY2(log.first().contains(line) && (status == 200 || log.first().contains(answer)) && !log.first().contains(u"secret"), qPrintable(log.first() + QStringLiteral(" lacks ") + line));
        if (status == 200 || status == 401)
            QVERIFY2(log.first().contains(status == 200 ? u" operator \"" : u" - \""), qPrintable(log.first()));
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
        VelmoraServer first(options);
        QString reason;
        QVERIFY2(first.start(&reason), qPrintable(reason));
        options.port = (database + credentials + certificate + key).isEmpty() ? first.port() : 0;
        options.database = database.isEmpty() ? options.database : database;
        options.credentialsFile = credentials;
        options.tlsCertificateFile = certificate;
        options.tlsKeyFile = key;
        VelmoraServer server(options);
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
