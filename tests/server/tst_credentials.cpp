// The credentials file: salted hashes, users added and checked, malformed
// files refused with the line, Authorization headers, and random salts.
#include <credentials.h>

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace VelmoraServerCore;

namespace {
constexpr int FastIterations = 1000;
}

class TestCredentials : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const QString path = m_dir.filePath(QStringLiteral("users"));
        QString error;
        QVERIFY2(Credentials::addUser(path, QStringLiteral("anna"), "s3cret pass", &error, FastIterations), qPrintable(error));
        QVERIFY2(Credentials::addUser(path, QStringLiteral("carl"), "caf\xc3\xa9:colon", &error, FastIterations), qPrintable(error));
        QCOMPARE(QFile(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
        QVERIFY(!Credentials::addUser(path, QStringLiteral("anna"), "other", &error, FastIterations));
        QVERIFY2(error.contains(u"already"), qPrintable(error));
        QVERIFY2(Credentials::load(path, &m_credentials, &error), qPrintable(error));
        QFile stored(path);
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QVERIFY(!stored.readAll().contains("s3cret"));
    }

    void authorization_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("user"); // empty: refused
        auto basic = [](const QByteArray &pair) { return "Basic " + pair.toBase64(); };
        QTest::newRow("right") << basic("anna:s3cret pass") << "anna";
        QTest::newRow("second user, colon in the password") << basic("carl:caf\xc3\xa9:colon") << "carl";
        QTest::newRow("scheme in lower case, blanks around") << " basic  " + QByteArray("anna:s3cret pass").toBase64() << "anna";
        QTest::newRow("wrong password") << basic("anna:s3cret pas") << "";
        QTest::newRow("password with a trailing blank") << basic("anna:s3cret pass ") << "";
        QTest::newRow("unknown user") << basic("bert:s3cret pass") << "";
        QTest::newRow("name differs in case") << basic("Anna:s3cret pass") << "";
        QTest::newRow("no colon") << basic("annas3cret pass") << "";
        QTest::newRow("empty name") << basic(":s3cret pass") << "";
        QTest::newRow("not base64") << QByteArray("Basic !!!!") << "";
        QTest::newRow("other scheme") << "Bearer " + QByteArray("anna:s3cret pass").toBase64() << "";
        QTest::newRow("scheme only") << QByteArray("Basic") << "";
    }

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

    void file_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("reasonPart"); // empty: loads
        const QString good = Credentials::hashLine(QStringLiteral("anna"), "pw", FastIterations);
        QTest::newRow("comments and blank lines") << "# users\n\n" + good + "\n" << "";
        QTest::newRow("missing part") << good.section(u':', 0, 3) << "line 1";
        QTest::newRow("unknown scheme") << QString(good).replace(QStringLiteral("pbkdf2-sha256"), QStringLiteral("md5")) << "line 1";
        QTest::newRow("zero iterations") << QString(good).replace(QStringLiteral(":1000:"), QStringLiteral(":0:")) << "line 1";
        QTest::newRow("empty salt") << good.section(u':', 0, 2) + "::" + good.section(u':', 4) << "line 1";
        QTest::newRow("short hash") << good.section(u':', 0, 3) + QStringLiteral(":AAAA") << "line 1";
        QTest::newRow("bad line after comments") << "# users\n\n" + good + "\ngarbage\n" << "line 4";
        QTest::newRow("name of 65 characters") << QString(good).replace(QStringLiteral("anna:"), QString(65, u'a') + u':') << "line 1";
        QTest::newRow("user twice") << good + u'\n' + good << "line 2: user \"anna\" appears twice";
    }

    void file()
    {
        QFETCH(QString, content);
        QFETCH(QString, reasonPart);
        const QString path = m_dir.filePath(QStringLiteral("file-%1").arg(QTest::currentDataTag()));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content.toUtf8());
        out.close();
        Credentials credentials;
        QString error;
        QCOMPARE(Credentials::load(path, &credentials, &error), reasonPart.isEmpty());
        QVERIFY2(reasonPart.isEmpty() ? credentials.verify(QStringLiteral("anna"), "pw") : error.contains(reasonPart), qPrintable(error));
    }

    void randomBytes_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("one byte") << 1;
        QTest::newRow("three bytes") << 3;
        QTest::newRow("a salt of 16") << 16;
        QTest::newRow("seventeen, one past whole words") << 17;
    }

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

private:
    QTemporaryDir m_dir;
    Credentials m_credentials;
};

QTEST_GUILESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
