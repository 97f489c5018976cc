// The center document reader: nodes found by position only, the counts and
// their limits, malformed records, character encodings, and answers that are
// not XML, are built to hurt the reader or are past the size limit. The
// documents of the table are files in documents/ or written in
// documents/expected.txt, which says what each one reads as.
#include "core/centerdocument.h"
#include "testtable.h"

#include <QtTest>

using namespace VelmoraInternal;

// "counts / records of the unassigned list / records of the assigned list".
static QString summary(const CenterDocument &doc)
{
    QString text = QStringLiteral("%1 %2 /").arg(doc.nonSelectedCount).arg(doc.selectedCount);
    for (const auto *list : {&doc.nonSelected, &doc.selected}) {
        for (const CenterRecord &r : *list)
            text += u' ' + r.id.text() + u'|' + r.name;
        text += QStringLiteral(" /");
    }
    return text;
}

class TestCenterDocument : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsByPositionOrRefuses_data() { TestTable::load(VELMORA_TABLES "/documents/expected.txt"); }
    void readsByPositionOrRefuses();
};

void TestCenterDocument::readsByPositionOrRefuses()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);
    QFile file(QStringLiteral(VELMORA_TABLES "/documents/") + QLatin1String(QTest::currentDataTag()) + QStringLiteral(".xml"));
    if (body.isNull() && file.open(QIODevice::ReadOnly))
        body = file.readAll();

    CenterDocument doc;
    QString error = QStringLiteral("stale");
    const bool read = CenterDocumentReader::read(body, &doc, &error);
    if (expected == u"!") { // the limit itself: read, last record kept
        QVERIFY2(read, qPrintable(error));
        QCOMPARE(doc.selected.back().id.text(), QStringLiteral("32767"));
    } else if (expected.startsWith(u'!')) {
        QVERIFY(!read);
        QVERIFY2(error.contains(expected.mid(1)), qPrintable(error));
    } else {
        QVERIFY2(read, qPrintable(error));
        QVERIFY(error.isEmpty());
        QCOMPARE(summary(doc), expected);
    }
}

QTEST_APPLESS_MAIN(TestCenterDocument)
#include "tst_centerdocument.moc"
