// The change set: which list items become statements, the exact statement
// texts the server page runs, the form body that carries them, and the
// limit on the number of statements in one save.
#include "core/changeset.h"

#include <QtTest>

using namespace VelmoraInternal;

namespace {

// A list as "ID|key" entries, in list order.
using Items = QStringList;

ChangeSet::ItemAt itemsOf(const Items &items)
{
    return [items](int i) {
        const QStringList parts = items.at(i).split(u'|');
        return std::pair<QString, QString>(parts.at(0), parts.at(1));
    };
}

// Lists of generated items: `marked` items with a marker, the rest without.
ChangeSet::ItemAt generated(QChar marker, int marked)
{
    return [marker, marked](int i) {
        const QString id = QString::number(i + 1);
        QString key = id.rightJustified(6, u'0');
        if (i < marked)
            key.append(marker);
        return std::pair<QString, QString>(id, key);
    };
}

} // namespace

class TestChangeSet : public QObject
{
    Q_OBJECT

private slots:
    void writesStatementsExactly_data();
    void writesStatementsExactly();
    void buildsBodyFromMarkedItems_data();
    void buildsBodyFromMarkedItems();
    void encodesEachStatementAsOneField_data();
    void encodesEachStatementAsOneField();
    void limitsTheNumberOfStatements_data();
    void limitsTheNumberOfStatements();
    void buildsBodyForLargestChangeSet();
};

void TestChangeSet::writesStatementsExactly_data()
{
    QTest::addColumn<QString>("statement");
    QTest::addColumn<QString>("expected");

    QTest::newRow("insert")
        << ChangeSet::insertStatement(12, u"34")
        << "INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) "
           "VALUES (12,34,GETDATE() ) ";
    QTest::newRow("insert for employee 0")
        << ChangeSet::insertStatement(0, u"7")
        << "INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) "
           "VALUES (0,7,GETDATE() ) ";
    QTest::newRow("insert for lowest employee")
        << ChangeSet::insertStatement(-2147483647 - 1, u"7")
        << "INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) "
           "VALUES (-2147483648,7,GETDATE() ) ";
    QTest::newRow("insert keeps the ID text as it stands")
        << ChangeSet::insertStatement(5, u"0042")
        << "INSERT INTO CenterEmployeeCrossReference (EmployeeID,CenterID,RecordLastUpdated) "
           "VALUES (5,0042,GETDATE() ) ";
    QTest::newRow("delete one")
        << ChangeSet::deleteStatement(12, {"5"})
        << "DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=12 AND CenterID IN(5)";
    QTest::newRow("delete several in order")
        << ChangeSet::deleteStatement(12, {"7", "5", "1234567"})
        << "DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=12 AND CenterID IN(7,5,1234567)";
    QTest::newRow("delete for highest employee")
        << ChangeSet::deleteStatement(2147483647, {"5"})
        << "DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=2147483647 AND CenterID IN(5)";
}

void TestChangeSet::writesStatementsExactly()
{
    QFETCH(QString, statement);
    QFETCH(QString, expected);
    QCOMPARE(statement, expected);
}

void TestChangeSet::buildsBodyFromMarkedItems_data()
{
    QTest::addColumn<qint32>("employee");
    QTest::addColumn<Items>("selected");
    QTest::addColumn<Items>("nonSelected");
    QTest::addColumn<QByteArray>("body");

    const QByteArray insertHead =
        "SQL=INSERT+INTO+CenterEmployeeCrossReference+%28EmployeeID%2CCenterID%2CRecordLastUpdated%29+VALUES+%28";
    const QByteArray insertTail = "%2CGETDATE%28%29+%29+&";
    const QByteArray deleteHead = "SQL=DELETE+FROM+CenterEmployeeCrossReference+WHERE+EmployeeID%3D";

    QTest::newRow("one insert and one delete of two")
        << 12 << Items{"34|000034N"} << Items{"5|000005D", "7|000007D"}
        << QByteArray("SQL=INSERT+INTO+CenterEmployeeCrossReference+%28EmployeeID%2CCenterID%2CRecordLastUpdated%29"
                      "+VALUES+%2812%2C34%2CGETDATE%28%29+%29+&SQL=DELETE+FROM+CenterEmployeeCrossReference+WHERE"
                      "+EmployeeID%3D12+AND+CenterID+IN%285%2C7%29&");
    QTest::newRow("nothing pending")
        << 12 << Items{"1|000001", "2|000002"} << Items{"3|000003"} << QByteArray();
    QTest::newRow("empty lists") << 12 << Items{} << Items{} << QByteArray();
    QTest::newRow("inserts only, in selected list order")
        << 12 << Items{"9|000009N", "3|000003", "1|000001N"} << Items{"4|000004"}
        << insertHead + "12%2C9" + insertTail + insertHead + "12%2C1" + insertTail;
    QTest::newRow("deletes only, one statement in list order")
        << 12 << Items{"3|000003"} << Items{"7|000007D", "5|000005", "2|000002D"}
        << deleteHead + "12+AND+CenterID+IN%287%2C2%29&";
    QTest::newRow("single delete")
        << 12 << Items{} << Items{"5|000005D"}
        << deleteHead + "12+AND+CenterID+IN%285%29&";
    QTest::newRow("employee never assigned")
        << 0 << Items{"34|000034N"} << Items{"5|000005D"}
        << insertHead + "0%2C34" + insertTail + deleteHead + "0+AND+CenterID+IN%285%29&";
    QTest::newRow("negative employee")
        << -7 << Items{"34|000034N"} << Items{"5|000005D"}
        << insertHead + "-7%2C34" + insertTail + deleteHead + "-7+AND+CenterID+IN%285%29&";
    QTest::newRow("marker letter is not looked at")
        << 12 << Items{"42|000042D"} << Items{"43|000043N"}
        << insertHead + "12%2C42" + insertTail + deleteHead + "12+AND+CenterID+IN%2843%29&";
    QTest::newRow("seven-digit ID")
        << 12 << Items{"1234567|1234567N"} << Items{}
        << insertHead + "12%2C1234567" + insertTail;
    QTest::newRow("negative center ID keeps its sign")
        << 12 << Items{"-7|-000007N"} << Items{"-8|-000008"}
        << insertHead + "12%2C-7" + insertTail;
}

void TestChangeSet::buildsBodyFromMarkedItems()
{
    QFETCH(qint32, employee);
    QFETCH(Items, selected);
    QFETCH(Items, nonSelected);
    QFETCH(QByteArray, body);

    QStringList statements{"left over from before"};
    QVERIFY(ChangeSet::buildStatements(employee, int(selected.size()), itemsOf(selected),
                                       int(nonSelected.size()), itemsOf(nonSelected), &statements));
    QCOMPARE(ChangeSet::formBody(statements), body);
}

void TestChangeSet::encodesEachStatementAsOneField_data()
{
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("none") << QStringList{} << QByteArray();
    QTest::newRow("one") << QStringList{"a b"} << QByteArray("SQL=a+b&");
    QTest::newRow("separators inside are escaped")
        << QStringList{"x&SQL=y", "100%"} << QByteArray("SQL=x%26SQL%3Dy&SQL=100%25&");
    QTest::newRow("empty statement still makes a field") << QStringList{""} << QByteArray("SQL=&");
    QTest::newRow("text in the code page and outside it")
        << QStringList{QStringLiteral("caf\u00E9 \u4E2D")} << QByteArray("SQL=caf%E9+%3F&");
}

void TestChangeSet::encodesEachStatementAsOneField()
{
    QFETCH(QStringList, statements);
    QFETCH(QByteArray, body);
    QCOMPARE(ChangeSet::formBody(statements), body);
}

void TestChangeSet::limitsTheNumberOfStatements_data()
{
    QTest::addColumn<int>("inserts");
    QTest::addColumn<int>("deletes");
    QTest::addColumn<bool>("built");
    QTest::addColumn<int>("statementCount");

    QTest::newRow("largest number of inserts") << 32767 << 0 << true << 32767;
    QTest::newRow("one insert too many") << 32768 << 0 << false << 0;
    QTest::newRow("largest number with the delete") << 32766 << 5 << true << 32767;
    QTest::newRow("delete one past the limit") << 32767 << 1 << false << 0;
    QTest::newRow("many deletes are one statement") << 0 << 40000 << true << 1;
}

void TestChangeSet::limitsTheNumberOfStatements()
{
    QFETCH(int, inserts);
    QFETCH(int, deletes);
    QFETCH(bool, built);
    QFETCH(int, statementCount);

    // Unmarked items around the marked ones are not counted.
    QStringList statements{"left over from before"};
    QCOMPARE(ChangeSet::buildStatements(1, inserts + 3, generated(u'N', inserts),
                                        deletes + 3, generated(u'D', deletes), &statements),
             built);
    QCOMPARE(statements.size(), statementCount);
}

void TestChangeSet::buildsBodyForLargestChangeSet()
{
    QStringList statements;
    QVERIFY(ChangeSet::buildStatements(12, 32767, generated(u'N', 32767), 0, generated(u'D', 0), &statements));
    const QByteArray body = ChangeSet::formBody(statements);

    QCOMPARE(body.count("SQL="), 32767);
    QVERIFY(body.startsWith("SQL=INSERT+INTO+CenterEmployeeCrossReference+"));
    QVERIFY(body.contains("+VALUES+%2812%2C32767%2CGETDATE%28%29+%29+&"));
    QVERIFY(body.endsWith("%29+&"));
}

QTEST_APPLESS_MAIN(TestChangeSet)
#include "tst_changeset.moc"
