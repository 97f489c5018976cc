// The list model under Qt's model tester: loads, single and bulk moves
// between two lists on both sides of the 64-row switch, sorts and clears,
// with the ranges each step announces, where persistent indexes end up and
// which sort path the rows took. The steps are rows of model-steps.txt.
#include "core/centerlistmodel.h"
#include "testtable.h"

#include <QAbstractItemModelTester>
#include <QtTest>

#include <random>

using namespace VelmoraInternal;
using namespace Qt::Literals::StringLiterals;

namespace {

// "5", "3..7" or "0..126/2" (every second), comma-separated, in that order.
QList<int> numbers(const QString &spec)
{
    static const QRegularExpression range(u"^(-?\\d+)(?:\\.\\.(-?\\d+))?(?:/(\\d+))?$"_s);
    QList<int> out;
    for (const QString &token : spec.split(u',')) {
        const QRegularExpressionMatch m = range.match(token);
        const int first = m.captured(1).toInt(), last = m.hasCaptured(2) ? m.captured(2).toInt() : first;
        for (int n = first; n <= last; n += m.hasCaptured(3) ? m.captured(3).toInt() : 1)
            out << n;
    }
    return out;
}

// What a model announced since the last call, as "A! A- 5:6,2:2 A+ 0:0 A~":
// reset, removed, inserted, layout changed; more than four ranges counted.
struct Announcements
{
    explicit Announcements(CenterListModel *model, QString name)
        : name(std::move(name)), removing(model, &QAbstractItemModel::rowsAboutToBeRemoved),
          removed(model, &QAbstractItemModel::rowsRemoved), inserted(model, &QAbstractItemModel::rowsInserted),
          layouts(model, &QAbstractItemModel::layoutChanged), resets(model, &QAbstractItemModel::modelReset)
    {
    }
    QStringList take()
    {
        const auto ranges = [](QSignalSpy &spy) {
            QStringList out;
            for (const QList<QVariant> &args : std::as_const(spy))
                out << u"%1:%2"_s.arg(args[1].toInt()).arg(args[2].toInt());
            spy.clear();
            return out.size() > 4 ? QStringList{u"%1 ranges"_s.arg(out.size())} : out;
        };
        QStringList log;
        if (!resets.isEmpty())
            log << name + u'!';
        const QStringList gone = ranges(removed), going = ranges(removing), added = ranges(inserted);
        if (!gone.isEmpty())
            log << name + u"- "_s + gone.join(u',') + (going == gone ? QString() : u" (announced "_s + going.join(u',') + u')');
        if (!added.isEmpty())
            log << name + u"+ "_s + added.join(u',');
        if (!layouts.isEmpty())
            log << name + u'~';
        resets.clear();
        layouts.clear();
        return log;
    }
    QString name;
    QSignalSpy removing, removed, inserted, layouts, resets;
};

// The IDs in display order, runs of consecutive IDs with one marker as
// "3..7N".
QString listed(const CenterListModel &list)
{
    QStringList out;
    const auto id = [&](int row) { return list.at(row).id.text().toLongLong(); };
    for (int first = 0, row = 1; first < list.count(); ++row) {
        if (row < list.count() && id(row) == id(row - 1) + 1 && list.at(row).marker == list.at(first).marker)
            continue;
        const QChar marker = list.at(first).marker;
        out << list.at(first).id.text() + (row - 1 > first ? u".."_s + list.at(row - 1).id.text() : QString())
                + (marker.isNull() ? QString() : QString(marker));
        first = row;
    }
    return out.isEmpty() ? u"-"_s : out.join(u' ');
}

} // namespace

class TestCenterListModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keepsTheModelContract_data() { TestTable::load(VELMORA_TABLES "/model-steps.txt"); }
    void keepsTheModelContract();
    void sortsNamesInTheOperatorsLanguage_data();
    void sortsNamesInTheOperatorsLanguage();
    void loadsInKeyOrder_data();
    void loadsInKeyOrder();
};

void TestCenterListModel::keepsTheModelContract()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, announced);
    QFETCH(QString, lists);

    CenterListModel a, b;
    const QAbstractItemModelTester testA(&a, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QAbstractItemModelTester testB(&b, QAbstractItemModelTester::FailureReportingMode::QtTest);
    Announcements seenA(&a, u"A"_s), seenB(&b, u"B"_s);
    QStringList log;
    for (const QString &step : steps) {
        const QStringList words = step.split(u' ');
        // Every row of both lists pinned: a pin follows its row, or goes
        // invalid when the row leaves its list.
        std::vector<std::tuple<QPersistentModelIndex, CenterId, CenterListModel *>> pins;
        for (CenterListModel *list : {&a, &b}) {
            for (int row = 0; row < list->count(); ++row)
                pins.emplace_back(list->index(row, CenterListModel::NameColumn), list->at(row).id, list);
        }
        if (words[0] == u"load") {
            std::vector<CenterItem> items;
            for (const QString &token : words[1].split(u',')) {
                const QString ids = token.left(token.indexOf(u'='));
                for (int n : ids.contains(u"..") ? numbers(ids) : QList<int>{0}) {
                    const QString id = ids.contains(u"..") ? QString::number(n) : ids;
                    items.emplace_back(CenterId::fromText(id), ids == token ? u"c"_s + id : token.mid(ids.size() + 1));
                }
            }
            a.reset(std::move(items));
        } else if (words[0] == u"move" || words[0] == u"back") {
            const bool move = words[0] == u"move";
            const QList<int> rows = numbers(words[1]);
            std::vector<CenterItem> items = (move ? a : b).takeRowsAt({rows.begin(), rows.end()});
            std::vector<CenterId> ids;
            for (CenterItem &item : items) {
                item.setMarker(movedMarker(item.marker, move ? InsertMarker : DeleteMarker));
                ids.push_back(item.id);
            }
            CenterListModel &to = move ? b : a;
            const std::vector<int> landed = to.insertSorted(std::move(items));
            for (size_t i = 0; i < ids.size(); ++i)
                QCOMPARE(to.at(landed[i]).id, ids[i]);
        } else if (words[0] == u"sort") {
            const QStringList columns{u"id"_s, u"name"_s, u"key"_s};
            a.sortBy(int(columns.indexOf(words[1])), words[2] == u"desc" ? Qt::DescendingOrder : Qt::AscendingOrder);
        } else {
            a.clear();
        }
        for (const auto &[pin, id, list] : pins)
            QCOMPARE(pin.isValid() ? list->at(pin.row()).id.text() : QString(), list->findId(id) >= 0 ? id.text() : QString());
        QStringList entry = seenA.take() + seenB.take();
        if (words[0] == u"load" || words[0] == u"sort")
            entry << QString::fromLatin1(QMetaEnum::fromType<CenterListModel::SortPath>().valueToKey(int(a.lastSortPath())));
        log << (entry.isEmpty() ? u"-"_s : entry.join(u' '));
    }
    QCOMPARE(log.join(u" | "_s), announced);
    QCOMPARE(listed(a) + u" / "_s + listed(b), lists);
}

void TestCenterListModel::sortsNamesInTheOperatorsLanguage_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("order");
    const QString expected = u"alpha Apfel Ärger Ecole étage Été Omega Österreich Zeta Zürich"_s;
    QTest::newRow("de_DE") << QLocale(u"de_DE"_s) << expected;
    QTest::newRow("fr_FR") << QLocale(u"fr_FR"_s) << expected;
    QTest::newRow("C, letter case ignored") << QLocale::c() << u"alpha Apfel Ecole Omega Zeta Zürich Ärger étage Été Österreich"_s;
}

void TestCenterListModel::sortsNamesInTheOperatorsLanguage()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, order);
    // Sorted in place, and a center moved into a sorted list: the same order.
    const QStringList names = u"Zürich Été alpha Österreich Zeta étage Apfel Omega Ecole Ärger"_s.split(u' ');
    std::vector<CenterItem> items;
    for (const QString &name : names)
        items.emplace_back(CenterId::fromText(QString::number(items.size() + 1)), name);
    CenterListModel sorted, merged;
    sorted.setCollation(locale);
    merged.setCollation(locale);
    sorted.reset(items);
    sorted.sortBy(CenterListModel::NameColumn, Qt::AscendingOrder);
    QCOMPARE(sorted.lastSortPath(), CenterListModel::SortPath::CollatedNames);
    merged.sortBy(CenterListModel::NameColumn, Qt::AscendingOrder);
    merged.reset({items.begin() + 3, items.end()});
    for (size_t i = 0; i < 3; ++i)
        merged.insertSorted({items[i]});
    QStringList shown[2];
    for (int row = 0; row < sorted.count(); ++row) {
        shown[0] << sorted.at(row).name;
        shown[1] << merged.at(row).name;
    }
    QCOMPARE(shown[0].join(u' '), order);
    QCOMPARE(shown[1].join(u' '), order);
}

void TestCenterListModel::loadsInKeyOrder_data()
{
    QTest::addColumn<bool>("serverOrder");
    QTest::addColumn<CenterListModel::SortPath>("path");
    QTest::newRow("the server's order of IDs, a few runs of keys") << true << CenterListModel::SortPath::MergedRuns;
    QTest::newRow("no order") << false << CenterListModel::SortPath::WholeList;
}

void TestCenterListModel::loadsInKeyOrder()
{
    QFETCH(bool, serverOrder);
    QFETCH(CenterListModel::SortPath, path);
    // Keys of six and of seven digits, equal IDs among them: by key text,
    // equal keys as loaded.
    QRandomGenerator random(7);
    std::vector<qint64> ids;
    for (int i = 0; i < 600; ++i)
        ids.push_back(random.bounded(-50, 3000000) / (i % 7 == 0 ? 1000 : 1));
    if (serverOrder)
        std::sort(ids.begin(), ids.end());
    else
        std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
    std::vector<CenterItem> loaded;
    for (qint64 id : ids)
        loaded.emplace_back(CenterId::fromText(QString::number(id)), QString::number(loaded.size()));
    CenterListModel list;
    list.reset(loaded);
    QCOMPARE(list.lastSortPath(), path);
    for (int row = 1; row < list.count(); ++row) {
        const CenterItem &a = list.at(row - 1), &b = list.at(row);
        QVERIFY(a.key() < b.key() || (a.key() == b.key() && a.name.toInt() < b.name.toInt()));
    }
}

QTEST_GUILESS_MAIN(TestCenterListModel)
#include "tst_centerlistmodel.moc"
