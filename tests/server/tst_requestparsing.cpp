// What the server reads from a request before it touches a database: the
// two statements (nothing else), and the Authorization header against the
// credentials file (whose salts are random at any length). Refusals are one
// row per reason; the fuzzers check the grammar's variants, the form
// decoding and the commit as a whole against references.
#include "servertexts.h"

#include <credentials.h>
#include <statementparser.h>

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
    void statement_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("employee");
        QTest::addColumn<QList<qint32>>("centers"); // empty: refused; one: an insert unless deleting
        QTest::addColumn<QString>("reasonPart");

        const QString ins = ServerTexts::insert(12, 34);
        auto employee = [&](const char *number) { return QString(ins).replace(QStringLiteral("(12,"), u'(' + QLatin1String(number) + u','); };
        QTest::newRow("insert at the 32-bit limits") << ServerTexts::insert(-2147483647 - 1, 2147483647) << int(-2147483647 - 1) << QList<qint32>{2147483647} << "";
        QTest::newRow("delete keeps order and repeats") << ServerTexts::remove(3, {900, 4, 4}) << 3 << QList<qint32>{900, 4, 4} << "";
        QTest::newRow("delete of one center") << ServerTexts::remove(-1, {1}) << -1 << QList<qint32>{1} << "";
        QTest::newRow("employee 0") << employee("0") << 0 << QList<qint32>{34} << "";
        QTest::newRow("largest employee") << employee("2147483647") << 2147483647 << QList<qint32>{34} << "";
        // One row per refusal of the parser, and of the whole numbers in it.
        QTest::newRow("employee one past the largest") << employee("2147483648") << 0 << QList<qint32>{} << "the employee number at character 90 is outside the 32-bit range";
        QTest::newRow("employee one past the smallest") << employee("-2147483649") << 0 << QList<qint32>{} << "outside the 32-bit range";
        QTest::newRow("employee of eleven digits") << employee("10000000000") << 0 << QList<qint32>{} << "outside the 32-bit range";
        QTest::newRow("employee minus zero") << employee("-0") << 0 << QList<qint32>{} << "is not a plain decimal number";
        QTest::newRow("employee with a plus sign") << employee("+7") << 0 << QList<qint32>{} << "expected the employee number at character 90";
        QTest::newRow("employee with a letter") << employee("7a") << 0 << QList<qint32>{} << "is not a plain decimal number (no leading zeros, no other characters): \"7a,34";
        QTest::newRow("neither statement") << "DROP TABLE Center" << 0 << QList<qint32>{} << "not one of the two accepted statements";
        QTest::newRow("employee missing") << employee("") << 0 << QList<qint32>{} << "expected the employee number at character 90";
        QTest::newRow("employee with a leading zero") << employee("012") << 0 << QList<qint32>{} << "the employee number at character 90 is not a plain decimal number";
        QTest::newRow("no comma after the employee") << employee("12;").replace(";,", ";") << 0 << QList<qint32>{} << "expected ',' after the employee number at character 92";
        QTest::newRow("hexadecimal center") << ServerTexts::insert(12, 34).replace(",34,", ",0x3EC,") << 0 << QList<qint32>{} << "a center ID at character 93 is not a plain decimal number";
        QTest::newRow("center 0") << ServerTexts::insert(12, 0) << 0 << QList<qint32>{} << "center ID 0 at character 93 is not positive; expected a center ID from 1";
        QTest::newRow("negative center in a delete") << ServerTexts::remove(12, {5}).replace("(5", "(5,-3") << 0 << QList<qint32>{} << "center ID -3 at character 80 is not positive";
        QTest::newRow("insert without the final blank") << ins.chopped(1) << 0 << QList<qint32>{} << "with the final blank";
        QTest::newRow("stacked statement after insert") << ins + "; DROP TABLE Center" << 0 << QList<qint32>{} << "expected the end of the statement";
        QTest::newRow("OR after the employee") << ServerTexts::remove(12, {5}).replace("=12 ", "=12 OR 1=1 ") << 0 << QList<qint32>{} << "\" AND CenterID IN(\"";
        QTest::newRow("blank after a comma") << ServerTexts::remove(12, {5}).replace("(5", "(5, 7") << 0 << QList<qint32>{} << "expected a center ID at character 80, found \" 7)\"";
        QTest::newRow("comment after delete") << ServerTexts::remove(12, {5}) + "--" << 0 << QList<qint32>{} << "after ')'";
        QTest::newRow("more centers than a list holds") << ServerTexts::remove(1, QList<qint32>(StatementParser::MaxDeleteCenters + 1, 7)) << 0 << QList<qint32>{} << "more than 32767 center IDs";
    }

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
        QVERIFY2(Credentials::load(path, &m_credentials, &error), qPrintable(error));
        QFile stored(path);
        QVERIFY(stored.open(QIODevice::ReadOnly) && !stored.readAll().contains("s3cret"));
    }

    void authorization_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("user"); // empty: refused
        auto basic = [](const QByteArray &pair) { return "Basic " + pair.toBase64(); };
        QTest::newRow("right") << basic("anna:s3cret pass") << "anna";
        QTest::newRow("scheme in lower case, blanks around") << " basic  " + QByteArray("anna:s3cret pass").toBase64() << "anna";
        QTest::newRow("wrong password") << basic("anna:s3cret pas") << "";
        QTest::newRow("unknown user") << basic("bert:s3cret pass") << "";
        QTest::newRow("no colon") << basic("annas3cret pass") << "";
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
        QTest::newRow("short hash") << good.section(u':', 0, 3) + QStringLiteral(":AAAA") << "line 1";
        QTest::newRow("bad line after comments") << "# users\n\n" + good + "\ngarbage\n" << "line 4";
        QTest::newRow("user twice") << good + u'\n' + good << "line 2: user \"anna\" appears twice";
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

    void randomBytes_data()
    {
        QTest::addColumn<int>("length");
        QTest::newRow("one byte") << 1;
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

QTEST_GUILESS_MAIN(TestRequestParsing)
#include "tst_requestparsing.moc"
