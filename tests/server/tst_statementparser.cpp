// The statement parser accepts the control's two statements exactly and
// refuses everything else, with a reason.
#include <commitrequest.h>
#include <statementparser.h>

#include "core/changeset.h"

#include <QTest>

using namespace VelmoraServerCore;

namespace {

QString insertText(const QString &employee, const QString &center)
{
    return QStringLiteral("INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (")
        + employee + u',' + center + QStringLiteral(",GETDATE() ) ");
}

QString deleteText(const QString &employee, const QString &centers)
{
    return QStringLiteral("DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=") + employee
        + QStringLiteral(" AND CenterID IN(") + centers + u')';
}

} // namespace

class TestStatementParser : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void controlStatementsAccepted_data();
    void controlStatementsAccepted();
    void integers_data();
    void integers();
    void request_data();
    void request();
};

void TestStatementParser::accepted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("isInsert");
    QTest::addColumn<int>("employee");
    QTest::addColumn<QList<qint32>>("centers");

    QTest::newRow("insert") << insertText("12", "34") << true << 12 << QList<qint32>{34};
    QTest::newRow("insert of a negative employee") << insertText("-7", "1") << true << -7 << QList<qint32>{1};
    QTest::newRow("insert of employee 0") << insertText("0", "5") << true << 0 << QList<qint32>{5};
    QTest::newRow("insert at the 32-bit limits")
        << insertText("-2147483648", "2147483647") << true << int(-2147483647 - 1) << QList<qint32>{2147483647};
    QTest::newRow("delete of one center") << deleteText("12", "5") << false << 12 << QList<qint32>{5};
    QTest::newRow("delete of two centers") << deleteText("12", "5,7") << false << 12 << QList<qint32>{5, 7};
    QTest::newRow("delete keeps the written order")
        << deleteText("3", "900,4,30") << false << 3 << QList<qint32>{900, 4, 30};
    QTest::newRow("delete with a repeated center") << deleteText("3", "4,4") << false << 3 << QList<qint32>{4, 4};
    QTest::newRow("delete of a negative employee") << deleteText("-1", "1") << false << -1 << QList<qint32>{1};
}

void TestStatementParser::accepted()
{
    QFETCH(QString, text);
    QFETCH(bool, isInsert);
    QFETCH(int, employee);
    QFETCH(QList<qint32>, centers);

    Statement statement;
    QString reason;
    QVERIFY2(StatementParser::parse(text, &statement, &reason), qPrintable(reason));
    QCOMPARE(StatementParser::employeeOf(statement), employee);
    if (isInsert) {
        const auto *insert = std::get_if<InsertStatement>(&statement);
        QVERIFY(insert);
        QCOMPARE(QList<qint32>{insert->center}, centers);
    } else {
        const auto *del = std::get_if<DeleteStatement>(&statement);
        QVERIFY(del);
        QCOMPARE(del->centers, centers);
    }
}

void TestStatementParser::refused_data()
{
    QTest::addColumn<QString>("text");

    const QString insert = insertText("12", "34");
    const QString del = deleteText("12", "5,7");

    QTest::newRow("empty") << QString();
    QTest::newRow("drop table") << "DROP TABLE CenterEmployeeCrossReference";
    QTest::newRow("select") << "SELECT * FROM CenterEmployeeCrossReference";
    QTest::newRow("update") << "UPDATE CenterEmployeeCrossReference SET CenterID=1 WHERE EmployeeID=12";
    QTest::newRow("delete without a WHERE") << "DELETE FROM CenterEmployeeCrossReference";
    QTest::newRow("insert into another table")
        << "INSERT INTO Center (EmployeeID,CenterID,RecordLastUpdated) VALUES (12,34,GETDATE() ) ";
    QTest::newRow("stacked statement after insert") << insert + "; DROP TABLE Center";
    QTest::newRow("stacked statement after delete") << del + ";DROP TABLE Center";
    QTest::newRow("semicolon at the end of delete") << del + ";";
    QTest::newRow("comment after delete") << del + "--";
    QTest::newRow("comment after insert") << insert + "-- x";
    QTest::newRow("block comment inside the ID list") << deleteText("12", "5/**/,7");
    QTest::newRow("quoted center ID") << insertText("12", "'34'");
    QTest::newRow("quote and semicolon inside a center ID") << insertText("12", "34'); DROP TABLE Center; --");
    QTest::newRow("semicolon inside the employee") << insertText("12;", "34");
    QTest::newRow("sub-query in the ID list") << deleteText("12", "SELECT CenterID FROM Center");
    QTest::newRow("sub-query after an ID") << deleteText("12", "5,(SELECT 1)");
    QTest::newRow("OR condition after the employee")
        << "DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=12 OR 1=1 AND CenterID IN(5)";
    QTest::newRow("expression as the employee") << deleteText("12+0", "5");
    QTest::newRow("center beyond 32 bits") << insertText("12", "2147483648");
    QTest::newRow("employee beyond 32 bits") << insertText("2147483648", "1");
    QTest::newRow("employee below 32 bits") << insertText("-2147483649", "1");
    QTest::newRow("very long number") << deleteText("12", "123456789012345678901234567890");
    QTest::newRow("center 0") << insertText("12", "0");
    QTest::newRow("negative center") << insertText("12", "-34");
    QTest::newRow("center 0 in a delete list") << deleteText("12", "5,0");
    QTest::newRow("leading zero in a center") << insertText("12", "034");
    QTest::newRow("leading zero in an employee") << insertText("012", "34");
    QTest::newRow("minus zero employee") << insertText("-0", "34");
    QTest::newRow("plus sign") << insertText("+12", "34");
    QTest::newRow("decimal point") << insertText("12", "34.0");
    QTest::newRow("hexadecimal") << insertText("12", "0x22");
    QTest::newRow("non-ASCII digits") << insertText("12", QStringLiteral("\u0663\u0664"));
    QTest::newRow("empty ID list") << deleteText("12", "");
    QTest::newRow("trailing comma in the ID list") << deleteText("12", "5,");
    QTest::newRow("leading comma in the ID list") << deleteText("12", ",5");
    QTest::newRow("double comma in the ID list") << deleteText("12", "5,,7");
    QTest::newRow("blank after a comma") << deleteText("12", "5, 7");
    QTest::newRow("blank before IN's parenthesis")
        << "DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=12 AND CenterID IN (5)";
    QTest::newRow("unclosed ID list") << "DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=12 AND CenterID IN(5";
    QTest::newRow("insert without the final blank") << insert.chopped(1);
    QTest::newRow("insert with two final blanks") << insert + " ";
    QTest::newRow("insert without the blank before the parenthesis")
        << "INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (12,34,GETDATE()) ";
    QTest::newRow("extra blank after VALUES (")
        << "INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES ( 12,34,GETDATE() ) ";
    QTest::newRow("extra blank between keywords")
        << "INSERT  INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (12,34,GETDATE() ) ";
    QTest::newRow("leading blank") << " " + insert;
    QTest::newRow("trailing blank after delete") << del + " ";
    QTest::newRow("lower-case keywords")
        << "insert into CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) values (12,34,getdate() ) ";
    QTest::newRow("lower-case delete") << "delete from CenterEmployeeCrossReference where EmployeeID=12 and CenterID in(5)";
    QTest::newRow("lower-case table name") << deleteText("12", "5").replace("CenterEmployee", "centeremployee");
    QTest::newRow("three values in insert")
        << "INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (12,34,35,GETDATE() ) ";
    QTest::newRow("two rows in one insert")
        << "INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (12,34,GETDATE() ) ,(12,35,GETDATE() ) ";
    QTest::newRow("another function instead of GETDATE")
        << "INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) VALUES (12,34,NOW() ) ";
    QTest::newRow("NUL after a statement") << del + QChar(0);
    QTest::newRow("line break inside") << deleteText("12", "5\n,7");
}

void TestStatementParser::refused()
{
    QFETCH(QString, text);

    Statement statement;
    QString reason;
    QVERIFY(!StatementParser::parse(text, &statement, &reason));
    QVERIFY(!reason.isEmpty());
}

void TestStatementParser::controlStatementsAccepted_data()
{
    QTest::addColumn<int>("employee");
    QTest::addColumn<QStringList>("centers");

    QTest::newRow("one center") << 12 << QStringList{"34"};
    QTest::newRow("several centers") << 1 << QStringList{"5", "7", "100000", "2147483647"};
    QTest::newRow("negative employee") << -42 << QStringList{"9"};
    QTest::newRow("largest employee") << 2147483647 << QStringList{"1"};
}

void TestStatementParser::controlStatementsAccepted()
{
    // What the control's change set builds is what the server accepts.
    QFETCH(int, employee);
    QFETCH(QStringList, centers);

    for (const QString &center : centers) {
        Statement statement;
        QString reason;
        QVERIFY2(StatementParser::parse(VelmoraInternal::ChangeSet::insertStatement(employee, center), &statement, &reason),
                 qPrintable(reason));
        const auto &insert = std::get<InsertStatement>(statement);
        QCOMPARE(insert.employee, employee);
        QCOMPARE(insert.center, center.toInt());
    }
    Statement statement;
    QString reason;
    QVERIFY2(StatementParser::parse(VelmoraInternal::ChangeSet::deleteStatement(employee, centers), &statement, &reason),
             qPrintable(reason));
    const auto &del = std::get<DeleteStatement>(statement);
    QCOMPARE(del.employee, employee);
    QCOMPARE(del.centers.size(), centers.size());
    for (qsizetype i = 0; i < centers.size(); ++i)
        QCOMPARE(del.centers[i], centers[i].toInt());
}

void TestStatementParser::integers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");

    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("one") << "1" << true << 1;
    QTest::newRow("minus seven") << "-7" << true << -7;
    QTest::newRow("largest") << "2147483647" << true << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << true << int(-2147483647 - 1);
    QTest::newRow("one past the largest") << "2147483648" << false << 0;
    QTest::newRow("one past the smallest") << "-2147483649" << false << 0;
    QTest::newRow("eleven digits") << "10000000000" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("minus only") << "-" << false << 0;
    QTest::newRow("minus zero") << "-0" << false << 0;
    QTest::newRow("leading zero") << "07" << false << 0;
    QTest::newRow("plus sign") << "+7" << false << 0;
    QTest::newRow("blank") << " 7" << false << 0;
    QTest::newRow("letter") << "7a" << false << 0;
}

void TestStatementParser::integers()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);

    qint32 parsed = 12345;
    QCOMPARE(StatementParser::parseInteger(text, &parsed), valid);
    if (valid)
        QCOMPARE(parsed, value);
}

void TestStatementParser::request_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<int>("status"); // 0: accepted
    QTest::addColumn<QString>("reasonPart");

    const QString ins1 = insertText("12", "34");
    const QString ins2 = insertText("12", "35");
    const QString del = deleteText("12", "5,7");

    QTest::newRow("inserts and a delete") << QStringList{"SQL", "SQL", "SQL"} << QStringList{ins1, ins2, del} << 0 << "";
    QTest::newRow("no field") << QStringList{} << QStringList{} << 400 << "no SQL field";
    QTest::newRow("other field name") << QStringList{"SQL", "sql"} << QStringList{ins1, ins2} << 400 << "field 2 \"sql\"";
    QTest::newRow("statement refused in field 3")
        << QStringList{"SQL", "SQL", "SQL"} << QStringList{ins1, ins2, "DROP TABLE Center"} << 400 << "SQL field 3";
    QTest::newRow("mixed employees")
        << QStringList{"SQL", "SQL"} << QStringList{ins1, deleteText("13", "5")} << 400 << "SQL field 2";
    QTest::newRow("employee 0") << QStringList{"SQL"} << QStringList{insertText("0", "34")} << 403 << "employee 0";
    QTest::newRow("negative employee") << QStringList{"SQL"} << QStringList{deleteText("-3", "4")} << 403 << "employee -3";
}

void TestStatementParser::request()
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
    const bool accepted = CommitRequest::fromFields(fields, &request, &refusal);
    if (status == 0) {
        QVERIFY2(accepted, qPrintable(refusal.reason));
        QCOMPARE(request.employee(), 12);
        QCOMPARE(request.entries().size(), values.size());
        for (qsizetype i = 0; i < values.size(); ++i)
            QCOMPARE(request.entries()[i].field, int(i) + 1);
    } else {
        QVERIFY(!accepted);
        QCOMPARE(refusal.httpStatus, status);
        QVERIFY2(refusal.reason.contains(reasonPart), qPrintable(refusal.reason));
    }
}

QTEST_GUILESS_MAIN(TestStatementParser)
#include "tst_statementparser.moc"
