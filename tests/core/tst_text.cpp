// The texts a commit is made of: center keys and their markers, the form
// encoding on the Windows-1252 code page, the statements and the body (rows in
// keys.txt, fields.txt and changes.txt); and addresses with their passwords
// masked (addresses.txt); the catalogue for the operator's languages
// (catalogues.txt).
#include "core/centerid.h"
#include "core/centerkey.h"
#include "core/centerlistmodel.h"
#include "core/changeset.h"
#include "core/uilanguage.h"
#include "protocol/formencoding.h"
#include "protocol/maskedaddress.h"
#include "testtable.h"

#include <QtTest>

using namespace VelmoraInternal;
using namespace VelmoraProtocol;
using namespace Qt::Literals::StringLiterals;

class TestText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void choosesTheCatalogue_data() { TestTable::load(VELMORA_TABLES "/catalogues.txt"); }
    void choosesTheCatalogue();
    void formatsAndMarksKeys_data() { TestTable::load(VELMORA_TABLES "/keys.txt"); }
    void formatsAndMarksKeys();
    void encodesFormFields_data() { TestTable::load(VELMORA_TABLES "/fields.txt"); }
    void encodesFormFields();
    void buildsStatementsFromMarkedItems_data() { TestTable::load(VELMORA_TABLES "/changes.txt"); }
    void buildsStatementsFromMarkedItems();
    void masksPasswordsInAddresses_data() { TestTable::load(VELMORA_TABLES "/addresses.txt"); }
    void masksPasswordsInAddresses();
};

void TestText::formatsAndMarksKeys()
{
    QFETCH(QString, id);
    QFETCH(bool, wholeNumber);
    QFETCH(QString, key);
    QFETCH(QString, movedFromUnmarked);

    QCOMPARE(isDecimalWholeNumber(id), wholeNumber);
    // A row keeps its ID as a number: the text comes back as it was read,
    // and IDs are equal exactly when their texts are.
    const CenterId parsed = CenterId::fromText(id);
    QCOMPARE(parsed.isValid(), wholeNumber);
    QCOMPARE(parsed.text(), wholeNumber ? id : QString());
    QCOMPARE(parsed == CenterId::fromText(key), !wholeNumber || id == key);
    QCOMPARE(formatKey(id), key);
    QCOMPARE(keyOf(id, movedMarker(QChar(), InsertMarker)), movedFromUnmarked);
    QCOMPARE(keyOrderOf(id, InsertMarker), orderOf(movedFromUnmarked));
    // A move writes its marker into the order the key has.
    QCOMPARE(remarkedKeyOrder(keyOrderOf(id, {}), keyLengthOf(id), InsertMarker), orderOf(movedFromUnmarked));
    QCOMPARE(remarkedKeyOrder(keyOrderOf(id, DeleteMarker), keyLengthOf(id), {}), orderOf(key));
    // Moving back drops the marker.
    QCOMPARE(movedMarker(InsertMarker, DeleteMarker), QChar());
    // Where both order numbers exist and differ they order the texts; equal
    // ones are equal texts, unless both are longer than sixteen units.
    const QStringList others = {u"000007"_s, u"000007D"_s, u"-000007"_s, u"123456N"_s, u"1234567"_s,
                                u"999999999999999999"_s, u"9999999999999999999N"_s, u"-"_s, u""_s};
    for (const QString &a : {key, QString(key + DeleteMarker), movedFromUnmarked}) {
        for (const QString &b : others) {
            const quint64 x = orderOf(a), y = orderOf(b);
            if (x == NoOrder || y == NoOrder)
                continue;
            if (x != y)
                QVERIFY2((x < y) == (a < b), qPrintable(a + u" / "_s + b));
            else
                QVERIFY2(a == b || (a.size() > 16 && b.size() > 16), qPrintable(a + u" / "_s + b));
        }
    }
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

// A list of "ID" or "ID" + marker texts; the marker makes the row pending.
static std::unique_ptr<CenterListModel> listOf(const QStringList &items)
{
    std::vector<CenterItem> rows;
    for (const QString &item : items) {
        if (item.isEmpty())
            continue;
        const bool marked = !item.back().isDigit();
        rows.emplace_back(CenterId::fromText(marked ? item.chopped(1) : item), QString(), marked ? item.back() : QChar());
    }
    auto list = std::make_unique<CenterListModel>();
    list->reset(std::move(rows));
    return list;
}


void TestText::buildsStatementsFromMarkedItems()
{
    QFETCH(qint32, employee);
    QFETCH(QStringList, selected);
    QFETCH(QStringList, nonSelected);
    QFETCH(QByteArray, body);

    // "!": refused, more statements than one commit may hold.
    QStringList statements{u"left over"_s};
    const bool sent = ChangeSet::buildStatements(employee, *listOf(selected), *listOf(nonSelected), &statements);
    QCOMPARE(sent ? ChangeSet::formBody(statements) : QByteArray("!"), body);
    QVERIFY(sent || statements.isEmpty());
}

void TestText::masksPasswordsInAddresses()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(maskedAddress(text), shown);
}

void TestText::choosesTheCatalogue()
{
    QFETCH(QString, languages);
    QFETCH(QString, catalogue);
    QStringList uiLanguages;
    for (const QString &name : languages.split(u':'))
        uiLanguages += QLocale(name).uiLanguages();
    QCOMPARE(catalogueFor(uiLanguages, {QStringLiteral("de"), QStringLiteral("nl")}), catalogue);
}

QTEST_APPLESS_MAIN(TestText)
#include "tst_text.moc"
