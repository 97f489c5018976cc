// The code page in which form fields travel and the form encoding built on
// it: every byte value, the characters outside the code page, and the
// escapes that the server page decodes.
#include "core/urlencoder.h"
#include "core/windows1252.h"

#include <QtTest>

using namespace VelmoraInternal;

namespace {

// The characters of bytes 0x80 to 0x9F as published for the code page,
// written out here rather than taken from the table under test. The five
// bytes without a character stand for the C1 control of the same value.
const char16_t HighBlock[32] = {
    u'€', 0x0081, u'‚', u'ƒ', u'„', u'…', u'†', u'‡',
    u'ˆ', u'‰', u'Š', u'‹', u'Œ', 0x008D, u'Ž', 0x008F,
    0x0090, u'‘', u'’', u'“', u'”', u'•', u'–', u'—',
    u'˜', u'™', u'š', u'›', u'œ', 0x009D, u'ž', u'Ÿ',
};

char16_t characterOfByte(int byte)
{
    return (byte >= 0x80 && byte < 0xA0) ? HighBlock[byte - 0x80] : char16_t(byte);
}

QString byteName(int byte)
{
    return QStringLiteral("byte 0x%1").arg(byte, 2, 16, QLatin1Char('0'));
}

} // namespace

class TestWindows1252UrlEncode : public QObject
{
    Q_OBJECT

private slots:
    void encodesFormFieldValues_data();
    void encodesFormFieldValues();
    void encodesEveryByteValue_data();
    void encodesEveryByteValue();
    void appendsAfterExistingContent_data();
    void appendsAfterExistingContent();

    void mapsEveryByteToItsCharacter_data();
    void mapsEveryByteToItsCharacter();
    void replacesCharactersOutsideTheCodePage_data();
    void replacesCharactersOutsideTheCodePage();
    void decodeThenEncodeGivesBackEveryByte();
    void encodeThenDecodeKeepsRepresentableText_data();
    void encodeThenDecodeKeepsRepresentableText();
};

void TestWindows1252UrlEncode::encodesFormFieldValues_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("letters") << "abc" << QByteArray("abc");
    QTest::newRow("blank becomes plus") << "a b" << QByteArray("a+b");
    QTest::newRow("parentheses and comma") << "IN(5,7)" << QByteArray("IN%285%2C7%29");
    QTest::newRow("percent") << "100%" << QByteArray("100%25");
    QTest::newRow("ampersand and equals") << "x&y=z" << QByteArray("x%26y%3Dz");
    QTest::newRow("plus") << "A+B" << QByteArray("A%2BB");
    QTest::newRow("slash and colon") << "a/b:c" << QByteArray("a%2Fb%3Ac");
    QTest::newRow("tilde") << "~" << QByteArray("%7E");
    QTest::newRow("apostrophe") << "O'Hara" << QByteArray("O%27Hara");
    QTest::newRow("kept punctuation") << "*-._" << QByteArray("*-._");
    QTest::newRow("tab") << "\t" << QByteArray("%09");
    QTest::newRow("carriage return and line feed") << "\r\n" << QByteArray("%0D%0A");
    QTest::newRow("nul character") << QString(QChar(0)) << QByteArray("%00");
    QTest::newRow("accented letter") << QStringLiteral("caf\u00E9") << QByteArray("caf%E9");
    QTest::newRow("euro sign") << QStringLiteral("\u20AC") << QByteArray("%80");
    QTest::newRow("curly quotes") << QStringLiteral("\u201Cx\u201D") << QByteArray("%93x%94");
    QTest::newRow("y with diaeresis") << QStringLiteral("\u0178\u00FF") << QByteArray("%9F%FF");
    QTest::newRow("no-break space") << QStringLiteral("\u00A0") << QByteArray("%A0");
    QTest::newRow("character outside the code page") << QStringLiteral("\u4E2D") << QByteArray("%3F");
    QTest::newRow("C1 control the code page lacks") << QStringLiteral("\u0080") << QByteArray("%3F");
    QTest::newRow("C1 control the code page keeps") << QStringLiteral("\u0081") << QByteArray("%81");
    QTest::newRow("pair of surrogates is two characters")
        << QStringLiteral("\U0001F600") << QByteArray("%3F%3F");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << QByteArray("%3F");
    QTest::newRow("statement")
        << "DELETE FROM T WHERE EmployeeID=12 AND CenterID IN(5,7)"
        << QByteArray("DELETE+FROM+T+WHERE+EmployeeID%3D12+AND+CenterID+IN%285%2C7%29");
    QTest::newRow("empty") << "" << QByteArray();
}

void TestWindows1252UrlEncode::encodesFormFieldValues()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, encoded);
    QCOMPARE(urlEncode(text), encoded);
}

void TestWindows1252UrlEncode::encodesEveryByteValue_data()
{
    QTest::addColumn<QString>("character");
    QTest::addColumn<QByteArray>("encoded");

    const QByteArray kept = "*-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
    for (int byte = 0; byte < 256; ++byte) {
        QByteArray expected;
        if (byte == ' ')
            expected = "+";
        else if (kept.contains(char(byte)))
            expected = QByteArray(1, char(byte));
        else
            expected = QByteArray("%") + QByteArray::number(byte, 16).toUpper().rightJustified(2, '0');
        QTest::newRow(qPrintable(byteName(byte))) << QString(QChar(characterOfByte(byte))) << expected;
    }
}

void TestWindows1252UrlEncode::encodesEveryByteValue()
{
    QFETCH(QString, character);
    QFETCH(QByteArray, encoded);
    QCOMPARE(urlEncode(character), encoded);
}

void TestWindows1252UrlEncode::appendsAfterExistingContent_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("field name first") << QByteArray("SQL=") << "a b" << QByteArray("SQL=a+b");
    QTest::newRow("nothing to append") << QByteArray("SQL=") << "" << QByteArray("SQL=");
    QTest::newRow("into empty") << QByteArray() << "%" << QByteArray("%25");
}

void TestWindows1252UrlEncode::appendsAfterExistingContent()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, text);
    QFETCH(QByteArray, after);

    QByteArray out = before;
    appendUrlEncoded(out, text);
    QCOMPARE(out, after);
}

void TestWindows1252UrlEncode::mapsEveryByteToItsCharacter_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("character");

    for (int byte = 0; byte < 256; ++byte)
        QTest::newRow(qPrintable(byteName(byte))) << byte << int(characterOfByte(byte));
}

void TestWindows1252UrlEncode::mapsEveryByteToItsCharacter()
{
    QFETCH(int, byte);
    QFETCH(int, character);

    QCOMPARE(int(Windows1252::toUnicode(static_cast<unsigned char>(byte))), character);
    QCOMPARE(int(Windows1252::fromUnicode(char16_t(character))), byte);
}

void TestWindows1252UrlEncode::replacesCharactersOutsideTheCodePage_data()
{
    QTest::addColumn<int>("unit");

    QTest::newRow("C1 control 0x80") << 0x80;
    QTest::newRow("C1 control 0x9F") << 0x9F;
    QTest::newRow("Latin capital A with macron") << 0x0100;
    QTest::newRow("Greek alpha") << 0x03B1;
    QTest::newRow("Cyrillic a") << 0x0430;
    QTest::newRow("CJK character") << 0x4E2D;
    QTest::newRow("high surrogate") << 0xD83D;
    QTest::newRow("low surrogate") << 0xDE00;
    QTest::newRow("replacement character") << 0xFFFD;
    QTest::newRow("last unit") << 0xFFFF;
}

void TestWindows1252UrlEncode::replacesCharactersOutsideTheCodePage()
{
    QFETCH(int, unit);
    QCOMPARE(int(Windows1252::fromUnicode(char16_t(unit))), int('?'));
}

void TestWindows1252UrlEncode::decodeThenEncodeGivesBackEveryByte()
{
    QByteArray everyByte;
    for (int byte = 0; byte < 256; ++byte)
        everyByte.append(char(byte));

    const QString text = Windows1252::decode(everyByte);
    QCOMPARE(text.size(), 256);
    QCOMPARE(Windows1252::encode(text), everyByte);
}

void TestWindows1252UrlEncode::encodeThenDecodeKeepsRepresentableText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("ASCII") << "Paint shop 3" << QByteArray("Paint shop 3");
    QTest::newRow("Western European letters")
        << QStringLiteral("Stra\u00DFe, caf\u00E9, \u00C5se") << QByteArray("Stra\xDF" "e, caf\xE9, \xC5se");
    QTest::newRow("typographic punctuation")
        << QStringLiteral("\u2018a\u2019 \u2013 \u2026 \u20AC5 \u2122")
        << QByteArray("\x91" "a\x92 \x96 \x85 \x80" "5 \x99");
    QTest::newRow("empty") << "" << QByteArray();
}

void TestWindows1252UrlEncode::encodeThenDecodeKeepsRepresentableText()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);

    QCOMPARE(Windows1252::encode(text), bytes);
    QCOMPARE(Windows1252::decode(bytes), text);
}

QTEST_APPLESS_MAIN(TestWindows1252UrlEncode)
#include "tst_windows1252_urlencode.moc"
