// The list adapter against a plain reference: random inserts, removals,
// sorts and selections applied to both, compared after every step.

#include "platform/centerlistview.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

using namespace VelmoraInternal;

namespace {

struct Reference
{
    std::vector<CenterItem> items; // display order
    std::vector<bool> selected;
    int column = CenterListModel::KeyColumn;
    Qt::SortOrder order = Qt::AscendingOrder;

    int compare(const CenterItem &a, const CenterItem &b) const
    {
        switch (column) {
        case CenterListModel::NameColumn: return QString::compare(a.name, b.name, Qt::CaseInsensitive);
        case CenterListModel::IdColumn: return QString::compare(a.id, b.id, Qt::CaseInsensitive);
        default: return QString::compare(a.key, b.key);
        }
    }
    bool before(const CenterItem &a, const CenterItem &b) const
    {
        const int c = compare(a, b);
        return order == Qt::AscendingOrder ? c < 0 : c > 0;
    }
    // Appended after every row that does not sort after it.
    void insert(const CenterItem &item)
    {
        size_t pos = 0;
        while (pos < items.size() && !before(item, items[pos]))
            ++pos;
        items.insert(items.begin() + pos, item);
        selected.insert(selected.begin() + pos, false);
    }
    void sort(int c, Qt::SortOrder o)
    {
        column = c;
        order = o;
        std::vector<size_t> idx(items.size());
        for (size_t i = 0; i < idx.size(); ++i)
            idx[i] = i;
        std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) { return before(items[a], items[b]); });
        std::vector<CenterItem> ni;
        std::vector<bool> ns;
        for (size_t i : idx) {
            ni.push_back(items[i]);
            ns.push_back(selected[i]);
        }
        items = ni;
        selected = ns;
    }
};

CenterItem randomItem(QRandomGenerator &rng, int serial)
{
    static const char *words[] = {"Press", "Lathe", "Paint", "Assembly", "press", "Weld", "Öven", "oven"};
    const int id = int(rng.bounded(1, 2000));
    const QString ids = QString::number(id);
    // A name that often ties, so that stability matters.
    const QString name = QString::fromUtf8(words[rng.bounded(8)]) + QLatin1Char(' ') + QString::number(rng.bounded(4));
    QString key = QStringLiteral("%1").arg(id, 6, 10, QLatin1Char('0'));
    if (rng.bounded(3) == 0)
        key += serial % 2 ? QLatin1Char('N') : QLatin1Char('D');
    return {ids, name, key};
}

} // namespace

class TestCenterListView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void randomOperationsMatchThePlainModel_data();
    void randomOperationsMatchThePlainModel();
    void selectionFollowsItsItemsThroughASort();
    void selectedCountStopsAtTheLimit();
    void findIdIsWholeTextWithChosenCase();
};

void TestCenterListView::randomOperationsMatchThePlainModel_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("steps");
    QTest::newRow("small lists") << 1u << 300;
    QTest::newRow("bulk paths") << 7u << 120;
    QTest::newRow("another seed") << 42u << 300;
}

void TestCenterListView::randomOperationsMatchThePlainModel()
{
    QFETCH(quint32, seed);
    QFETCH(int, steps);
    QRandomGenerator rng(seed);
    CenterListView view;
    view.setMultiSelect(true);
    Reference ref;
    int serial = 0;

    for (int step = 0; step < steps; ++step) {
        const int op = int(rng.bounded(6));
        if (op == 0 || ref.items.empty()) {
            // Insert a batch, small or past the bulk threshold.
            const int n = rng.bounded(4) == 0 ? int(rng.bounded(60, 200)) : int(rng.bounded(1, 5));
            std::vector<CenterItem> batch;
            for (int i = 0; i < n; ++i)
                batch.push_back(randomItem(rng, ++serial));
            // Selection is not carried over a bulk insert; clear it on both.
            view.selectionModel()->clearSelection();
            std::fill(ref.selected.begin(), ref.selected.end(), false);
            const std::vector<int> rows = view.centers()->insertSorted(batch);
            for (const CenterItem &item : batch)
                ref.insert(item);
            // Every reported row holds the item it reports.
            for (size_t i = 0; i < batch.size(); ++i) {
                QCOMPARE(view.item(rows[i]).id, batch[i].id);
                QCOMPARE(view.item(rows[i]).key, batch[i].key);
            }
        } else if (op == 1) {
            // Remove a random subset (few or many blocks).
            std::vector<int> rows;
            const int chance = int(rng.bounded(1, 4));
            for (int row = 0; row < int(ref.items.size()); ++row) {
                if (rng.bounded(chance * 3) == 0)
                    rows.push_back(row);
            }
            view.removeRows(rows);
            for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
                ref.items.erase(ref.items.begin() + *it);
                ref.selected.erase(ref.selected.begin() + *it);
            }
        } else if (op == 2) {
            const int column = int(rng.bounded(3));
            const Qt::SortOrder order = rng.bounded(2) ? Qt::AscendingOrder : Qt::DescendingOrder;
            view.setSort(column, order);
            ref.sort(column, order);
        } else {
            // Select a random set of rows.
            std::vector<int> rows;
            for (int row = 0; row < int(ref.items.size()); ++row) {
                const bool pick = rng.bounded(3) == 0;
                ref.selected[size_t(row)] = pick;
                if (pick)
                    rows.push_back(row);
            }
            view.selectOnly(rows);
        }

        QCOMPARE(view.count(), int(ref.items.size()));
        std::vector<int> expectedSelected;
        for (size_t row = 0; row < ref.items.size(); ++row) {
            QCOMPARE(view.item(int(row)).key, ref.items[row].key);
            QCOMPARE(view.item(int(row)).name, ref.items[row].name);
            if (ref.selected[row])
                expectedSelected.push_back(int(row));
        }
        QCOMPARE(view.selectedRows(), expectedSelected);
        QCOMPARE(view.selectedCount(2), std::min(2, int(expectedSelected.size())));
    }
}

void TestCenterListView::selectionFollowsItsItemsThroughASort()
{
    CenterListView view;
    view.setMultiSelect(true);
    view.centers()->reset({{"3", "Charlie", "000003"}, {"1", "bravo", "000001"}, {"2", "Alpha", "000002"}});
    QCOMPARE(view.item(0).id, QStringLiteral("1"));
    view.selectOnly({0, 2}); // IDs 1 and 3
    view.setCurrentRow(2);
    view.setSort(CenterListModel::NameColumn, Qt::AscendingOrder); // Alpha, bravo, Charlie
    QCOMPARE(view.item(0).id, QStringLiteral("2"));
    QCOMPARE(view.selectedRows(), (std::vector<int>{1, 2}));
    QCOMPARE(view.item(view.currentRow()).id, QStringLiteral("3"));
}

void TestCenterListView::selectedCountStopsAtTheLimit()
{
    CenterListView view;
    std::vector<CenterItem> items;
    for (int i = 1; i <= 10; ++i)
        items.push_back({QString::number(i), QStringLiteral("c"), QStringLiteral("%1").arg(i, 6, 10, QLatin1Char('0'))});
    view.centers()->reset(items);
    view.setMultiSelect(true);
    QCOMPARE(view.selectedCount(2), 0);
    view.selectOnly({4});
    QCOMPARE(view.selectedCount(2), 1);
    view.selectOnly({1, 3, 5, 7});
    QCOMPARE(view.selectedCount(2), 2);
    QCOMPARE(view.selectedCount(100), 4);
}

void TestCenterListView::findIdIsWholeTextWithChosenCase()
{
    CenterListView view;
    view.centers()->reset({{"142", "a", "000142"}, {"42", "b", "000042"}, {"420", "c", "000420"}, {"4a", "d", "4a"}});
    QCOMPARE(view.item(view.centers()->findId(u"42", Qt::CaseInsensitive)).id, QStringLiteral("42"));
    QCOMPARE(view.centers()->findId(u" 42", Qt::CaseInsensitive), -1);
    QCOMPARE(view.centers()->findId(u"4A", Qt::CaseSensitive), -1);
    QVERIFY(view.centers()->findId(u"4A", Qt::CaseInsensitive) >= 0);
}

QTEST_MAIN(TestCenterListView)
#include "tst_centerlistview.moc"
