// The credentials file: salted hashes that verify the right password only,
// strict reading of the file, and adding users.
#include <credentials.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace VelmoraServerCore;

namespace {
constexpr int FastIterations = 1000; // the stored count is honoured; tests need no slow hashes
}

class TestCredentials : public QObject
{
    Q_OBJECT

private slots:
    void verify_data();
    void verify();
    void saltedHashes();
    void malformedFile_data();
    void malformedFile();
    void addUser();
    void authorizationHeader_data();
    void authorizationHeader();
};

void TestCredentials::verify_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("valid");

    QTest::newRow("right password") << "anna" << QByteArray("s3cret pass") << true;
    QTest::newRow("wrong password") << "anna" << QByteArray("s3cret pas") << false;
    QTest::newRow("password with a trailing blank") << "anna" << QByteArray("s3cret pass ") << false;
    QTest::newRow("empty password") << "anna" << QByteArray() << false;
    QTest::newRow("unknown user") << "bert" << QByteArray("s3cret pass") << false;
    QTest::newRow("name differs in case") << "Anna" << QByteArray("s3cret pass") << false;
    QTest::newRow("second user") << "carl" << QByteArray("caf\xc3\xa9:colon") << true;
}

void TestCredentials::verify()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, password);
    QFETCH(bool, valid);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("users"));
    QString error;
    QVERIFY2(Credentials::addUser(path, QStringLiteral("anna"), "s3cret pass", &error, FastIterations), qPrintable(error));
    QVERIFY2(Credentials::addUser(path, QStringLiteral("carl"), "caf\xc3\xa9:colon", &error, FastIterations), qPrintable(error));
    Credentials credentials;
    QVERIFY2(Credentials::load(path, &credentials, &error), qPrintable(error));
    QCOMPARE(credentials.verify(name, password), valid);
}

void TestCredentials::saltedHashes()
{
    // The same password twice gives different lines (fresh salt), neither of
    // which holds the password.
    const QString a = Credentials::hashLine(QStringLiteral("anna"), "password", FastIterations);
    const QString b = Credentials::hashLine(QStringLiteral("anna"), "password", FastIterations);
    QVERIFY(a != b);
    QVERIFY(!a.contains(u"password"));
    QVERIFY(!a.contains(QString::fromLatin1(QByteArray("password").toBase64())));
    QCOMPARE(a.split(u':').size(), 5);
}

void TestCredentials::malformedFile_data()
{
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("reasonPart");

    const QString good = Credentials::hashLine(QStringLiteral("anna"), "pw", FastIterations);
    QTest::newRow("missing part") << good.section(u':', 0, 3) << "line 1";
    QTest::newRow("unknown scheme") << QString(good).replace(QStringLiteral("pbkdf2-sha256"), QStringLiteral("md5")) << "line 1";
    QTest::newRow("bad iteration count") << QString(good).replace(QStringLiteral(":1000:"), QStringLiteral(":x:")) << "line 1";
    QTest::newRow("zero iterations") << QString(good).replace(QStringLiteral(":1000:"), QStringLiteral(":0:")) << "line 1";
    QTest::newRow("bad base64 hash") << good.section(u':', 0, 3) + QStringLiteral(":!!!") << "line 1";
    QTest::newRow("short hash") << good.section(u':', 0, 3) + QStringLiteral(":AAAA") << "line 1";
    QTest::newRow("bad line after comments") << "# users\n\n" + good + "\ngarbage\n" << "line 4";
    QTest::newRow("user twice") << good + u'\n' + good << "twice";
}

void TestCredentials::malformedFile()
{
    QFETCH(QString, content);
    QFETCH(QString, reasonPart);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("users"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content.toUtf8());
    file.close();
    Credentials credentials;
    QString error;
    QVERIFY(!Credentials::load(path, &credentials, &error));
    QVERIFY2(error.contains(reasonPart), qPrintable(error));
}

void TestCredentials::addUser()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("users"));
    QString error;
    QVERIFY2(Credentials::addUser(path, QStringLiteral("anna"), "pw", &error, FastIterations), qPrintable(error));
    QCOMPARE(QFile(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
    QVERIFY(!Credentials::addUser(path, QStringLiteral("anna"), "other", &error, FastIterations));
    QVERIFY2(error.contains(u"already"), qPrintable(error));
    QVERIFY(!Credentials::addUser(path, QStringLiteral("with:colon"), "pw", &error, FastIterations));
    QVERIFY(!Credentials::addUser(path, QStringLiteral("with blank"), "pw", &error, FastIterations));
    QVERIFY(!Credentials::addUser(path, QStringLiteral("bert"), "", &error, FastIterations));
    Credentials credentials;
    QVERIFY2(Credentials::load(path, &credentials, &error), qPrintable(error));
    QVERIFY(credentials.verify(QStringLiteral("anna"), "pw"));
    QVERIFY(!credentials.verify(QStringLiteral("anna"), "other"));
}

void TestCredentials::authorizationHeader_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("valid");

    QTest::newRow("right") << "Basic " + QByteArray("anna:pw").toBase64() << true;
    QTest::newRow("scheme in lower case") << "basic " + QByteArray("anna:pw").toBase64() << true;
    QTest::newRow("wrong password") << "Basic " + QByteArray("anna:px").toBase64() << false;
    QTest::newRow("no colon") << "Basic " + QByteArray("annapw").toBase64() << false;
    QTest::newRow("empty name") << "Basic " + QByteArray(":pw").toBase64() << false;
    QTest::newRow("not base64") << QByteArray("Basic !!!!") << false;
    QTest::newRow("other scheme") << "Bearer " + QByteArray("anna:pw").toBase64() << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestCredentials::authorizationHeader()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, valid);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("users"));
    QString error;
    QVERIFY2(Credentials::addUser(path, QStringLiteral("anna"), "pw", &error, FastIterations), qPrintable(error));
    Credentials credentials;
    QVERIFY2(Credentials::load(path, &credentials, &error), qPrintable(error));
    // Twice: the second answer comes from the remembered verification and
    // must agree with the first.
    for (int round = 0; round < 2; ++round) {
        QString name;
        QCOMPARE(credentials.checkAuthorization(header, &name), valid);
        if (valid)
            QCOMPARE(name, QStringLiteral("anna"));
    }
}

QTEST_GUILESS_MAIN(TestCredentials)
#include "tst_credentials.moc"
