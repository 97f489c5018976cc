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

QStringList entries(const std::vector<CenterRecord> &records)
{
    QStringList list;
    for (const CenterRecord &r : records)
        list.append(r.id + u'|' + r.name);
    return list;
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

private slots:
    void readsCountsAndCentersByPosition_data();
    void readsCountsAndCentersByPosition();
    void refusesMalformedDocuments_data();
    void refusesMalformedDocuments();
    void readsUpToTheRecordLimit_data();
    void readsUpToTheRecordLimit();
    void refusesAnswerOverTheSizeLimit();
};

void TestCenterDocument::readsCountsAndCentersByPosition_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("nonSelectedCount");
    QTest::addColumn<int>("selectedCount");
    QTest::addColumn<QStringList>("nonSelected");
    QTest::addColumn<QStringList>("selected");

    QTest::newRow("records kept in document order")
        << document("3", "1", center("30", "Paint") + center("4", "Weld") + center("200", "Cut"),
                    center("12", "Pack"))
        << 3 << 1 << QStringList{"30|Paint", "4|Weld", "200|Cut"} << QStringList{"12|Pack"};
    QTest::newRow("counts differing from the records")
        << document("5", "2", center("1", "A") + center("2", "B") + center("3", "C"), "")
        << 5 << 2 << QStringList{"1|A", "2|B", "3|C"} << QStringList{};
    QTest::newRow("both lists empty")
        << document("0", "0", "", "") << 0 << 0 << QStringList{} << QStringList{};
    QTest::newRow("empty lists as empty elements")
        << QByteArray("<r><c><n><a>0</a><b>0</b></n></c><x/><y/></r>") << 0 << 0 << QStringList{} << QStringList{};
    QTest::newRow("whitespace between elements ignored")
        << QByteArray("<?xml version=\"1.0\"?>\n<r>\n  <c>\n\t<n>\n   <a>1</a>\r\n   <b>1</b>\n  </n>\n </c>\n"
                      " <x>\n  <e>\n   <i>7</i>\n   <m>Seven</m>\n  </e>\n </x>\n"
                      " <y>\n  <e> <i>8</i> <m>Eight</m> </e>\n </y>\n</r>\n")
        << 1 << 1 << QStringList{"7|Seven"} << QStringList{"8|Eight"};
    QTest::newRow("names and attributes not looked at")
        << QByteArray("<Q z=\"1\"><Selected><Zzz><P>2</P><P>0</P></Zzz></Selected>"
                      "<Selected kind=\"really not\"><foo><bar>5</bar><baz>Five</baz></foo>"
                      "<foo2 a=\"b\"><ID>6</ID><ID>Six</ID></foo2></Selected><Other/></Q>")
        << 2 << 0 << QStringList{"5|Five", "6|Six"} << QStringList{};
    QTest::newRow("children past the used positions ignored")
        << QByteArray("<r><c><n><a>1</a><b>0</b><extra>x</extra><!--c--></n><more/></c>"
                      "<x><e><i>3</i><m>Three</m><note>ignored</note><!--ignored--></e></x>"
                      "<y/><z>whatever</z><!--tail--></r>")
        << 1 << 0 << QStringList{"3|Three"} << QStringList{};
    QTest::newRow("prolog nodes outside the root do not shift positions")
        << document("0", "1", "", center("9", "Nine"),
                    "<?xml version=\"1.0\"?><?xml-stylesheet href=\"a.xsl\"?><!-- made by the server -->"
                    "<!DOCTYPE Centers>")
        << 0 << 1 << QStringList{} << QStringList{"9|Nine"};
    QTest::newRow("count with blanks around it")
        << document(" 5 ", "\n\t2\n", "", "") << 5 << 2 << QStringList{} << QStringList{};
    QTest::newRow("signed counts")
        << document("-3", "+4", "", "") << -3 << 4 << QStringList{} << QStringList{};
    QTest::newRow("counts at the 16-bit limits")
        << document("32767", "-32768", "", "") << 32767 << -32768 << QStringList{} << QStringList{};
    QTest::newRow("counts adding up to exactly 32,767")
        << document("32000", "767", "", "") << 32000 << 767 << QStringList{} << QStringList{};
    QTest::newRow("count is the whole text of its node")
        << document("<x>1</x><!--no text-->2<![CDATA[3]]>", "<?pi 9?>4", "", "")
        << 123 << 4 << QStringList{} << QStringList{};
    QTest::newRow("count given as CDATA")
        << document("<![CDATA[6]]>", "0", "", "") << 6 << 0 << QStringList{} << QStringList{};
    QTest::newRow("name in CDATA counts as its text")
        << document("1", "0", center("1", "<![CDATA[A & B <x>]]>"), "")
        << 1 << 0 << QStringList{"1|A & B <x>"} << QStringList{};
    QTest::newRow("name is the first child node only")
        << document("1", "0", center("1", "Acme<!--split-->Corp"), "")
        << 1 << 0 << QStringList{"1|Acme"} << QStringList{};
    QTest::newRow("name from a nested element is all its text")
        << document("1", "0", center("1", "<b>Big <i>red</i></b> Shop"), "")
        << 1 << 0 << QStringList{"1|Big red"} << QStringList{};
    QTest::newRow("name from a comment is the comment text")
        << document("1", "0", center("1", "<!--Hidden-->"), "")
        << 1 << 0 << QStringList{"1|Hidden"} << QStringList{};
    QTest::newRow("name kept with its blanks")
        << document("1", "0", center("1", "  Two  Blanks "), "")
        << 1 << 0 << QStringList{"1|  Two  Blanks "} << QStringList{};
    QTest::newRow("predefined entities and character references")
        << document("1", "0", center("1", "R&amp;D &lt;&gt;&quot;&apos; &#233;&#x20AC;&#65;"), "")
        << 1 << 0 << QStringList{QStringLiteral("1|R&D <>\"' \u00E9\u20ACA")} << QStringList{};
    QTest::newRow("ID in CDATA")
        << document("1", "0", "<c><i><![CDATA[77]]></i><n>N</n></c>", "")
        << 1 << 0 << QStringList{"77|N"} << QStringList{};
    QTest::newRow("ID with leading zeros kept as written")
        << document("1", "1", center("0042", "A"), center("-5", "B"))
        << 1 << 1 << QStringList{"0042|A"} << QStringList{"-5|B"};
    QTest::newRow("seven-digit ID")
        << document("0", "1", "", center("1234567", "Big"))
        << 0 << 1 << QStringList{} << QStringList{"1234567|Big"};
    QTest::newRow("UTF-8 without declaration")
        << document("1", "0", center("1", "Caf\xC3\xA9 \xE2\x82\xAC \xE4\xB8\xAD"), "", "")
        << 1 << 0 << QStringList{QStringLiteral("1|Caf\u00E9 \u20AC \u4E2D")} << QStringList{};
    QTest::newRow("UTF-8 with byte order mark")
        << document("1", "0", center("1", "Caf\xC3\xA9"), "", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>")
        << 1 << 0 << QStringList{QStringLiteral("1|Caf\u00E9")} << QStringList{};
    QTest::newRow("ISO-8859-1")
        << document("1", "0", center("1", "Caf\xE9 \x80"), "",
                    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>")
        << 1 << 0 << QStringList{QStringLiteral("1|Caf\u00E9 \u20AC")} << QStringList{};
    QTest::newRow("windows-1252")
        << document("1", "0", center("1", "\x93Quoted\x94 \x96 Na\xEFve \x9F"), "",
                    "<?xml version='1.0' encoding='windows-1252' standalone='yes'?>")
        << 1 << 0 << QStringList{QStringLiteral("1|\u201CQuoted\u201D \u2013 Na\u00EFve \u0178")} << QStringList{};
    QTest::newRow("encoding name in any case")
        << document("1", "0", center("1", "\xC5se"), "", "<?xml version=\"1.0\"\n encoding = \"LATIN1\" ?>")
        << 1 << 0 << QStringList{QStringLiteral("1|\u00C5se")} << QStringList{};
    QTest::newRow("UTF-16 little-endian")
        << utf16(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?><r><c><n><a>1</a><b>0</b></n></c>"
                                "<x><e><i>1</i><m>\u4E2D\u00E9</m></e></x><y/></r>"), false)
        << 1 << 0 << QStringList{QStringLiteral("1|\u4E2D\u00E9")} << QStringList{};
    QTest::newRow("UTF-16 big-endian")
        << utf16(QStringLiteral("<r><c><n><a>0</a><b>1</b></n></c><x/><y><e><i>2</i><m>\U0001F600</m></e></y></r>"), true)
        << 0 << 1 << QStringList{} << QStringList{QStringLiteral("2|\U0001F600")};
    QTest::newRow("entity declarations that are never used")
        << BillionLaughs + document("1", "0", center("1", "Plain"), "", "")
        << 1 << 0 << QStringList{"1|Plain"} << QStringList{};
    QTest::newRow("name nested 100,000 deep")
        << document("1", "0", center("1", nested(100000, "deep")), "")
        << 1 << 0 << QStringList{"1|deep"} << QStringList{};
}

void TestCenterDocument::readsCountsAndCentersByPosition()
{
    QFETCH(QByteArray, body);
    QFETCH(int, nonSelectedCount);
    QFETCH(int, selectedCount);
    QFETCH(QStringList, nonSelected);
    QFETCH(QStringList, selected);

    CenterDocument doc;
    QString error = "stale";
    QVERIFY2(CenterDocumentReader::read(body, &doc, &error), qPrintable(error));
    QVERIFY(error.isEmpty());
    QCOMPARE(int(doc.nonSelectedCount), nonSelectedCount);
    QCOMPARE(int(doc.selectedCount), selectedCount);
    QCOMPARE(entries(doc.nonSelected), nonSelected);
    QCOMPARE(entries(doc.selected), selected);
}

void TestCenterDocument::refusesMalformedDocuments_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("reason");      // part of the reason given
    QTest::addColumn<bool>("countsRead");
    QTest::addColumn<int>("nonSelectedKept"); // records read before the failure
    QTest::addColumn<int>("selectedKept");

    const QByteArray two = center("1", "One") + center("2", "Two");

    QTest::newRow("empty answer") << QByteArray() << "The server's answer is empty" << false << 0 << 0;
    QTest::newRow("plain text")
        << QByteArray("Service Unavailable") << "The server's answer is not XML: it has no document element"
        << false << 0 << 0;
    QTest::newRow("HTML error page")
        << QByteArray("<html><body><p>Internal error<br></body></html>")
        << "The server's answer is not XML: " << false << 0 << 0;
    QTest::newRow("mismatched tag reported with line and column")
        << QByteArray("<r>\n<c>\n  <n></m>\n</c>\n</r>")
        << "at line 3, column " << false << 0 << 0;
    QTest::newRow("unclosed document")
        << QByteArray("<r><c><n><a>1</a>") << "The server's answer is not XML: " << false << 0 << 0;
    QTest::newRow("second document element")
        << document("0", "0", "", "") + "<Centers/>"
        << "a second document element" << false << 0 << 0;
    QTest::newRow("100,000 unclosed elements")
        << QByteArray("<a>").repeated(100000) << "The server's answer is not XML: " << false << 0 << 0;
    QTest::newRow("no counts element")
        << QByteArray("<r/>") << "The center document has no counts element (root node 1)" << false << 0 << 0;
    QTest::newRow("no counts record")
        << QByteArray("<r><c/><x/><y/></r>") << "The center document has no counts record (root node 1, child 1)"
        << false << 0 << 0;
    QTest::newRow("only one count")
        << QByteArray("<r><c><n><a>1</a></n></c><x/><y/></r>")
        << "The center document has no count of selected centers" << false << 0 << 0;
    QTest::newRow("count not a number")
        << document("abc", "0", "", "") << "The count of non-selected centers \"abc\" is not a number"
        << false << 0 << 0;
    QTest::newRow("count empty")
        << document("", "0", "", "") << "The count of non-selected centers \"\" is not a number"
        << false << 0 << 0;
    QTest::newRow("count with a fraction")
        << document("1", "1.5", "", "") << "The count of selected centers \"1.5\" is not a number"
        << false << 0 << 0;
    QTest::newRow("count with a blank inside")
        << document("1 2", "0", "", "") << "is not a number" << false << 0 << 0;
    QTest::newRow("count above 16 bits")
        << document("32768", "0", "", "") << "\"32768\" lies outside -32,768 to 32,767" << false << 0 << 0;
    QTest::newRow("count below 16 bits")
        << document("0", "-32769", "", "") << "\"-32769\" lies outside -32,768 to 32,767" << false << 0 << 0;
    QTest::newRow("count with twenty digits")
        << document("99999999999999999999", "0", "", "") << "lies outside -32,768 to 32,767" << false << 0 << 0;
    QTest::newRow("counts adding up past 32,767")
        << document("20000", "20000", "", "") << "The counts add up to 40000, more than 32,767" << false << 0 << 0;
    QTest::newRow("counts adding up past 32,767 by one")
        << document("32767", "1", "", "") << "The counts add up to 32768, more than 32,767" << false << 0 << 0;
    QTest::newRow("counts adding up below -32,768")
        << document("-20000", "-20000", "", "") << "The counts add up to -40000, less than -32,768"
        << false << 0 << 0;
    QTest::newRow("no non-selected list")
        << QByteArray("<r><c><n><a>1</a><b>0</b></n></c></r>")
        << "The center document has no list of non-selected centers (root node 2)" << true << 0 << 0;
    QTest::newRow("no selected list")
        << QByteArray("<r><c><n><a>1</a><b>0</b></n></c><x>") + center("1", "One") + "</x></r>"
        << "The center document has no list of selected centers (root node 3)" << true << 1 << 0;
    QTest::newRow("comment between records")
        << document("3", "0", center("1", "One") + "<!-- retired: 2 -->" + center("3", "Three"), "")
        << "Center record 2 of the non-selected centers is a comment, not a center record" << true << 1 << 0;
    QTest::newRow("text between records")
        << document("2", "0", center("1", "One") + "stray" + center("3", "Three"), "")
        << "Center record 2 of the non-selected centers is text, not a center record" << true << 1 << 0;
    QTest::newRow("processing instruction as a record")
        << document("0", "1", "", "<?skip this?>")
        << "Center record 1 of the selected centers is a processing instruction" << true << 0 << 0;
    QTest::newRow("record with one child")
        << document("0", "1", "", center("5", "Five") + "<Center><ID>6</ID></Center>")
        << "Center record 2 of the selected centers has an ID field but no name field" << true << 0 << 1;
    QTest::newRow("record without children")
        << document("1", "0", "<Center/>", "") << "Center record 1 of the non-selected centers has neither an ID nor a name"
        << true << 0 << 0;
    QTest::newRow("empty name element")
        << document("2", "0", two + "<Center><ID>3</ID><Name/></Center>", "")
        << "Center record 3 of the non-selected centers has no name" << true << 2 << 0;
    QTest::newRow("name element holding only blanks")
        << document("1", "0", "<Center><ID>3</ID><Name>  \n </Name></Center>", "")
        << "Center record 1 of the non-selected centers has no name" << true << 0 << 0;
    QTest::newRow("empty ID element")
        << document("0", "1", "", "<Center><ID></ID><Name>X</Name></Center>")
        << "Center record 1 of the selected centers has no ID" << true << 0 << 0;
    QTest::newRow("non-numeric ID")
        << document("0", "1", "", center("12);DELETE FROM x;--", "X"))
        << "Center record 1 of the selected centers has the ID \"12);DELETE FROM x;--\", which is not a whole number"
        << true << 0 << 0;
    QTest::newRow("ID with blanks")
        << document("1", "0", center(" 12 ", "X"), "")
        << "has the ID \" 12 \", which is not a whole number" << true << 0 << 0;
    QTest::newRow("bad record in the selected list keeps the other list")
        << document("2", "2", two, center("3", "Three") + center("x", "Bad"))
        << "Center record 2 of the selected centers has the ID \"x\"" << true << 2 << 1;
    QTest::newRow("one record more than 32,767")
        << document("0", "0", manyCenters(32768), "") << "The center document lists more than 32,767 centers"
        << true << 32768 << 0;
    QTest::newRow("records past 32,767 across both lists")
        << document("0", "0", manyCenters(20000), manyCenters(12768, 20001))
        << "The center document lists more than 32,767 centers" << true << 20000 << 12768;
    QTest::newRow("entity the document does not declare")
        << document("1", "0", center("1", "A&nbsp;B"), "") << "&nbsp;" << false << 0 << 0;
    QTest::newRow("billion laughs")
        << BillionLaughs + document("1", "0", center("1", "&lol9;"), "", "")
        << "The server's answer uses the entity &lol9; in the text at line 14, column " << false << 0 << 0;
    QTest::newRow("external entity")
        << "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>"
           + document("1", "0", center("1", "&xxe;"), "", "")
        << "&xxe;" << false << 0 << 0;
    QTest::newRow("entity in an unread attribute")
        << QByteArray("<r a=\"&boom;\"><c><n><a>0</a><b>0</b></n></c><x/><y/></r>") << "&boom;" << false << 0 << 0;
    QTest::newRow("bare ampersand")
        << document("1", "0", center("1", "A & B"), "") << "a '&' in the text at line 1, column 157 does not start a reference" << false << 0 << 0;
    QTest::newRow("character reference to NUL")
        << document("1", "0", center("1", "&#0;"), "") << "&#0;" << false << 0 << 0;
    QTest::newRow("character reference with upper-case X")
        << document("1", "0", center("1", "&#X41;"), "") << "&#X41;" << false << 0 << 0;
    QTest::newRow("character reference past Unicode")
        << document("1", "0", center("1", "&#x110000;"), "") << "&#x110000;" << false << 0 << 0;
    QTest::newRow("invalid UTF-8")
        << QByteArray("<r>\xC3\x28</r>") << "The server's answer is not valid UTF-8 at byte 3" << false << 0 << 0;
    QTest::newRow("Latin-1 without declaration")
        << document("1", "0", center("1", "Caf\xE9"), "", "")
        << "The server's answer is not valid UTF-8 at byte " << false << 0 << 0;
    QTest::newRow("overlong UTF-8")
        << QByteArray("<r>\xC0\xAF</r>") << "not valid UTF-8 at byte 3" << false << 0 << 0;
    QTest::newRow("UTF-8 encoded surrogate")
        << QByteArray("<r>\xED\xA0\x80</r>") << "not valid UTF-8 at byte 3" << false << 0 << 0;
    QTest::newRow("UTF-8 cut short at the end")
        << QByteArray("<r/>\xE2\x82") << "not valid UTF-8 at byte 4" << false << 0 << 0;
    QTest::newRow("NUL byte")
        << QByteArray("<r>a\0b</r>", 10) << "the control character 0x00 at byte 4" << false << 0 << 0;
    QTest::newRow("control character in a Latin-1 document")
        << QByteArray("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><r>\x01</r>")
        << "the control character 0x01 at byte 46" << false << 0 << 0;
    QTest::newRow("encoding the control does not read")
        << QByteArray("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><r/>")
        << "declares the encoding \"shift_jis\"" << false << 0 << 0;
    QTest::newRow("UTF-32")
        << QByteArray("\xFF\xFE\0\0<\0\0\0", 8) << "UTF-32" << false << 0 << 0;
    QTest::newRow("UTF-16 with a lone surrogate")
        << utf16(QStringLiteral("<r>") + QChar(0xDC00) + QStringLiteral("</r>"), false)
        << "not valid UTF-16 at byte 8" << false << 0 << 0;
}

void TestCenterDocument::refusesMalformedDocuments()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, reason);
    QFETCH(bool, countsRead);
    QFETCH(int, nonSelectedKept);
    QFETCH(int, selectedKept);

    CenterDocument doc;
    QString error;
    QVERIFY(!CenterDocumentReader::read(body, &doc, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    Q_UNUSED(countsRead);
    Q_UNUSED(nonSelectedKept);
    Q_UNUSED(selectedKept);
}

void TestCenterDocument::readsUpToTheRecordLimit_data()
{
    QTest::addColumn<int>("nonSelected");
    QTest::addColumn<int>("selected");

    QTest::newRow("all in the non-selected list") << 32767 << 0;
    QTest::newRow("all in the selected list") << 0 << 32767;
    QTest::newRow("split over both lists") << 20000 << 12767;
}

void TestCenterDocument::readsUpToTheRecordLimit()
{
    QFETCH(int, nonSelected);
    QFETCH(int, selected);

    const QByteArray body = document("0", "0", manyCenters(nonSelected), manyCenters(selected, nonSelected + 1));
    CenterDocument doc;
    QString error;
    QVERIFY2(CenterDocumentReader::read(body, &doc, &error), qPrintable(error));
    QCOMPARE(int(doc.nonSelected.size()), nonSelected);
    QCOMPARE(int(doc.selected.size()), selected);
    const CenterRecord &last = selected > 0 ? doc.selected.back() : doc.nonSelected.back();
    QCOMPARE(last.id, QStringLiteral("32767"));
}

void TestCenterDocument::refusesAnswerOverTheSizeLimit()
{
    const QByteArray head = document("0", "0", "", "");
    const QByteArray body = head + QByteArray(CenterDocumentReader::MaxDocumentBytes - head.size() + 1, ' ');

    CenterDocument doc;
    QString error;
    QVERIFY(!CenterDocumentReader::read(body, &doc, &error));
    QVERIFY2(error.contains("more than the 67,108,864 bytes"), qPrintable(error));

    // One byte less is read.
    QVERIFY2(CenterDocumentReader::read(body.chopped(1), &doc, &error), qPrintable(error));
}

QTEST_APPLESS_MAIN(TestCenterDocument)
#include "tst_centerdocument.moc"
