// What the server reads from a request before it touches a database: the
// two statements (nothing else), and the Authorization header against the
// credentials file (whose salts are random at any length). Refusals are one
// row per reason; the fuzzers check the grammar's variants, the form
// decoding and the commit as a whole against references.
#include "testdatabases.h"

#include "auth/credentials.h"
#include "serveroptions.h"
#include "page/statementparser.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace VelmoraServerCore;
constexpr int FastIterations = 1000;

class TestRequestParsing : public QObject
{
    Q_OBJECT

private slots:
    // The tables are in tables/: what each column holds is said at the top.
    void statement_data() { TestTable::load(VELMORA_TABLES "/statements.txt"); }

    void statement()
    {
        QFETCH(QString, text);
        QFETCH(int, employee);
        QFETCH(QList<qint32>, centers);
        QFETCH(QString, reasonPart);

        Statement statement;
        QString reason;
        QCOMPARE(StatementParser::parse(text, &statement, &reason), !centers.isEmpty());
        if (centers.isEmpty()) {
            QVERIFY2(reason.contains(reasonPart), qPrintable(reason));
            return;
        }
        QCOMPARE(StatementParser::employeeOf(statement), employee);
        if (const auto *insert = std::get_if<InsertStatement>(&statement))
            QCOMPARE(QList<qint32>{insert->center}, centers);
        else
            QCOMPARE(std::get<DeleteStatement>(statement).centers, centers);
        QCOMPARE(std::holds_alternative<InsertStatement>(statement), text.startsWith(u"INSERT"));
    }

    void initTestCase()
    {
        const QString path = m_dir.filePath(QStringLiteral("users"));
        QString error;
        QVERIFY2(Credentials::addUser(path, QStringLiteral("anna"), "s3cret pass", &error, FastIterations), qPrintable(error));
        QCOMPARE(QFile(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
        QVERIFY(!Credentials::addUser(path, QStringLiteral("anna"), "other", &error, FastIterations));
        QVERIFY2(error.contains(u"already"), qPrintable(error));
        QVERIFY(!Credentials::addUser(path, QStringLiteral("bert"), "", &error, FastIterations) && error.contains(u"empty"));
        QVERIFY2(Credentials::load(path, &m_credentials, &error), qPrintable(error));
        QFile stored(path);
        QVERIFY(stored.open(QIODevice::ReadOnly) && !stored.readAll().contains("s3cret"));
    }

    void authorization_data() { TestTable::load(VELMORA_TABLES "/authorization.txt"); }

    void authorization()
    {
        QFETCH(QByteArray, header);
        QFETCH(QString, user);
        // Twice: the second answer comes from the remembered verification.
        for (int round = 0; round < 2; ++round) {
            QString name;
            QCOMPARE(m_credentials.checkAuthorization(header, &name), !user.isEmpty());
            QCOMPARE(name, user);
        }
    }

    // A verified pair is remembered for its lifetime, a refused one never.
    void cache_data() { TestTable::load(VELMORA_TABLES "/verification-cache.txt"); }

    void cache()
    {
        QFETCH(QByteArray, header);
        QFETCH(int, secondsLater);
        QFETCH(bool, derivedAgain);
        Credentials::TimePoint now{std::chrono::hours(1)};
        Credentials credentials = m_credentials;
        credentials.setCacheLifetime(std::chrono::seconds(300), [&] { return now; });
        QString name;
        bool derived = false;
        const bool accepted = credentials.checkAuthorization(header, &name, &derived);
        QVERIFY(derived);
        now += std::chrono::seconds(secondsLater);
        QCOMPARE(credentials.checkAuthorization(header, &name, &derived), accepted);
        QCOMPARE(derived, derivedAgain);
    }

    void file_data()
    {
        const QStringList good = Credentials::hashLine(QStringLiteral("anna"), "pw", FastIterations).split(u':');
        TestTable::load(VELMORA_TABLES "/credential-files.txt", {{"salt", good[3].toLatin1()}, {"hash", good[4].toLatin1()}});
    }

    void file()
    {
        QFETCH(QString, content);
        QFETCH(QString, reasonPart);
        const QString path = m_dir.filePath(QStringLiteral("file-%1").arg(QTest::currentDataTag()));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(content.toUtf8()) > 0 && out.flush());
        Credentials credentials;
        QString error;
        QCOMPARE(Credentials::load(path, &credentials, &error), reasonPart.isEmpty());
        QVERIFY2(reasonPart.isEmpty() ? credentials.verify(QStringLiteral("anna"), "pw") : error.contains(reasonPart), qPrintable(error));
    }

    void randomBytes_data() { TestTable::load(VELMORA_TABLES "/random-bytes.txt"); }

    void randomBytes()
    {
        // Every byte, the last ones of a length that is not a multiple of four
        // included, is drawn: over 64 draws each position takes several values.
        QFETCH(int, length);
        QList<QSet<char>> seen(length);
        for (int draw = 0; draw < 64; ++draw) {
            const QByteArray bytes = Credentials::randomBytes(length);
            QCOMPARE(bytes.size(), length);
            for (int i = 0; i < length; ++i)
                seen[i].insert(bytes[i]);
        }
        for (int i = 0; i < length; ++i)
            QVERIFY2(seen[i].size() > 8, qPrintable(QStringLiteral("byte %1 took %2 values").arg(i).arg(seen[i].size())));
    }

    // One table of options reads, bounds and checks them, for the program
    // and for a server started from code alike.
    void options_data() { TestTable::load(VELMORA_TABLES "/options.txt"); }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, reasonPart);
        QCommandLineParser parser;
        OptionTable::addTo(parser);
        QVERIFY(parser.parse(QStringList{QStringLiteral("velmora-server")} + (arguments == QStringList{QString()} ? QStringList() : arguments)));
        ServerOptions options;
        QString error;
        QCOMPARE(OptionTable::read(parser, &options, &error), reasonPart.isEmpty());
        QVERIFY2(error.contains(reasonPart), qPrintable(error));
    }

private:
    QTemporaryDir m_dir;
    Credentials m_credentials;
};

QTEST_GUILESS_MAIN(TestRequestParsing)
#include "tst_requestparsing.moc"
