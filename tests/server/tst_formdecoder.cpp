// The server's decoding of commit bodies: what it accepts, what it refuses,
// and that it exactly inverts the control's urlEncode.
#include <formdecoder.h>

#include "core/urlencoder.h"
#include "core/windows1252.h"

#include <QRandomGenerator>
#include <QTest>

using namespace VelmoraServerCore;

using Pairs = QList<std::pair<QString, QString>>;
Q_DECLARE_METATYPE(Pairs)

class TestFormDecoder : public QObject
{
    Q_OBJECT

private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void fieldLimit();
    void everyByteRoundTrips();
    void randomTextsRoundTrip();
};

void TestFormDecoder::accepted_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Pairs>("fields");

    QTest::newRow("empty body") << QByteArray() << Pairs{};
    QTest::newRow("only separators") << QByteArray("&&&") << Pairs{};
    QTest::newRow("one field ending in &") << QByteArray("SQL=abc&") << Pairs{{"SQL", "abc"}};
    QTest::newRow("last field without &") << QByteArray("SQL=abc") << Pairs{{"SQL", "abc"}};
    QTest::newRow("plus is a blank") << QByteArray("SQL=a+b++c&") << Pairs{{"SQL", "a b  c"}};
    QTest::newRow("escaped plus stays plus") << QByteArray("SQL=A%2BB&") << Pairs{{"SQL", "A+B"}};
    QTest::newRow("upper-case escapes") << QByteArray("SQL=IN%285%2C7%29&") << Pairs{{"SQL", "IN(5,7)"}};
    QTest::newRow("lower-case escapes") << QByteArray("SQL=IN%285%2c7%29&") << Pairs{{"SQL", "IN(5,7)"}};
    QTest::newRow("escaped & and = inside a value")
        << QByteArray("SQL=x%26y%3Dz&") << Pairs{{"SQL", "x&y=z"}};
    QTest::newRow("second = belongs to the value") << QByteArray("SQL=a=b&") << Pairs{{"SQL", "a=b"}};
    QTest::newRow("empty value") << QByteArray("SQL=&") << Pairs{{"SQL", ""}};
    QTest::newRow("empty name") << QByteArray("=x&") << Pairs{{"", "x"}};
    QTest::newRow("Windows-1252 e acute") << QByteArray("SQL=caf%E9&") << Pairs{{"SQL", QStringLiteral("caf\u00e9")}};
    QTest::newRow("Windows-1252 euro sign is 0x80") << QByteArray("SQL=%80&") << Pairs{{"SQL", QStringLiteral("\u20ac")}};
    QTest::newRow("undefined byte 0x81 keeps its C1 control")
        << QByteArray("SQL=%81&") << Pairs{{"SQL", QStringLiteral("\u0081")}};
    QTest::newRow("raw byte taken as Windows-1252") << QByteArray("SQL=caf\xe9&") << Pairs{{"SQL", QStringLiteral("caf\u00e9")}};
    QTest::newRow("escaped NUL") << QByteArray("SQL=a%00b&") << Pairs{{"SQL", QStringView(u"a\0b", 3).toString()}};
    QTest::newRow("escaped field name") << QByteArray("S%51L=1&") << Pairs{{"SQL", "1"}};
    QTest::newRow("three fields in order")
        << QByteArray("SQL=1&SQL=2&other=3&") << Pairs{{"SQL", "1"}, {"SQL", "2"}, {"other", "3"}};
    QTest::newRow("empty pieces between fields are skipped")
        << QByteArray("SQL=1&&SQL=2&") << Pairs{{"SQL", "1"}, {"SQL", "2"}};
}

void TestFormDecoder::accepted()
{
    QFETCH(QByteArray, body);
    QFETCH(Pairs, fields);

    QList<FormField> decoded;
    FormDecoder::Error error;
    QVERIFY2(FormDecoder::decode(body, 100, &decoded, &error), qPrintable(error.reason));
    QCOMPARE(decoded.size(), fields.size());
    for (qsizetype i = 0; i < fields.size(); ++i) {
        QCOMPARE(decoded[i].name, fields[i].first);
        QCOMPARE(decoded[i].value, fields[i].second);
    }
}

void TestFormDecoder::refused_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("reasonPart");

    QTest::newRow("field without =") << QByteArray("SQL&") << 1 << "no '='";
    QTest::newRow("second field without =") << QByteArray("SQL=1&SQL2&") << 2 << "field 2";
    QTest::newRow("percent at the end") << QByteArray("SQL=abc%") << 1 << "malformed percent escape";
    QTest::newRow("percent with one digit") << QByteArray("SQL=abc%4") << 1 << "malformed percent escape";
    QTest::newRow("percent with one digit before &") << QByteArray("SQL=abc%4&") << 1 << "malformed percent escape";
    QTest::newRow("percent with non-hex digits") << QByteArray("SQL=%G1&") << 1 << "malformed percent escape";
    QTest::newRow("percent u escape") << QByteArray("SQL=%u00e9&") << 1 << "malformed percent escape";
    QTest::newRow("percent in the name") << QByteArray("S%Q=1&") << 1 << "field name";
    QTest::newRow("bad escape in third field") << QByteArray("SQL=1&SQL=2&SQL=%%&") << 3 << "field 3";
}

void TestFormDecoder::refused()
{
    QFETCH(QByteArray, body);
    QFETCH(int, field);
    QFETCH(QString, reasonPart);

    QList<FormField> decoded;
    FormDecoder::Error error;
    QVERIFY(!FormDecoder::decode(body, 100, &decoded, &error));
    QCOMPARE(error.field, field);
    QVERIFY2(error.reason.contains(reasonPart), qPrintable(error.reason));
}

void TestFormDecoder::fieldLimit()
{
    // A million tiny fields stop at the limit rather than being decoded.
    QByteArray body;
    for (int i = 0; i < 1000000; ++i)
        body += "a=&";
    QList<FormField> decoded;
    FormDecoder::Error error;
    QVERIFY(!FormDecoder::decode(body, 32767, &decoded, &error));
    QCOMPARE(error.field, 32768);
    QVERIFY2(error.reason.contains(u"too many fields"), qPrintable(error.reason));

    body = QByteArray("a=&").repeated(32767);
    QVERIFY(FormDecoder::decode(body, 32767, &decoded, &error));
    QCOMPARE(decoded.size(), 32767);
}

void TestFormDecoder::everyByteRoundTrips()
{
    for (int byte = 0; byte < 256; ++byte) {
        const QString text(QChar(VelmoraInternal::Windows1252::toUnicode(static_cast<unsigned char>(byte))));
        const QByteArray encoded = VelmoraInternal::urlEncode(text);
        QString decoded;
        QVERIFY2(FormDecoder::decodeComponent(encoded, &decoded), encoded.constData());
        QVERIFY2(decoded == text, qPrintable(QStringLiteral("byte %1 encoded as %2").arg(byte).arg(QString::fromLatin1(encoded))));
    }
}

void TestFormDecoder::randomTextsRoundTrip()
{
    // Texts of Windows-1252 characters only (what the control can send
    // unchanged), of random lengths, as whole fields of a body.
    QRandomGenerator random(4711);
    for (int round = 0; round < 500; ++round) {
        QString text;
        const int length = int(random.bounded(200));
        for (int i = 0; i < length; ++i)
            text += QChar(VelmoraInternal::Windows1252::toUnicode(static_cast<unsigned char>(random.bounded(256))));
        const QByteArray body = "SQL=" + VelmoraInternal::urlEncode(text) + "&SQL=" + VelmoraInternal::urlEncode(text.right(7)) + "&";
        QList<FormField> decoded;
        FormDecoder::Error error;
        QVERIFY2(FormDecoder::decode(body, 10, &decoded, &error), qPrintable(error.reason));
        QCOMPARE(decoded.size(), 2);
        QCOMPARE(decoded[0].value, text);
        QCOMPARE(decoded[1].value, text.right(7));
    }
}

QTEST_GUILESS_MAIN(TestFormDecoder)
#include "tst_formdecoder.moc"
