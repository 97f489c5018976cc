// What the server reads from a commit body before it touches a database:
// the form fields, the two statements (nothing else) and the commit as a
// whole. Refusals are one row per stage and reason; the fuzzers cover the
// grammar's variants.
#include "servertexts.h"

#include <commitrequest.h>
#include <formdecoder.h>
#include <statementparser.h>

#include "core/urlencoder.h"
#include "core/windows1252.h"

#include <QTest>

using namespace VelmoraServerCore;
using Pairs = QList<std::pair<QString, QString>>;

class TestRequestParsing : public QObject
{
    Q_OBJECT

private slots:
    void form_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("maxFields");
        QTest::addColumn<Pairs>("fields");
        QTest::addColumn<int>("refusedField"); // 0: decoded
        QTest::addColumn<QString>("reasonPart");

        // Decoded.
        QTest::newRow("empty pieces skipped, last & optional") << QByteArray("&SQL=1&&SQL=2") << 9 << Pairs{{"SQL", "1"}, {"SQL", "2"}} << 0 << "";
        QTest::newRow("plus is a blank, escaped plus a plus") << QByteArray("SQL=a+b%2B&") << 9 << Pairs{{"SQL", "a b+"}} << 0 << "";
        QTest::newRow("escapes in either case, in the name too") << QByteArray("S%51L=IN%285%2c7%29&") << 9 << Pairs{{"SQL", "IN(5,7)"}} << 0 << "";
        QTest::newRow("second = belongs to the value") << QByteArray("SQL=a=b&=x") << 9 << Pairs{{"SQL", "a=b"}, {"", "x"}} << 0 << "";
        QTest::newRow("bytes are Windows-1252, raw or escaped") << QByteArray("SQL=%80\xe9%81%00") << 9 << Pairs{{"SQL", QStringView(u"\u20ac\u00e9\u0081\0", 4).toString()}} << 0 << "";
        QTest::newRow("exactly the field limit") << QByteArray("a=&").repeated(3) << 3 << Pairs{{"a", ""}, {"a", ""}, {"a", ""}} << 0 << "";
        // Refused, naming the field.
        QTest::newRow("one field over the limit") << QByteArray("a=&").repeated(4) << 3 << Pairs{} << 4 << "too many fields";
        QTest::newRow("second field without =") << QByteArray("SQL=1&SQL2&") << 9 << Pairs{} << 2 << "field 2 \"SQL2\": no '='";
        QTest::newRow("percent at the end") << QByteArray("SQL=abc%") << 9 << Pairs{} << 1 << "malformed percent escape at byte 7";
        QTest::newRow("percent with one hex digit") << QByteArray("SQL=%4&") << 9 << Pairs{} << 1 << "malformed percent escape";
        QTest::newRow("percent with a non-hex digit") << QByteArray("SQL=1&SQL=2&SQL=%G1&") << 9 << Pairs{} << 3 << "field 3";
        QTest::newRow("bad escape in the name") << QByteArray("S%Q=1&") << 9 << Pairs{} << 1 << "field name at byte 1";
    }

    void form()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, maxFields);
        QFETCH(Pairs, fields);
        QFETCH(int, refusedField);
        QFETCH(QString, reasonPart);

        QList<FormField> decoded;
        FormDecoder::Error error;
        QCOMPARE(FormDecoder::decode(body, maxFields, &decoded, &error), refusedField == 0);
        if (refusedField != 0) {
            QCOMPARE(error.field, refusedField);
            QVERIFY2(error.reason.contains(reasonPart), qPrintable(error.reason));
            return;
        }
        Pairs pairs;
        for (const FormField &f : std::as_const(decoded))
            pairs.append({f.name, f.value});
        QCOMPARE(pairs, fields);
    }

    void everyByteRoundTrips()
    {
        // Whatever the control encodes from Windows-1252 arrives unchanged.
        QString all;
        for (int byte = 0; byte < 256; ++byte)
            all += QChar(VelmoraInternal::Windows1252::toUnicode(static_cast<unsigned char>(byte)));
        QString decoded;
        QVERIFY(FormDecoder::decodeComponent(VelmoraInternal::urlEncode(all), &decoded));
        QCOMPARE(decoded, all);
    }

    void statement_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("employee");
        QTest::addColumn<QList<qint32>>("centers"); // empty: refused; one: an insert unless deleting
        QTest::addColumn<QString>("reasonPart");

        const QString ins = ServerTexts::insert(12, 34);
        QTest::newRow("insert at the 32-bit limits") << ServerTexts::insert(-2147483647 - 1, 2147483647) << int(-2147483647 - 1) << QList<qint32>{2147483647} << "";
        QTest::newRow("insert of employee 0") << ServerTexts::insert(0, 5) << 0 << QList<qint32>{5} << "";
        QTest::newRow("delete keeps order and repeats") << ServerTexts::remove(3, {900, 4, 4}) << 3 << QList<qint32>{900, 4, 4} << "";
        QTest::newRow("delete of one center") << ServerTexts::remove(-1, {1}) << -1 << QList<qint32>{1} << "";
        // One row per refusal of the parser.
        QTest::newRow("neither statement") << "DROP TABLE Center" << 0 << QList<qint32>{} << "not one of the two accepted statements";
        QTest::newRow("lower-case keywords") << ins.toLower() << 0 << QList<qint32>{} << "not one of the two";
        QTest::newRow("employee missing") << ServerTexts::insert(12, 34).replace("(12,", "(,") << 0 << QList<qint32>{} << "expected the employee number at character 90";
        QTest::newRow("employee with a leading zero") << ServerTexts::insert(12, 34).replace("(12,", "(012,") << 0 << QList<qint32>{} << "the employee number at character 90 is not a plain decimal number";
        QTest::newRow("employee beyond 32 bits") << ServerTexts::insert(12, 34).replace("(12,", "(2147483648,") << 0 << QList<qint32>{} << "outside the 32-bit range";
        QTest::newRow("no comma after the employee") << ServerTexts::insert(12, 34).replace("(12,", "(12;") << 0 << QList<qint32>{} << "expected ',' after the employee number at character 92";
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

    void integer_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");

        QTest::newRow("zero") << "0" << true << 0;
        QTest::newRow("minus seven") << "-7" << true << -7;
        QTest::newRow("largest") << "2147483647" << true << 2147483647;
        QTest::newRow("smallest") << "-2147483648" << true << int(-2147483647 - 1);
        QTest::newRow("ten digits past the largest") << "2147483648" << false << 0;
        QTest::newRow("one past the smallest") << "-2147483649" << false << 0;
        QTest::newRow("eleven digits") << "10000000000" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("minus only") << "-" << false << 0;
        QTest::newRow("minus zero") << "-0" << false << 0;
        QTest::newRow("leading zero") << "07" << false << 0;
        QTest::newRow("plus sign") << "+7" << false << 0;
        QTest::newRow("letter after digits") << "7a" << false << 0;
        QTest::newRow("character after 9") << "1:" << false << 0;
    }

    void integer()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);

        qint32 parsed = 12345;
        QCOMPARE(StatementParser::parseInteger(text, &parsed), valid);
        QCOMPARE(parsed, valid ? value : 12345);
    }

    void request_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<int>("status"); // 0: accepted
        QTest::addColumn<QString>("reasonPart");

        const QString ins = ServerTexts::insert(12, 34);
        const QString del = ServerTexts::remove(12, {5, 7});
        QTest::newRow("inserts and a delete for one employee") << QStringList{"SQL", "SQL", "SQL"} << QStringList{ins, ins, del} << 0 << "";
        QTest::newRow("no field") << QStringList{} << QStringList{} << 400 << "no SQL field";
        QTest::newRow("other field name") << QStringList{"SQL", "sq\x01"} << QStringList{ins, ins} << 400 << "field 2 \"sq?\"";
        QTest::newRow("statement refused in field 3") << QStringList{"SQL", "SQL", "SQL"} << QStringList{ins, del, "x"} << 400 << "SQL field 3: not one";
        QTest::newRow("mixed employees") << QStringList{"SQL", "SQL"} << QStringList{ins, ServerTexts::remove(13, {5})} << 400 << "SQL field 2: names employee 13, but field 1 names employee 12";
        QTest::newRow("employee 0") << QStringList{"SQL"} << QStringList{ServerTexts::insert(0, 34)} << 403 << "employee 0 cannot be changed";
        QTest::newRow("employee 1 is the first changeable") << QStringList{"SQL"} << QStringList{ServerTexts::insert(1, 34)} << 0 << "";
    }

    void request()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, values);
        QFETCH(int, status);
        QFETCH(QString, reasonPart);

        QList<FormField> fields;
        for (qsizetype i = 0; i < names.size(); ++i)
            fields.append({names[i], values[i]});
        CommitRequest request;
        CommitRequest::Refusal refusal;
        QCOMPARE(CommitRequest::fromFields(fields, &request, &refusal), status == 0);
        if (status != 0) {
            QCOMPARE(refusal.httpStatus, status);
            QVERIFY2(refusal.reason.contains(reasonPart), qPrintable(refusal.reason));
            return;
        }
        QCOMPARE(request.employee(), StatementParser::employeeOf(request.entries().first().statement));
        QCOMPARE(request.entries().size(), values.size());
        for (qsizetype i = 0; i < values.size(); ++i)
            QCOMPARE(request.entries()[i].field, int(i) + 1);
    }
};

QTEST_GUILESS_MAIN(TestRequestParsing)
#include "tst_requestparsing.moc"
