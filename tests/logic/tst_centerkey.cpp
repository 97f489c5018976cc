// Key rules of the center lists: which IDs are accepted, how the hidden key
// is written, how a pending change is recognised and how a move rewrites it.
#include "core/centerkey.h"

#include <QtTest>

using namespace VelmoraInternal;

class TestCenterKey : public QObject
{
    Q_OBJECT

private slots:
    void acceptsOnlyPlainWholeNumbersAsIds_data();
    void acceptsOnlyPlainWholeNumbersAsIds();
    void writesKeyWithAtLeastSixDigits_data();
    void writesKeyWithAtLeastSixDigits();
    void recognisesUnmarkedKeysAsNumbers_data();
    void recognisesUnmarkedKeysAsNumbers();
    void moveMarksOrCancelsThePendingChange_data();
    void moveMarksOrCancelsThePendingChange();
    void movingThereAndBackRestoresTheLoadedKey_data();
    void movingThereAndBackRestoresTheLoadedKey();
};

void TestCenterKey::acceptsOnlyPlainWholeNumbersAsIds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("digits") << "42" << true;
    QTest::newRow("zero") << "0" << true;
    QTest::newRow("negative") << "-7" << true;
    QTest::newRow("leading zeros") << "0042" << true;
    QTest::newRow("eighteen digits") << "123456789012345678" << true;
    QTest::newRow("nineteen digits") << "1234567890123456789" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("minus alone") << "-" << false;
    QTest::newRow("plus sign") << "+5" << false;
    QTest::newRow("double minus") << "--5" << false;
    QTest::newRow("minus after digits") << "5-" << false;
    QTest::newRow("leading blank") << " 5" << false;
    QTest::newRow("trailing blank") << "5 " << false;
    QTest::newRow("blank inside") << "1 2" << false;
    QTest::newRow("decimal point") << "1.5" << false;
    QTest::newRow("grouping comma") << "1,000" << false;
    QTest::newRow("hexadecimal") << "0x1F" << false;
    QTest::newRow("exponent") << "1E3" << false;
    QTest::newRow("marked key") << "000042N" << false;
    QTest::newRow("sql after number") << "5);DROP TABLE x" << false;
    QTest::newRow("arabic-indic digits") << QStringLiteral("\u0664\u0662") << false;
    QTest::newRow("fullwidth digits") << QStringLiteral("\uFF14\uFF12") << false;
}

void TestCenterKey::acceptsOnlyPlainWholeNumbersAsIds()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QCOMPARE(isDecimalWholeNumber(text), accepted);
}

void TestCenterKey::writesKeyWithAtLeastSixDigits_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("key");

    QTest::newRow("one digit") << "7" << "000007";
    QTest::newRow("two digits") << "42" << "000042";
    QTest::newRow("six digits") << "123456" << "123456";
    QTest::newRow("seven digits stay whole") << "1234567" << "1234567";
    QTest::newRow("zero") << "0" << "000000";
    QTest::newRow("negative") << "-7" << "-000007";
    QTest::newRow("leading zeros read as a number") << "0042" << "000042";
    QTest::newRow("many leading zeros") << "000000000000000007" << "000007";
    QTest::newRow("negative with leading zeros") << "-0042" << "-000042";
    QTest::newRow("minus zero is zero") << "-0" << "000000";
    QTest::newRow("eighteen digits") << "999999999999999999" << "999999999999999999";
}

void TestCenterKey::writesKeyWithAtLeastSixDigits()
{
    QFETCH(QString, id);
    QFETCH(QString, key);
    QCOMPARE(formatKey(id), key);
}

void TestCenterKey::recognisesUnmarkedKeysAsNumbers_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("numeric");

    QTest::newRow("unmarked") << "000042" << true;
    QTest::newRow("unmarked seven digits") << "1234567" << true;
    QTest::newRow("unmarked negative") << "-000007" << true;
    QTest::newRow("insert marker") << "000042N" << false;
    QTest::newRow("delete marker") << "000042D" << false;
    QTest::newRow("marker after seven digits") << "1234567N" << false;
    QTest::newRow("marked negative") << "-000007D" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("marker alone") << "N" << false;
    QTest::newRow("minus alone") << "-" << false;
}

void TestCenterKey::recognisesUnmarkedKeysAsNumbers()
{
    QFETCH(QString, key);
    QFETCH(bool, numeric);
    QCOMPARE(isNumericKey(key), numeric);
}

void TestCenterKey::moveMarksOrCancelsThePendingChange_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("oldKey");
    QTest::addColumn<QChar>("marker");
    QTest::addColumn<QString>("newKey");

    QTest::newRow("unassigned center selected")
        << "42" << "000042" << InsertMarker << "000042N";
    QTest::newRow("assigned center removed")
        << "42" << "000042" << DeleteMarker << "000042D";
    QTest::newRow("new selection moved back")
        << "42" << "000042N" << DeleteMarker << "000042";
    QTest::newRow("removal moved back")
        << "42" << "000042D" << InsertMarker << "000042";
    QTest::newRow("seven-digit ID keeps its digits")
        << "1234567" << "1234567" << InsertMarker << "1234567N";
    QTest::newRow("key built from the ID, not copied")
        << "42" << "000099" << InsertMarker << "000042N";
    QTest::newRow("ID with leading zeros")
        << "0042" << "000042" << DeleteMarker << "000042D";
    QTest::newRow("negative ID")
        << "-7" << "-000007" << DeleteMarker << "-000007D";
}

void TestCenterKey::moveMarksOrCancelsThePendingChange()
{
    QFETCH(QString, id);
    QFETCH(QString, oldKey);
    QFETCH(QChar, marker);
    QFETCH(QString, newKey);

    const QString key = movedKey(id, oldKey, marker);
    QCOMPARE(key, newKey);
    QCOMPARE(isNumericKey(key), !isNumericKey(oldKey));
}

void TestCenterKey::movingThereAndBackRestoresTheLoadedKey_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QChar>("away");
    QTest::addColumn<QChar>("back");

    QTest::newRow("selected and returned") << "34" << InsertMarker << DeleteMarker;
    QTest::newRow("removed and returned") << "34" << DeleteMarker << InsertMarker;
    QTest::newRow("seven digits") << "7654321" << InsertMarker << DeleteMarker;
}

void TestCenterKey::movingThereAndBackRestoresTheLoadedKey()
{
    QFETCH(QString, id);
    QFETCH(QChar, away);
    QFETCH(QChar, back);

    const QString loaded = formatKey(id);
    const QString moved = movedKey(id, loaded, away);
    QVERIFY(!isNumericKey(moved));
    QCOMPARE(movedKey(id, moved, back), loaded);
}

QTEST_APPLESS_MAIN(TestCenterKey)
#include "tst_centerkey.moc"
