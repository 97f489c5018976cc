// The center document reader: nodes found by position only, the counts and
// their limits, malformed records, character encodings, and answers that are
// not XML or are built to hurt the reader.
#include "core/centerdocument.h"

#include <QtTest>

using namespace VelmoraInternal;

namespace {

QByteArray center(const QByteArray &id, const QByteArray &name)
{
    return "<Center><ID>" + id + "</ID><Name>" + name + "</Name></Center>";
}

// A document in the shape the server page writes; lists are given as the
// raw XML of their records.
QByteArray document(const QByteArray &nonSelectedCount, const QByteArray &selectedCount,
                    const QByteArray &nonSelected, const QByteArray &selected,
                    const QByteArray &prolog = "<?xml version=\"1.0\"?>")
{
    return prolog + "<Centers><Counts><Count><NonSelected>" + nonSelectedCount
        + "</NonSelected><Selected>" + selectedCount + "</Selected></Count></Counts>"
        + "<NonSelectedCenters>" + nonSelected + "</NonSelectedCenters>"
        + "<SelectedCenters>" + selected + "</SelectedCenters></Centers>";
}

QByteArray manyCenters(int count, int firstId = 1)
{
    QByteArray xml;
    for (int i = 0; i < count; ++i)
        xml += center(QByteArray::number(firstId + i), "C");
    return xml;
}

// "counts / records of the unassigned list / records of the assigned list".
QString summary(const CenterDocument &doc)
{
    QString text = QStringLiteral("%1 %2 /").arg(doc.nonSelectedCount).arg(doc.selectedCount);
    for (const auto *list : {&doc.nonSelected, &doc.selected}) {
        for (const CenterRecord &r : *list)
            text += u' ' + r.id + u'|' + r.name;
        text += QStringLiteral(" /");
    }
    return text;
}

QByteArray utf16(const QString &text, bool bigEndian)
{
    QByteArray bytes = bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (QChar c : text) {
        const char hi = char(c.unicode() >> 8);
        const char lo = char(c.unicode() & 0xFF);
        bytes.append(bigEndian ? hi : lo);
        bytes.append(bigEndian ? lo : hi);
    }
    return bytes;
}

QByteArray nested(int depth, const QByteArray &inner)
{
    return QByteArray("<a>").repeated(depth) + inner + QByteArray("</a>").repeated(depth);
}

const QByteArray BillionLaughs =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE lolz [\n"
    " <!ENTITY lol \"lol\">\n"
    " <!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
    " <!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">\n"
    " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
    " <!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">\n"
    " <!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">\n"
    " <!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">\n"
    " <!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">\n"
    " <!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">\n"
    " <!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">\n"
    "]>\n";

} // namespace

class TestCenterDocument : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsByPositionOrRefuses_data();
    void readsByPositionOrRefuses();
    void readsUpToTheRecordLimit();
    void refusesAnswerOverTheSizeLimit();
};

void TestCenterDocument::readsByPositionOrRefuses_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected"); // summary() of what is read, or "!" and part of the reason

    const QByteArray two = center("1", "One") + center("2", "Two");
    QTest::newRow("records kept in document order")
        << document("3", "1", center("30", "Paint") + center("4", "Weld") + center("200", "Cut"),
                    center("12", "Pack"))
        << QStringLiteral("3 1 / 30|Paint 4|Weld 200|Cut / 12|Pack /");
    QTest::newRow("counts differing from the records")
        << document("5", "2", center("1", "A") + center("2", "B") + center("3", "C"), "")
        << QStringLiteral("5 2 / 1|A 2|B 3|C / /");
    QTest::newRow("both lists empty")
        << document("0", "0", "", "")
        << QStringLiteral("0 0 / / /");
    QTest::newRow("empty lists as empty elements")
        << QByteArray("<r><c><n><a>0</a><b>0</b></n></c><x/><y/></r>")
        << QStringLiteral("0 0 / / /");
    QTest::newRow("whitespace between elements ignored")
        << QByteArray("<?xml version=\"1.0\"?>\n<r>\n  <c>\n\t<n>\n   <a>1</a>\r\n   <b>1</b>\n  </n>\n </c>\n"
                      " <x>\n  <e>\n   <i>7</i>\n   <m>Seven</m>\n  </e>\n </x>\n"
                      " <y>\n  <e> <i>8</i> <m>Eight</m> </e>\n </y>\n</r>\n")
        << QStringLiteral("1 1 / 7|Seven / 8|Eight /");
    QTest::newRow("names and attributes not looked at")
        << QByteArray("<Q z=\"1\"><Selected><Zzz><P>2</P><P>0</P></Zzz></Selected>"
                      "<Selected kind=\"really not\"><foo><bar>5</bar><baz>Five</baz></foo>"
                      "<foo2 a=\"b\"><ID>6</ID><ID>Six</ID></foo2></Selected><Other/></Q>")
        << QStringLiteral("2 0 / 5|Five 6|Six / /");
    QTest::newRow("children past the used positions ignored")
        << QByteArray("<r><c><n><a>1</a><b>0</b><extra>x</extra><!--c--></n><more/></c>"
                      "<x><e><i>3</i><m>Three</m><note>ignored</note><!--ignored--></e></x>"
                      "<y/><z>whatever</z><!--tail--></r>")
        << QStringLiteral("1 0 / 3|Three / /");
    QTest::newRow("prolog nodes outside the root do not shift positions")
        << document("0", "1", "", center("9", "Nine"),
                    "<?xml version=\"1.0\"?><?xml-stylesheet href=\"a.xsl\"?><!-- made by the server -->"
                    "<!DOCTYPE Centers>")
        << QStringLiteral("0 1 / / 9|Nine /");
    QTest::newRow("count with blanks around it")
        << document(" 5 ", "\n\t2\n", "", "")
        << QStringLiteral("5 2 / / /");
    QTest::newRow("signed counts")
        << document("-3", "+4", "", "")
        << QStringLiteral("-3 4 / / /");
    QTest::newRow("counts at the 16-bit limits")
        << document("32767", "-32768", "", "")
        << QStringLiteral("32767 -32768 / / /");
    QTest::newRow("counts adding up to exactly 32,767")
        << document("32000", "767", "", "")
        << QStringLiteral("32000 767 / / /");
    QTest::newRow("count is the whole text of its node")
        << document("<x>1</x><!--no text-->2<![CDATA[3]]>", "<?pi 9?>4", "", "")
        << QStringLiteral("123 4 / / /");
    QTest::newRow("count given as CDATA")
        << document("<![CDATA[6]]>", "0", "", "")
        << QStringLiteral("6 0 / / /");
    QTest::newRow("name in CDATA counts as its text")
        << document("1", "0", center("1", "<![CDATA[A & B <x>]]>"), "")
        << QStringLiteral("1 0 / 1|A & B <x> / /");
    QTest::newRow("name is the first child node only")
        << document("1", "0", center("1", "Acme<!--split-->Corp"), "")
        << QStringLiteral("1 0 / 1|Acme / /");
    QTest::newRow("name from a nested element is all its text")
        << document("1", "0", center("1", "<b>Big <i>red</i></b> Shop"), "")
        << QStringLiteral("1 0 / 1|Big red / /");
    QTest::newRow("name from a comment is the comment text")
        << document("1", "0", center("1", "<!--Hidden-->"), "")
        << QStringLiteral("1 0 / 1|Hidden / /");
    QTest::newRow("name kept with its blanks")
        << document("1", "0", center("1", "  Two  Blanks "), "")
        << QStringLiteral("1 0 / 1|  Two  Blanks  / /");
    QTest::newRow("predefined entities and character references")
        << document("1", "0", center("1", "R&amp;D &lt;&gt;&quot;&apos; &#233;&#x20AC;&#65;"), "")
        << QStringLiteral("1 0 / 1|R&D <>\"' \u00E9\u20ACA / /");
    QTest::newRow("ID in CDATA")
        << document("1", "0", "<c><i><![CDATA[77]]></i><n>N</n></c>", "")
        << QStringLiteral("1 0 / 77|N / /");
    QTest::newRow("ID with leading zeros kept as written")
        << document("1", "1", center("0042", "A"), center("-5", "B"))
        << QStringLiteral("1 1 / 0042|A / -5|B /");
    QTest::newRow("seven-digit ID")
        << document("0", "1", "", center("1234567", "Big"))
        << QStringLiteral("0 1 / / 1234567|Big /");
    QTest::newRow("UTF-8 without declaration")
        << document("1", "0", center("1", "Caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD"), "", "")
        << QStringLiteral("1 0 / 1|Caf\u00E9 \u20AC \u4E2D / /");
    QTest::newRow("UTF-8 with byte order mark")
        << document("1", "0", center("1", "Caf\xC3\xA9"), "", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>")
        << QStringLiteral("1 0 / 1|Caf\u00E9 / /");
    QTest::newRow("ISO-8859-1")
        << document("1", "0", center("1", "Caf\xE9 \x80"), "",
                    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>")
        << QStringLiteral("1 0 / 1|Caf\u00E9 \u20AC / /");
    QTest::newRow("windows-1252")
        << document("1", "0", center("1", "\x93Quoted\x94 \x96 Na\xEFve \x9F"), "",
                    "<?xml version='1.0' encoding='windows-1252' standalone='yes'?>")
        << QStringLiteral("1 0 / 1|\u201CQuoted\u201D \u2013 Na\u00EFve \u0178 / /");
    QTest::newRow("encoding name in any case")
        << document("1", "0", center("1", "\xC5se"), "", "<?xml version=\"1.0\"\n encoding = \"LATIN1\" ?>")
        << QStringLiteral("1 0 / 1|\u00C5se / /");
    QTest::newRow("UTF-16 little-endian")
        << utf16(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><r><c><n><a>1</a><b>0</b></n></c>"
                                "<x><e><i>1</i><m>\u4E2D\u00E9</m></e></x><y/></r>"), false)
        << QStringLiteral("1 0 / 1|\u4E2D\u00E9 / /");
    QTest::newRow("UTF-16 big-endian")
        << utf16(QStringLiteral("<r><c><n><a>0</a><b>1</b></n></c><x/><y><e><i>2</i><m>\U0001F600</m></e></y></r>"), true)
        << QStringLiteral("0 1 / / 2|\U0001F600 /");
    QTest::newRow("entity declarations that are never used")
        << BillionLaughs + document("1", "0", center("1", "Plain"), "", "")
        << QStringLiteral("1 0 / 1|Plain / /");
    QTest::newRow("name nested 100,000 deep")
        << document("1", "0", center("1", nested(100000, "deep")), "")
        << QStringLiteral("1 0 / 1|deep / /");
    QTest::newRow("empty answer")
        << QByteArray()
        << QStringLiteral("!The server's answer is empty");
    QTest::newRow("plain text")
        << QByteArray("Service Unavailable")
        << QStringLiteral("!The server's answer is not XML: it has no document element");
    QTest::newRow("HTML error page")
        << QByteArray("<html><body><p>Internal error<br></body></html>")
        << QStringLiteral("!The server's answer is not XML: ");
    QTest::newRow("mismatched tag reported with line and column")
        << QByteArray("<r>\n<c>\n  <n></m>\n</c>\n</r>")
        << QStringLiteral("!at line 3, column ");
    QTest::newRow("second document element")
        << document("0", "0", "", "") + "<Centers/>"
        << QStringLiteral("!a second document element");
    QTest::newRow("100,000 unclosed elements")
        << QByteArray("<a>").repeated(100000)
        << QStringLiteral("!The server's answer is not XML: ");
    QTest::newRow("no counts element")
        << QByteArray("<r/>")
        << QStringLiteral("!The center document has no counts element (root node 1)");
    QTest::newRow("no counts record")
        << QByteArray("<r><c/><x/><y/></r>")
        << QStringLiteral("!The center document has no counts record (root node 1, child 1)");
    QTest::newRow("only one count")
        << QByteArray("<r><c><n><a>1</a></n></c><x/><y/></r>")
        << QStringLiteral("!The center document has no count of selected centers");
    QTest::newRow("count not a number")
        << document("abc", "0", "", "")
        << QStringLiteral("!The count of non-selected centers \"abc\" is not a number");
    QTest::newRow("count with a fraction")
        << document("1", "1.5", "", "")
        << QStringLiteral("!The count of selected centers \"1.5\" is not a number");
    QTest::newRow("count above 16 bits")
        << document("32768", "0", "", "")
        << QStringLiteral("!\"32768\" lies outside -32,768 to 32,767");
    QTest::newRow("count below 16 bits")
        << document("0", "-32769", "", "")
        << QStringLiteral("!\"-32769\" lies outside -32,768 to 32,767");
    QTest::newRow("count with twenty digits")
        << document("99999999999999999999", "0", "", "")
        << QStringLiteral("!lies outside -32,768 to 32,767");
    QTest::newRow("counts adding up past 32,767")
        << document("20000", "20000", "", "")
        << QStringLiteral("!The counts add up to 40000, more than 32,767");
    QTest::newRow("counts adding up past 32,767 by one")
        << document("32767", "1", "", "")
        << QStringLiteral("!The counts add up to 32768, more than 32,767");
    QTest::newRow("counts adding up below -32,768")
        << document("-20000", "-20000", "", "")
        << QStringLiteral("!The counts add up to -40000, less than -32,768");
    QTest::newRow("no non-selected list")
        << QByteArray("<r><c><n><a>1</a><b>0</b></n></c></r>")
        << QStringLiteral("!The center document has no list of non-selected centers (root node 2)");
    QTest::newRow("no selected list")
        << QByteArray("<r><c><n><a>1</a><b>0</b></n></c><x>") + center("1", "One") + "</x></r>"
        << QStringLiteral("!The center document has no list of selected centers (root node 3)");
    QTest::newRow("comment between records")
        << document("3", "0", center("1", "One") + "<!-- retired: 2 -->" + center("3", "Three"), "")
        << QStringLiteral("!Center record 2 of the non-selected centers is a comment, not a center record");
    QTest::newRow("text between records")
        << document("2", "0", center("1", "One") + "stray" + center("3", "Three"), "")
        << QStringLiteral("!Center record 2 of the non-selected centers is text, not a center record");
    QTest::newRow("processing instruction as a record")
        << document("0", "1", "", "<?skip this?>")
        << QStringLiteral("!Center record 1 of the selected centers is a processing instruction");
    QTest::newRow("record with one child")
        << document("0", "1", "", center("5", "Five") + "<Center><ID>6</ID></Center>")
        << QStringLiteral("!Center record 2 of the selected centers has an ID field but no name field");
    QTest::newRow("record without children")
        << document("1", "0", "<Center/>", "")
        << QStringLiteral("!Center record 1 of the non-selected centers has neither an ID nor a name");
    QTest::newRow("empty name element")
        << document("2", "0", two + "<Center><ID>3</ID><Name/></Center>", "")
        << QStringLiteral("!Center record 3 of the non-selected centers has no name");
    QTest::newRow("name element holding only blanks")
        << document("1", "0", "<Center><ID>3</ID><Name>  \n </Name></Center>", "")
        << QStringLiteral("!Center record 1 of the non-selected centers has no name");
    QTest::newRow("empty ID element")
        << document("0", "1", "", "<Center><ID></ID><Name>X</Name></Center>")
        << QStringLiteral("!Center record 1 of the selected centers has no ID");
    QTest::newRow("non-numeric ID")
        << document("0", "1", "", center("12);DELETE FROM x;--", "X"))
        << QStringLiteral("!Center record 1 of the selected centers has the ID \"12);DELETE FROM x;--\", which is not a whole number");
    QTest::newRow("ID with blanks")
        << document("1", "0", center(" 12 ", "X"), "")
        << QStringLiteral("!has the ID \" 12 \", which is not a whole number");
    QTest::newRow("bad record in the selected list keeps the other list")
        << document("2", "2", two, center("3", "Three") + center("x", "Bad"))
        << QStringLiteral("!Center record 2 of the selected centers has the ID \"x\"");
    QTest::newRow("one record more than 32,767")
        << document("0", "0", manyCenters(32768), "")
        << QStringLiteral("!The center document lists more than 32,767 centers");
    QTest::newRow("records past 32,767 across both lists")
        << document("0", "0", manyCenters(20000), manyCenters(12768, 20001))
        << QStringLiteral("!The center document lists more than 32,767 centers");
    QTest::newRow("entity the document does not declare")
        << document("1", "0", center("1", "A&nbsp;B"), "")
        << QStringLiteral("!&nbsp;");
    QTest::newRow("billion laughs")
        << BillionLaughs + document("1", "0", center("1", "&lol9;"), "", "")
        << QStringLiteral("!The server's answer uses the entity &lol9; in the text at line 14, column ");
    QTest::newRow("external entity")
        << "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>"
           + document("1", "0", center("1", "&xxe;"), "", "")
        << QStringLiteral("!&xxe;");
    QTest::newRow("entity in an unread attribute")
        << QByteArray("<r a=\"&boom;\"><c><n><a>0</a><b>0</b></n></c><x/><y/></r>")
        << QStringLiteral("!&boom;");
    QTest::newRow("bare ampersand")
        << document("1", "0", center("1", "A & B"), "")
        << QStringLiteral("!a '&' in the text at line 1, column 157 does not start a reference");
    QTest::newRow("character reference to NUL")
        << document("1", "0", center("1", "&#0;"), "")
        << QStringLiteral("!&#0;");
    QTest::newRow("character reference with upper-case X")
        << document("1", "0", center("1", "&#X41;"), "")
        << QStringLiteral("!&#X41;");
    QTest::newRow("character reference past Unicode")
        << document("1", "0", center("1", "&#x110000;"), "")
        << QStringLiteral("!&#x110000;");
    QTest::newRow("invalid UTF-8")
        << QByteArray("<r>\xC3\x28</r>")
        << QStringLiteral("!The server's answer is not valid UTF-8 at byte 3");
    QTest::newRow("Latin-1 without declaration")
        << document("1", "0", center("1", "Caf\xE9"), "", "")
        << QStringLiteral("!The server's answer is not valid UTF-8 at byte ");
    QTest::newRow("overlong UTF-8")
        << QByteArray("<r>\xC0\xAF</r>")
        << QStringLiteral("!not valid UTF-8 at byte 3");
    QTest::newRow("UTF-8 encoded surrogate")
        << QByteArray("<r>\xED\xA0\x80</r>")
        << QStringLiteral("!not valid UTF-8 at byte 3");
    QTest::newRow("UTF-8 cut short at the end")
        << QByteArray("<r/>\xE2\x82")
        << QStringLiteral("!not valid UTF-8 at byte 4");
    QTest::newRow("NUL byte")
        << QByteArray("<r>a\0b</r>", 10)
        << QStringLiteral("!the control character 0x00 at byte 4");
    QTest::newRow("control character in a Latin-1 document")
        << QByteArray("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><r>\x01</r>")
        << QStringLiteral("!the control character 0x01 at byte 46");
    QTest::newRow("encoding the control does not read")
        << QByteArray("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r/>")
        << QStringLiteral("!declares the encoding \"shift_jis\"");
    QTest::newRow("UTF-32")
        << QByteArray("\xFF\xFE\0\0<\0\0\0", 8)
        << QStringLiteral("!UTF-32");
    QTest::newRow("UTF-16 with a lone surrogate")
        << utf16(QStringLiteral("<r>") + QChar(0xDC00) + QStringLiteral("</r>"), false)
        << QStringLiteral("!not valid UTF-16 at byte 8");
}

void TestCenterDocument::readsByPositionOrRefuses()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);

    CenterDocument doc;
    QString error = QStringLiteral("stale");
    const bool read = CenterDocumentReader::read(body, &doc, &error);
    if (expected.startsWith(u'!')) {
        QVERIFY(!read);
        QVERIFY2(error.contains(expected.mid(1)), qPrintable(error));
    } else {
        QVERIFY2(read, qPrintable(error));
        QVERIFY(error.isEmpty());
        QCOMPARE(summary(doc), expected);
    }
}

void TestCenterDocument::readsUpToTheRecordLimit()
{
    // 32,767 records across both lists are read; the last one is kept.
    const QByteArray body = document("0", "0", manyCenters(20000), manyCenters(12767, 20001));
    CenterDocument doc;
    QString error;
    QVERIFY2(CenterDocumentReader::read(body, &doc, &error), qPrintable(error));
    QCOMPARE(int(doc.nonSelected.size()), 20000);
    QCOMPARE(doc.selected.back().id, QStringLiteral("32767"));
}

void TestCenterDocument::refusesAnswerOverTheSizeLimit()
{
    const QByteArray head = document("0", "0", "", "");
    const QByteArray body = head + QByteArray(CenterDocumentReader::MaxDocumentBytes - head.size() + 1, ' ');
    CenterDocument doc;
    QString error;
    QVERIFY(!CenterDocumentReader::read(body, &doc, &error));
    QVERIFY2(error.contains("more than the 67,108,864 bytes"), qPrintable(error));
    QVERIFY2(CenterDocumentReader::read(body.chopped(1), &doc, &error), qPrintable(error));
}

QTEST_APPLESS_MAIN(TestCenterDocument)
#include "tst_centerdocument.moc"
