// The list model under Qt's model tester: loads, single and bulk moves
// between two lists on both sides of the 64-row switch, sorts and clears,
// with the ranges each step announces, where persistent indexes end up and
// which sort path the rows took (steps in model-steps.txt); and names sorted
// and merged as QString compares them (collations.txt).
#include "core/centerlistmodel.h"
#include "testtable.h"

#include <QAbstractItemModelTester>
#include <QtTest>

using namespace VelmoraInternal;
using namespace Qt::Literals::StringLiterals;

// "5", "3..7" or "0..126/2" (every second), comma-separated, in that order.
static QList<int> numbers(const QString &text)
{
    static const QRegularExpression range(u"^(-?\\d+)(?:\\.\\.(-?\\d+))?(?:/(\\d+))?$"_s);
    QList<int> out;
    for (const QString &token : text.split(u',')) {
        const QRegularExpressionMatch m = range.match(token);
        const int first = m.captured(1).toInt(), last = m.hasCaptured(2) ? m.captured(2).toInt() : first;
        for (int n = first; n <= last; n += m.hasCaptured(3) ? m.captured(3).toInt() : 1)
            out << n;
    }
    return out;
}

// What a model announced since the last call, as "A! A- 5:6,2:2 A+ 0:0 A~"
// (reset, rows removed, rows inserted, layout changed); more than four
// ranges are counted.
static QStringList announced(std::vector<std::pair<QString, std::unique_ptr<QSignalSpy>>> &spies)
{
    QStringList log;
    for (auto &[mark, spy] : spies) {
        QStringList ranges;
        for (const QList<QVariant> &args : std::as_const(*spy)) {
            if (args.size() == 3)
                ranges << u"%1:%2"_s.arg(args[1].toInt()).arg(args[2].toInt());
        }
        if (!spy->isEmpty())
            log << (ranges.isEmpty() ? mark : mark + u' ' + (ranges.size() > 4 ? u"%1 ranges"_s.arg(ranges.size()) : ranges.join(u',')));
        spy->clear();
    }
    return log;
}

// The rows as a view shows them, in display order: the ID, the marker of a
// pending row, a name other than "c" and the ID after a "="; runs of
// consecutive IDs with one marker as "3..7N".
static QString listed(const CenterListModel &list)
{
    QStringList out;
    const auto text = [&](int row, int column) { return list.index(row, column).data().toString(); };
    const auto marker = [&](int row) { return list.index(row, 0).data(CenterListModel::PendingRole).toBool() ? text(row, 2).right(1) : QString(); };
    const auto plain = [&](int row) { return text(row, 1) == u'c' + text(row, 0); };
    for (int first = 0, row = 1; first < list.count(); ++row) {
        if (row < list.count() && text(row, 0).toLongLong() == text(row - 1, 0).toLongLong() + 1
            && marker(row) == marker(first) && plain(row) && plain(first))
            continue;
        out << text(first, 0) + (row - 1 > first ? u".."_s + text(row - 1, 0) : QString()) + marker(first)
                + (plain(first) ? QString() : u'=' + text(first, 1));
        first = row;
    }
    return out.isEmpty() ? u"-"_s : out.join(u' ');
}


class TestCenterListModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keepsTheModelContract_data() { TestTable::load(VELMORA_TABLES "/model-steps.txt"); }
    void keepsTheModelContract();
    void sortsNamesInTheOperatorsLanguage_data() { TestTable::load(VELMORA_TABLES "/collations.txt"); }
    void sortsNamesInTheOperatorsLanguage();
};

void TestCenterListModel::keepsTheModelContract()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, announcements);
    QFETCH(QString, lists);

    CenterListModel a, b;
    const QAbstractItemModelTester testA(&a, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QAbstractItemModelTester testB(&b, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::vector<std::pair<QString, std::unique_ptr<QSignalSpy>>> spies;
    for (auto [name, model] : {std::pair{u"A"_s, &a}, std::pair{u"B"_s, &b}}) {
        spies.emplace_back(name + u'!', std::make_unique<QSignalSpy>(model, &QAbstractItemModel::modelReset));
        spies.emplace_back(name + u'-', std::make_unique<QSignalSpy>(model, &QAbstractItemModel::rowsRemoved));
        spies.emplace_back(name + u'+', std::make_unique<QSignalSpy>(model, &QAbstractItemModel::rowsInserted));
        spies.emplace_back(name + u'~', std::make_unique<QSignalSpy>(model, &QAbstractItemModel::layoutChanged));
    }
    QStringList log;
    for (const QString &step : steps) {
        const QStringList words = step.split(u' ');
        // Every row pinned: a pin follows its row, or goes invalid when the
        // row leaves its list.
        std::vector<std::tuple<QPersistentModelIndex, CenterId, CenterListModel *>> pins;
        for (CenterListModel *list : {&a, &b}) {
            for (int row = 0; row < list->count(); ++row)
                pins.emplace_back(list->index(row, CenterListModel::IdColumn), list->at(row).id, list);
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
            b.reset(a.pool(), {}); // B is empty whenever A loads
        } else if (words[0] == u"move" || words[0] == u"back") {
            const bool move = words[0] == u"move";
            const QList<int> rows = numbers(words[1]);
            const std::vector<quint32> taken = (move ? a : b).takeRowsAt({rows.begin(), rows.end()});
            CenterListModel &to = move ? b : a;
            for (quint32 number : taken)
                to.center(number).setMarker(movedMarker(to.center(number).marker, move ? InsertMarker : DeleteMarker));
            const std::vector<int> landed = to.insertSorted(taken);
            for (size_t i = 0; i < taken.size(); ++i)
                QCOMPARE(to.numberAt(landed[i]), taken[i]);
        } else if (words[0] == u"sort") {
            const int column = int(QStringList{u"id"_s, u"name"_s, u"key"_s}.indexOf(words[1]));
            a.sortBy(column, words[2] == u"desc" ? Qt::DescendingOrder : Qt::AscendingOrder);
        } else {
            a.clear();
        }
        for (const auto &[pin, id, list] : pins)
            QCOMPARE(pin.data().toString(), list->findId(id) >= 0 ? id.text() : QString());
        QStringList entry = announced(spies);
        if (words[0] == u"load" || words[0] == u"sort")
            entry << QString::fromLatin1(QMetaEnum::fromType<CenterListModel::SortPath>().valueToKey(int(a.lastSortPath())));
        log << (entry.isEmpty() ? u"-"_s : entry.join(u' '));
    }
    QCOMPARE(log.join(u" | "_s), announcements);
    QCOMPARE(listed(a) + u" / "_s + listed(b), lists);
}

void TestCenterListModel::sortsNamesInTheOperatorsLanguage()
{
    QFETCH(QString, locale);
    QFETCH(QString, order);
    // Sorted in place, and a center moved into a sorted list: the same order.
    const QStringList names = u"Zürich Été alpha Österreich Zeta étage Apfel Omega Ecole Ärger"_s.split(u' ');
    std::vector<CenterItem> items;
    for (const QString &name : names)
        items.emplace_back(CenterId::fromText(QString::number(items.size() + 1)), name);
    CenterListModel sorted, merged;
    sorted.setCollation(QLocale(locale));
    merged.setCollation(QLocale(locale));
    sorted.reset(items);
    sorted.sortBy(CenterListModel::NameColumn, Qt::AscendingOrder);
    QCOMPARE(sorted.lastSortPath(), CenterListModel::SortPath::CollatedNames);
    merged.sortBy(CenterListModel::NameColumn, Qt::AscendingOrder);
    merged.reset(items);
    for (size_t i = 0; i < 3; ++i)
        merged.insertSorted(merged.takeRowsAt({merged.findId(items[i].id)}));
    for (const CenterListModel *list : {&sorted, &merged}) {
        QStringList shown;
        for (int row = 0; row < list->count(); ++row)
            shown << list->at(row).name;
        QCOMPARE(shown.join(u' '), order);
    }
}

QTEST_GUILESS_MAIN(TestCenterListModel)
#include "tst_centerlistmodel.moc"
