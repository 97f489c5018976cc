// The texts a commit is made of: center keys and their markers, the
// Windows-1252 code page, the form encoding, the statements and the body.
#include "core/centerkey.h"
#include "core/changeset.h"
#include "core/urlencoder.h"

#include <QtTest>

using namespace VelmoraInternal;

class TestText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void formatsAndMarksKeys_data();
    void formatsAndMarksKeys();
    void encodesFormFields_data();
    void encodesFormFields();
    void buildsStatementsFromMarkedItems_data();
    void buildsStatementsFromMarkedItems();
    void refusesMoreStatementsThanOneSaveSends();
};

void TestText::formatsAndMarksKeys_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<bool>("wholeNumber");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("movedFromUnmarked"); // key after a move with marker N

    QTest::newRow("padded to six digits") << "7" << true << "000007" << "000007N";
    QTest::newRow("six digits kept") << "123456" << true << "123456" << "123456N";
    QTest::newRow("seven digits kept") << "1234567" << true << "1234567" << "1234567N";
    QTest::newRow("own leading zeros do not count") << "0042" << true << "000042" << "000042N";
    QTest::newRow("zero") << "0" << true << "000000" << "000000N";
    QTest::newRow("negative") << "-7" << true << "-000007" << "-000007N";
    QTest::newRow("minus zero is zero") << "-0" << true << "000000" << "000000N";
    QTest::newRow("eighteen digits") << "999999999999999999" << true << "999999999999999999" << "999999999999999999N";
    QTest::newRow("nineteen digits are no ID") << "9999999999999999999" << false << "9999999999999999999" << "9999999999999999999N";
    QTest::newRow("blank is no ID") << " 7" << false << " 7" << " 7";
    QTest::newRow("plus sign is no ID") << "+7" << false << "+7" << "+7";
    QTest::newRow("lone minus is no ID") << "-" << false << "-" << "-";
    QTest::newRow("empty is no ID") << "" << false << "" << "";
}

void TestText::formatsAndMarksKeys()
{
    QFETCH(QString, id);
    QFETCH(bool, wholeNumber);
    QFETCH(QString, key);
    QFETCH(QString, movedFromUnmarked);

    QCOMPARE(isDecimalWholeNumber(id), wholeNumber);
    QCOMPARE(formatKey(id), key);
    QCOMPARE(movedKey(id, key, InsertMarker), movedFromUnmarked);
    // A marked key is not numeric, and moving back drops the marker.
    if (wholeNumber) {
        QVERIFY(isNumericKey(key));
        QVERIFY(!isNumericKey(key + DeleteMarker));
        QCOMPARE(movedKey(id, key + InsertMarker, DeleteMarker), key);
    }
}

void TestText::encodesFormFields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("letters and digits kept") << "abcXYZ019" << QByteArray("abcXYZ019");
    QTest::newRow("blank becomes plus") << "a b" << QByteArray("a+b");
    QTest::newRow("kept punctuation") << "*-._" << QByteArray("*-._");
    QTest::newRow("statement punctuation") << "IN(5,7)" << QByteArray("IN%285%2C7%29");
    QTest::newRow("form syntax escaped") << "x&y=z+%" << QByteArray("x%26y%3Dz%2B%25");
    QTest::newRow("slash colon tilde apostrophe") << "a/b:c~'" << QByteArray("a%2Fb%3Ac%7E%27");
    QTest::newRow("boundaries of the kept ranges") << "@[`{/" << QByteArray("%40%5B%60%7B%2F");
    QTest::newRow("controls with two digits") << "\t\r\n" << QByteArray("%09%0D%0A");
    QTest::newRow("nul") << QString(QChar(0)) << QByteArray("%00");
    QTest::newRow("accented letter") << QStringLiteral("caf\u00E9") << QByteArray("caf%E9");
    QTest::newRow("code page letters above 0x7F") << QStringLiteral("\u20AC\u201C\u0178\u00FF\u00A0") << QByteArray("%80%93%9F%FF%A0");
    QTest::newRow("outside the code page") << QStringLiteral("\u4E2D\u0080") << QByteArray("%3F%3F");
    QTest::newRow("undefined byte kept as its control") << QStringLiteral("\u0081") << QByteArray("%81");
    QTest::newRow("surrogates one unit each") << QStringLiteral("\U0001F600") << QByteArray("%3F%3F");
    QTest::newRow("empty") << "" << QByteArray();
}

void TestText::encodesFormFields()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, encoded);

    QCOMPARE(urlEncode(text), encoded);
    QByteArray appended("SQL=");
    appendUrlEncoded(appended, text);
    QCOMPARE(appended, "SQL=" + encoded);
}

void TestText::buildsStatementsFromMarkedItems_data()
{
    QTest::addColumn<qint32>("employee");
    QTest::addColumn<QStringList>("selected");    // "ID key" in list order
    QTest::addColumn<QStringList>("nonSelected");
    QTest::addColumn<QByteArray>("body");

    const QByteArray insert12_34 = "SQL=INSERT+INTO+CenterEmployeeCrossReference+%28EmployeeID%2CCenterID%2C"
                                   "RecordLastUpdated%29+VALUES+%2812%2C34%2CGETDATE%28%29+%29+&";
    QTest::newRow("nothing marked sends nothing") << 12 << QStringList{"34 000034"} << QStringList{"5 000005"} << QByteArray();
    QTest::newRow("one insert") << 12 << QStringList{"1 000001", "34 000034N"} << QStringList{} << insert12_34;
    QTest::newRow("insert then one delete in list order")
        << 12 << QStringList{"34 000034N"} << QStringList{"7 000007D", "6 000006", "5 000005D"}
        << insert12_34 + "SQL=DELETE+FROM+CenterEmployeeCrossReference+WHERE+EmployeeID%3D12+AND+CenterID+IN%287%2C5%29&";
    QTest::newRow("the list decides, not the letter")
        << -3 << QStringList{"9 000009D"} << QStringList{"8 000008N"}
        << QByteArray("SQL=INSERT+INTO+CenterEmployeeCrossReference+%28EmployeeID%2CCenterID%2CRecordLastUpdated%29"
                      "+VALUES+%28-3%2C9%2CGETDATE%28%29+%29+&SQL=DELETE+FROM+CenterEmployeeCrossReference+WHERE+"
                      "EmployeeID%3D-3+AND+CenterID+IN%288%29&");
}

void TestText::buildsStatementsFromMarkedItems()
{
    QFETCH(qint32, employee);
    QFETCH(QStringList, selected);
    QFETCH(QStringList, nonSelected);
    QFETCH(QByteArray, body);

    const auto itemsOf = [](const QStringList &items) {
        return [items](int i) {
            const QStringList parts = items.at(i).split(u' ');
            return std::make_pair(parts.at(0), parts.at(1));
        };
    };
    QStringList statements;
    QVERIFY(ChangeSet::buildStatements(employee, int(selected.size()), itemsOf(selected), int(nonSelected.size()),
                                       itemsOf(nonSelected), &statements));
    QCOMPARE(ChangeSet::formBody(statements), body);
}

void TestText::refusesMoreStatementsThanOneSaveSends()
{
    // 32,767 inserts fit; one more insert, or a delete after them, does not.
    const auto marked = [](QChar marker) {
        return [marker](int i) { return std::make_pair(QString::number(i + 1), formatKey(QString::number(i + 1)) + marker); };
    };
    QStringList statements;
    QVERIFY(ChangeSet::buildStatements(1, ChangeSet::MaxStatements, marked(InsertMarker), 0, marked(DeleteMarker), &statements));
    QCOMPARE(statements.size(), ChangeSet::MaxStatements);
    QVERIFY(!ChangeSet::buildStatements(1, ChangeSet::MaxStatements + 1, marked(InsertMarker), 0, marked(DeleteMarker), &statements));
    QVERIFY(statements.isEmpty());
    QVERIFY(!ChangeSet::buildStatements(1, ChangeSet::MaxStatements, marked(InsertMarker), 1, marked(DeleteMarker), &statements));
    QVERIFY(ChangeSet::buildStatements(1, ChangeSet::MaxStatements - 1, marked(InsertMarker), 2, marked(DeleteMarker), &statements));
    QCOMPARE(statements.last(), QStringLiteral("DELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=1 AND CenterID IN(1,2)"));
}

QTEST_APPLESS_MAIN(TestText)
#include "tst_text.moc"
