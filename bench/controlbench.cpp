#include "controlbench.h"

#include "benchdata.h"
#include "measure.h"
#include "shapingproxy.h"

#include <velmora/velmora.h>

#include "core/centerlistmodel.h"
#include "core/centersearch.h"
#include "core/changeset.h"
#include "protocol/formencoding.h"
#include "shell/centerlistview.h"

#include <QApplication>
#include <QDomDocument>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <httplib.h>
#include <pugixml.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <numeric>
#include <thread>
#include <utility>

namespace Bench {

namespace {

using VelmoraInternal::CenterListModel;
using VelmoraInternal::CenterListView;
namespace ChangeSet = VelmoraInternal::ChangeSet;

// Marks a figure as failed (and says why on stderr) when the state after an
// operation is not what the operation should have produced, so that a
// figure never silently times a no-op.
class Checks
{
public:
    explicit Checks(QString where) : m_where(std::move(where)) {}
    bool operator()(bool condition, const char *what)
    {
        if (!condition) {
            std::fprintf(stderr, "bench: check failed (%s): %s\n", qPrintable(m_where), what);
            m_failed = true;
        }
        return condition;
    }
    bool failed() const { return m_failed; }
    void reset() { m_failed = false; }

private:
    QString m_where;
    bool m_failed = false;
};

void record(Report &report, const QString &key, int size, const std::vector<double> &times, bool failed,
            bool extrapolated = false)
{
    Figure figure;
    figure.value = median(times);
    figure.runs = int(times.size());
    figure.failed = failed || times.empty();
    figure.extrapolated = extrapolated;
    report.set(key, size, figure);
}

void progress(const QString &text)
{
    std::fprintf(stderr, "bench: %s\n", qPrintable(text));
    std::fflush(stderr);
}

Runs runsFor(int size, const ControlOptions &options, int fewRuns = 11, int manyRuns = 15)
{
    Runs runs;
    runs.maxRuns = options.quick ? 3 : (size >= 32767 ? fewRuns : manyRuns);
    runs.maxSeconds = options.quick ? 3.0 : 10.0;
    runs.minRuns = options.quick ? 1 : 3;
    return runs;
}

Runs quickOpRuns(const ControlOptions &options)
{
    return {options.quick ? 5 : 31, options.quick ? 2.0 : 5.0, options.quick ? 1 : 5};
}

template<typename T>
T *child(const QWidget &parent, const char *name)
{
    T *found = parent.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("bench: the control has no child %s", name);
    return found;
}

std::vector<int> allRows(int count)
{
    std::vector<int> rows(static_cast<size_t>(count));
    std::iota(rows.begin(), rows.end(), 0);
    return rows;
}

void clickHeader(QTreeView *view, int section)
{
    QHeaderView *header = view->header();
    const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                    header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

// One list of the control as the benchmark drives and checks it: the view
// the operator clicks in, the model it shows and the selection model it
// selects through. Selecting here is what a click or a find leaves behind;
// the timed operations still go through the widgets.
class ListAdapter
{
public:
    explicit ListAdapter(CenterListView *view)
        : m_view(view)
    {
    }

    CenterListView *view() const { return m_view; }
    const CenterListModel &model() const { return *static_cast<CenterListModel *>(m_view->model()); }
    int count() const { return model().count(); }
    int sortKey() const { return model().sortColumn(); }
    Qt::SortOrder sortOrder() const { return model().sortOrder(); }

    // Selects exactly these rows (ascending) and nothing else: one range per
    // run of neighbouring rows, handed over in a single call.
    void selectOnly(const std::vector<int> &ascendingRows) const
    {
        const CenterListModel &list = model();
        QItemSelection selection;
        for (size_t i = 0; i < ascendingRows.size(); ++i) {
            size_t end = i;
            while (end + 1 < ascendingRows.size() && ascendingRows[end + 1] == ascendingRows[end] + 1)
                ++end;
            selection.append(QItemSelectionRange(list.index(ascendingRows[i], 0), list.index(ascendingRows[end], 0)));
            i = end;
        }
        m_view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    void clearSelection() const { m_view->selectionModel()->clearSelection(); }

    // -1 leaves no row current.
    void setCurrentRow(int row) const
    {
        const QModelIndex index = row >= 0 && row < count() ? model().index(row, 0) : QModelIndex();
        m_view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    }

    // The number of selected rows (ranges may overlap), at most limit.
    int selectedCount(int limit) const
    {
        const int rows = count();
        std::vector<char> marked(size_t(rows), 0);
        for (const QItemSelectionRange &range : m_view->selectionModel()->selection()) {
            for (int row = std::max(0, range.top()); row <= range.bottom() && row < rows; ++row)
                marked[size_t(row)] = 1;
        }
        return std::min(limit, int(std::count(marked.begin(), marked.end(), char(1))));
    }

    // Emits what a mouse release in the list emits: the click rule runs.
    void click() const { Q_EMIT m_view->listClicked(); }

private:
    CenterListView *m_view;
};

// ---------------------------------------------------------------------------
// Ours: the real control, driven through its widgets.

void benchOurs(Report &report, const QString &baseUrl, const QString &staticUrl, int size,
               const ControlOptions &options, QSize *controlSize)
{
    Velmora control;
    control.setEmployeeID(QString::number(LoadEmployee));
    control.show();
    settle();
    *controlSize = control.size();

    const ListAdapter left(child<CenterListView>(control, "lstCenters"));
    const ListAdapter right(child<CenterListView>(control, "lstSelectedCenters"));
    auto *add = child<QPushButton>(control, "cmdAdd");
    auto *remove = child<QPushButton>(control, "cmdDelete");
    auto *addAll = child<QPushButton>(control, "cmdAddAll");
    auto *removeAll = child<QPushButton>(control, "cmdRemoveAll");

    const QString where = QStringLiteral("ours at %1").arg(size);

    // Load: setServerName to filled (and painted) lists, from the plain
    // server first, then from velmora-server (whose state the rest uses).
    for (const auto &[key, url] : {std::pair{QStringLiteral("load.static"), staticUrl},
                                   std::pair{QStringLiteral("load"), baseUrl}}) {
        Checks check(where + QStringLiteral(", ") + key);
        const auto times = repeat(runsFor(size, options), nullptr, [&] {
            const double t = timeMs([&] {
                control.setServerName(url);
                settle();
            });
            check(left.count() == size && right.count() == 0, "both lists filled after the load");
            return t;
        });
        record(report, key, size, times, check.failed());
    }
    if (left.count() != size)
        return;

    // Select all with Ctrl+A (the list's click rule runs with it).
    {
        Checks check(where + QStringLiteral(", select all"));
        const auto times = repeat(runsFor(size, options), [&] {
            left.selectOnly({0});
            left.click(); // the first click makes the list multi-select
            left.view()->setFocus();
            settle();
        }, [&] {
            const double t = timeMs([&] {
                QTest::keyClick(left.view(), Qt::Key_A, Qt::ControlModifier);
                settle();
            });
            check(left.selectedCount(size + 1) == size, "every row selected");
            return t;
        });
        record(report, QStringLiteral("selectall"), size, times, check.failed());
    }

    // The click rule on a fully selected list.
    {
        left.selectOnly(allRows(size));
        Checks check(where + QStringLiteral(", click rule"));
        const auto times = repeat(quickOpRuns(options), nullptr, [&] {
            const double t = timeMs([&] { left.click(); });
            check(addAll->isEnabled() && !add->isEnabled(), "\">>\" enabled for a multiple selection");
            return t;
        });
        record(report, QStringLiteral("click"), size, times, check.failed());
    }

    // Finds that miss, over the whole list.
    {
        Checks check(where + QStringLiteral(", find"));
        const CenterListModel &model = left.model();
        const QString missingName = QStringLiteral("no such work center");
        const QString missingId = QStringLiteral("99999999");
        const auto byName = repeat(quickOpRuns(options), nullptr, [&] {
            int hit = 0;
            const double t = timeMs([&] { hit = VelmoraInternal::findByName(model, missingName); });
            check(hit == -1, "the name find misses");
            return t;
        });
        const auto byId = repeat(quickOpRuns(options), nullptr, [&] {
            int hit = 0;
            const double t = timeMs([&] { hit = VelmoraInternal::findById(model, missingId); });
            check(hit == -1, "the ID find misses");
            return t;
        });
        record(report, QStringLiteral("find.name"), size, byName, check.failed());
        record(report, QStringLiteral("find.id"), size, byId, check.failed());
    }

    // ">" of one center from the middle of the list (and "<" back, untimed).
    {
        Checks check(where + QStringLiteral(", \">\""));
        const int row = size / 2;
        const auto times = repeat(quickOpRuns(options), [&] {
            left.selectOnly({row});
            left.setCurrentRow(row);
            left.click();
            settle();
        }, [&] {
            const double t = timeMs([&] {
                QTest::mouseClick(add, Qt::LeftButton);
                settle();
            });
            check(right.count() == 1 && left.count() == size - 1, "one center moved");
            right.click();
            QTest::mouseClick(remove, Qt::LeftButton);
            settle();
            check(left.count() == size && right.count() == 0, "the center moved back");
            return t;
        });
        record(report, QStringLiteral("addone"), size, times, check.failed());
    }

    // ">>" of all, Ctrl+Z of it, and "<<" of all (after Ctrl+Shift+Z).
    {
        Checks check(where + QStringLiteral(", \">>\", Ctrl+Z and \"<<\""));
        std::vector<double> undone, back;
        const auto times = repeat(runsFor(size, options), [&] {
            left.selectOnly(allRows(left.count()));
            left.click();
            settle();
        }, [&] {
            const double t = timeMs([&] {
                QTest::mouseClick(addAll, Qt::LeftButton);
                settle();
            });
            check(right.count() == size && left.count() == 0, "every center moved right");
            undone.push_back(timeMs([&] {
                QTest::keyClick(right.view(), Qt::Key_Z, Qt::ControlModifier);
                settle();
            }));
            check(left.count() == size && right.count() == 0, "Ctrl+Z moved every center back");
            QTest::keyClick(right.view(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
            settle();
            check(right.count() == size, "Ctrl+Shift+Z moved every center right again");
            right.selectOnly(allRows(right.count()));
            right.click();
            back.push_back(timeMs([&] {
                QTest::mouseClick(removeAll, Qt::LeftButton);
                settle();
            }));
            check(left.count() == size && right.count() == 0, "every center moved back");
            return t;
        });
        record(report, QStringLiteral("addall"), size, times, check.failed());
        record(report, QStringLiteral("undo.addall"), size, undone, check.failed());
        record(report, QStringLiteral("removeall"), size, back, check.failed());
    }

    // The commit body with every center marked, and urlEncode on its text.
    {
        Checks check(where + QStringLiteral(", commit body"));
        left.selectOnly(allRows(left.count()));
        left.click();
        QTest::mouseClick(addAll, Qt::LeftButton);
        settle();
        check(right.count() == size, "every center marked for insertion");
        QStringList statements;
        QByteArray body;
        const auto times = repeat(runsFor(size, options, 15, 21), nullptr, [&] {
            statements.clear();
            body.clear();
            const double t = timeMs([&] {
                ChangeSet::buildStatements(LoadEmployee, right.model(), left.model(), &statements);
                body = ChangeSet::formBody(statements);
            });
            check(statements.size() == size && body.size() > size * 100, "one INSERT per center");
            return t;
        });
        record(report, QStringLiteral("commitbody"), size, times, check.failed());

        // Throughput in MB of text (one Windows-1252 byte per character).
        const QString text = statements.join(QString());
        const double megabytes = double(text.size()) / 1e6;
        auto throughput = [&](const std::vector<double> &ms) {
            std::vector<double> rates;
            for (double t : ms)
                rates.push_back(megabytes / (t / 1000.0));
            return rates;
        };
        Checks encodeCheck(where + QStringLiteral(", urlEncode"));
        const auto publicTimes = repeat(runsFor(size, options, 15, 21), nullptr, [&] {
            QString encoded;
            const double t = timeMs([&] { encoded = control.urlEncode(text); });
            encodeCheck(encoded.size() > text.size(), "the text was encoded");
            return t;
        });
        const auto appendTimes = repeat(runsFor(size, options, 15, 21), nullptr, [&] {
            QByteArray encoded;
            const double t = timeMs([&] { VelmoraProtocol::appendUrlEncoded(encoded, text); });
            encodeCheck(encoded.size() > text.size(), "the text was encoded");
            return t;
        });
        record(report, QStringLiteral("urlencode"), size, throughput(publicTimes), encodeCheck.failed());
        record(report, QStringLiteral("urlencode.append"), size, throughput(appendTimes), encodeCheck.failed());

        right.click();
        QTest::mouseClick(removeAll, Qt::LeftButton);
        settle();
    }

    // Header sorts: Name, Name again (reversed), ID; first with nothing
    // selected, then the name sort with every row selected.
    {
        Checks check(where + QStringLiteral(", sorts"));
        left.clearSelection();
        left.setCurrentRow(-1);
        settle();
        std::vector<double> name, nameAgain, id;
        repeat(runsFor(size, options), nullptr, [&] {
            name.push_back(timeMs([&] {
                clickHeader(left.view(), CenterListModel::NameColumn);
                settle();
            }));
            check(left.sortKey() == CenterListModel::NameColumn, "sorted by name");
            const Qt::SortOrder first = left.sortOrder();
            nameAgain.push_back(timeMs([&] {
                clickHeader(left.view(), CenterListModel::NameColumn);
                settle();
            }));
            check(left.sortKey() == CenterListModel::NameColumn && left.sortOrder() != first,
                  "sorted by name the other way");
            id.push_back(timeMs([&] {
                clickHeader(left.view(), CenterListModel::IdColumn);
                settle();
            }));
            check(left.sortKey() == CenterListModel::KeyColumn, "sorted by ID");
            return 0.0;
        });
        record(report, QStringLiteral("sort.name"), size, name, check.failed());
        record(report, QStringLiteral("sort.namerev"), size, nameAgain, check.failed());
        record(report, QStringLiteral("sort.id"), size, id, check.failed());

        Checks selectedCheck(where + QStringLiteral(", sort with all selected"));
        left.selectOnly(allRows(size));
        left.click();
        std::vector<double> selectedName;
        repeat(runsFor(size, options), nullptr, [&] {
            selectedName.push_back(timeMs([&] {
                clickHeader(left.view(), CenterListModel::NameColumn);
                settle();
            }));
            selectedCheck(left.sortKey() == CenterListModel::NameColumn && left.selectedCount(size + 1) == size,
                          "sorted by name, selection kept");
            clickHeader(left.view(), CenterListModel::IdColumn);
            settle();
            return 0.0;
        });
        record(report, QStringLiteral("sort.name.selected"), size, selectedName, selectedCheck.failed());
    }
}

// ---------------------------------------------------------------------------
// The reference: Qt's QTreeWidget used in the plainest way.

QByteArray fetch(QNetworkAccessManager &manager, const QString &url)
{
    QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(url)));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const QByteArray body = reply->readAll();
    reply->deleteLater();
    return body;
}

// Items added one by one with sorting on, as a plain implementation does.
void fillTree(QTreeWidget *tree, const QDomNode &list)
{
    for (QDomNode center = list.firstChild(); !center.isNull(); center = center.nextSibling()) {
        const QString id = center.firstChild().toElement().text();
        const QString name = center.firstChild().nextSibling().toElement().text();
        const QString key = QStringLiteral("%1").arg(id.toLongLong(), 6, 10, QLatin1Char('0'));
        tree->addTopLevelItem(new QTreeWidgetItem(QStringList{id, name, key}));
    }
}

bool loadTrees(QTreeWidget *left, QTreeWidget *right, const QByteArray &body)
{
    QDomDocument document;
    if (!document.setContent(body))
        return false;
    const QDomNodeList lists = document.documentElement().childNodes();
    if (lists.size() < 3)
        return false;
    fillTree(left, lists.at(1));
    fillTree(right, lists.at(2));
    return true;
}

QTreeWidget *makeTree(QWidget *parent)
{
    auto *tree = new QTreeWidget(parent);
    tree->setColumnCount(3);
    tree->setHeaderLabels({QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("ID")});
    tree->setColumnHidden(2, true);
    tree->setRootIsDecorated(false);
    tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree->setSortingEnabled(true);
    tree->sortByColumn(2, Qt::AscendingOrder);
    return tree;
}

void benchReference(Report &report, const QString &baseUrl, const QString &staticUrl, int size,
                    const ControlOptions &options, QSize windowSize)
{
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    QTreeWidget *left = makeTree(&window);
    QTreeWidget *right = makeTree(&window);
    layout->addWidget(left);
    layout->addWidget(right);
    window.resize(windowSize);
    window.show();
    settle();
    QNetworkAccessManager manager;
    const QString where = QStringLiteral("QTreeWidget at %1").arg(size);

    auto clearTrees = [&] {
        left->clear();
        right->clear();
        settle();
    };

    // Load, from the plain server and from velmora-server.
    QByteArray body;
    const QString page = QStringLiteral("/Velmora.asp?EmployeeID=%1").arg(LoadEmployee);
    for (const auto &[key, url] : {std::pair{QStringLiteral("ref.load.static"), staticUrl + page},
                                   std::pair{QStringLiteral("ref.load"), baseUrl + page}}) {
        Checks check(where + QStringLiteral(", ") + key);
        const auto times = repeat(runsFor(size, options, 7, 11), clearTrees, [&] {
            const double t = timeMs([&] {
                body = fetch(manager, url);
                check(loadTrees(left, right, body), "the document parsed");
                settle();
            });
            check(left->topLevelItemCount() == size, "every center in the list");
            check(left->topLevelItem(0)->text(2) < left->topLevelItem(size - 1)->text(2), "the list sorted");
            return t;
        });
        record(report, key, size, times, check.failed());
    }
    auto refill = [&] {
        clearTrees();
        loadTrees(left, right, body);
        settle();
    };

    // Select all.
    {
        Checks check(where + QStringLiteral(", select all"));
        const auto times = repeat(runsFor(size, options, 5, 7), [&] { left->clearSelection(); settle(); }, [&] {
            const double t = timeMs([&] {
                left->selectAll();
                settle();
            });
            check(left->selectedItems().size() == size, "every item selected");
            return t;
        });
        record(report, QStringLiteral("ref.selectall"), size, times, check.failed());
    }

    // Header sorts, nothing selected.
    {
        Checks check(where + QStringLiteral(", sorts"));
        left->clearSelection();
        settle();
        std::vector<double> name, nameAgain, id;
        repeat(runsFor(size, options), nullptr, [&] {
            name.push_back(timeMs([&] {
                left->sortByColumn(1, Qt::AscendingOrder);
                settle();
            }));
            nameAgain.push_back(timeMs([&] {
                left->sortByColumn(1, Qt::DescendingOrder);
                settle();
            }));
            id.push_back(timeMs([&] {
                left->sortByColumn(2, Qt::AscendingOrder);
                settle();
            }));
            check(left->topLevelItem(0)->text(2) < left->topLevelItem(size - 1)->text(2), "sorted by ID again");
            return 0.0;
        });
        record(report, QStringLiteral("ref.sort.name"), size, name, check.failed());
        record(report, QStringLiteral("ref.sort.namerev"), size, nameAgain, check.failed());
        record(report, QStringLiteral("ref.sort.id"), size, id, check.failed());
    }

    // ">>" of all: every selected item taken from one list and added to the
    // other. Quadratic, so each run is capped; a capped run is extrapolated
    // linearly from the items it moved (each take/add costs about the same
    // throughout, as the two lists together always hold every item).
    {
        Checks check(where + QStringLiteral(", \">>\""));
        Runs runs;
        runs.maxRuns = options.quick ? 1 : (size <= 1000 ? 5 : size <= 8000 ? 3 : 1);
        runs.maxSeconds = options.referenceCapSeconds;
        runs.minRuns = 1;
        bool extrapolated = false;
        const double capMs = options.referenceCapSeconds * 1000.0;
        const auto times = repeat(runs, [&] {
            refill();
            left->selectAll();
            settle();
        }, [&] {
            const Clock::time_point start = Clock::now();
            const QList<QTreeWidgetItem *> items = left->selectedItems();
            qsizetype moved = 0;
            for (QTreeWidgetItem *item : items) {
                right->addTopLevelItem(left->takeTopLevelItem(left->indexOfTopLevelItem(item)));
                ++moved;
                if (moved % 64 == 0 && msSince(start) > capMs)
                    break;
            }
            settle();
            double t = msSince(start);
            if (moved < items.size()) {
                extrapolated = true;
                progress(QStringLiteral("QTreeWidget \">>\" at %1 capped after %2 of %3 items (%4 s); extrapolated")
                             .arg(size).arg(moved).arg(items.size()).arg(t / 1000.0, 0, 'f', 1));
                t = t * double(items.size()) / double(moved);
            } else {
                check(right->topLevelItemCount() == size && left->topLevelItemCount() == 0, "every item moved");
            }
            return t;
        });
        record(report, QStringLiteral("ref.addall"), size, times, check.failed(), extrapolated);
        clearTrees();
    }
}

// ---------------------------------------------------------------------------
// The floor: the same bytes fetched over loopback and parsed with pugixml.

void benchFloor(Report &report, const QString &key, int port, int size, const ControlOptions &options)
{
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_tcp_nodelay(true);
    client.set_read_timeout(30, 0);
    const std::string path = QStringLiteral("/Velmora.asp?EmployeeID=%1").arg(LoadEmployee).toStdString();
    Checks check(QStringLiteral("%1 at %2").arg(key).arg(size));
    size_t bytes = 0;
    const auto times = repeat(runsFor(size, options, 15, 21), nullptr, [&] {
        pugi::xml_document document;
        bool parsed = false;
        const double t = timeMs([&] {
            const auto result = client.Get(path);
            if (result && result->status == 200) {
                bytes = result->body.size();
                parsed = bool(document.load_buffer(result->body.data(), result->body.size()));
            }
        });
        check(parsed && std::distance(document.first_child().child("NonSelectedCenters").begin(),
                                      document.first_child().child("NonSelectedCenters").end()) == size,
              "the document fetched and parsed");
        return t;
    });
    record(report, key, size, times, check.failed());
    report.set(QStringLiteral("docsize"), size, Figure{double(bytes) / 1e6, 1, false, bytes == 0});
}

// The same document served by a plain HTTP server with nothing else to do:
// the bytes are fetched once from velmora-server and sent as they are (a
// body with a known length, never compressed).
class StaticServer
{
public:
    explicit StaticServer(QByteArray body)
        : m_body(std::move(body))
    {
        m_server.set_tcp_nodelay(true);
        m_server.Get(R"(/+Velmora\.asp)", [this](const httplib::Request &, httplib::Response &res) {
            const QByteArray bytes = m_body;
            res.set_content_provider(size_t(bytes.size()), "text/xml; charset=utf-8",
                                     [bytes](size_t offset, size_t length, httplib::DataSink &sink) {
                                         return sink.write(bytes.constData() + offset, length);
                                     });
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port > 0) {
            m_thread = std::thread([this] { m_server.listen_after_bind(); });
            for (int i = 0; i < 5000 && !m_server.is_running(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~StaticServer()
    {
        m_server.stop();
        if (m_thread.joinable())
            m_thread.join();
    }
    int port() const { return m_port; }

private:
    QByteArray m_body;
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};

QByteArray fetchPlain(int port)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30, 0);
    const auto result = client.Get(QStringLiteral("/Velmora.asp?EmployeeID=%1").arg(LoadEmployee).toStdString());
    if (!result || result->status != 200)
        return {};
    return QByteArray::fromStdString(result->body);
}

} // namespace

void benchControl(Report &report, const QString &baseUrl, int port, int size, const ControlOptions &options)
{
    StaticServer plain(fetchPlain(port));
    if (plain.port() <= 0) {
        report.note(QStringLiteral("The plain loopback server at %1 centers did not start.").arg(size));
        return;
    }
    const QString staticUrl = QStringLiteral("http://127.0.0.1:%1").arg(plain.port());
    QSize controlSize = Velmora().sizeHint();
    if (options.ours) {
        progress(QStringLiteral("control at %1 centers").arg(size));
        benchOurs(report, baseUrl, staticUrl, size, options, &controlSize);
    }
    if (options.reference) {
        progress(QStringLiteral("QTreeWidget reference at %1 centers").arg(size));
        benchReference(report, baseUrl, staticUrl, size, options, controlSize);
    }
    if (options.floor) {
        progress(QStringLiteral("floor at %1 centers").arg(size));
        benchFloor(report, QStringLiteral("floor.static"), plain.port(), size, options);
        benchFloor(report, QStringLiteral("floor"), port, size, options);
    }
}

// ---------------------------------------------------------------------------
// Memory, in fresh processes so that nothing else this program did counts.

int memoryChildMain(const QString &baseUrl, int size)
{
    Velmora control;
    control.setEmployeeID(QString::number(LoadEmployee));
    control.show();
    settle();
    const long empty = statusKb("VmRSS:");
    // A load that fails at once (404) brings up the network stack without
    // any centers, to tell its share apart.
    control.setServerName(baseUrl + QStringLiteral("/missing"));
    settle();
    const long warm = statusKb("VmRSS:");
    control.setServerName(baseUrl);
    // Idle for a moment: the control makes the names' sort keys after a
    // load, a slice per turn of the event loop, and they belong to it loaded.
    QTest::qWait(300);
    const ListAdapter lists[2] = {ListAdapter(child<CenterListView>(control, "lstCenters")),
                                  ListAdapter(child<CenterListView>(control, "lstSelectedCenters"))};
    if (lists[0].count() != size) {
        std::fprintf(stderr, "bench: the memory child loaded %d of %d centers\n", lists[0].count(), size);
        return 1;
    }
    const long loaded = statusKb("VmRSS:");
    const long loadPeak = statusKb("VmHWM:");
    // 100 moves of every center, ">>" and "<<" in turn, each kept by undo.
    // After the first two each list has shown every center once.
    QPushButton *buttons[2] = {child<QPushButton>(control, "cmdAddAll"), child<QPushButton>(control, "cmdRemoveAll")};
    long shownBoth = 0;
    for (int move = 0; move < 100; ++move) {
        if (move == 2)
            shownBoth = statusKb("VmRSS:");
        const ListAdapter &from = lists[move % 2];
        from.selectOnly(allRows(from.count()));
        from.click();
        QTest::mouseClick(buttons[move % 2], Qt::LeftButton);
        settle();
        if (lists[(move + 1) % 2].count() != size) {
            std::fprintf(stderr, "bench: move %d of the memory child moved nothing\n", move);
            return 1;
        }
    }
    std::printf("%ld %ld %ld %ld %ld %ld\n", empty, warm, loaded, loadPeak, shownBoth, statusKb("VmRSS:"));
    return 0;
}

void benchMemory(Report &report, const QString &baseUrl, int size, bool quick)
{
    progress(QStringLiteral("memory at %1 centers").arg(size));
    std::vector<double> resident, peak, network, moves, laterMoves;
    const int runs = quick ? 1 : 3;
    for (int run = 0; run < runs; ++run) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--memory-child"), baseUrl, QString::number(size)});
        if (!child.waitForFinished(60000)) {
            child.kill();
            child.waitForFinished(5000);
            break;
        }
        const QList<QByteArray> fields = child.readAllStandardOutput().simplified().split(' ');
        if (child.exitCode() != 0 || fields.size() != 6)
            break;
        const double empty = fields[0].toDouble();
        const double warm = fields[1].toDouble();
        resident.push_back((fields[2].toDouble() - empty) / 1024.0);
        peak.push_back((fields[3].toDouble() - empty) / 1024.0);
        network.push_back((warm - empty) / 1024.0);
        moves.push_back((fields[5].toDouble() - fields[2].toDouble()) / 1024.0);
        laterMoves.push_back((fields[5].toDouble() - fields[4].toDouble()) / 1024.0);
    }
    const bool failed = int(resident.size()) != runs;
    Figure figure{median(resident), int(resident.size()), false, failed};
    report.set(QStringLiteral("memory"), size, figure);
    report.set(QStringLiteral("memory.peak"), size, Figure{median(peak), int(peak.size()), false, failed});
    report.set(QStringLiteral("memory.network"), size, Figure{median(network), int(network.size()), false, failed});
    report.set(QStringLiteral("memory.moves"), size, Figure{median(moves), int(moves.size()), false, failed});
    report.set(QStringLiteral("memory.latermoves"), size, Figure{median(laterMoves), int(laterMoves.size()), false, failed});
}

void benchLinks(Report &report, int serverPort, int size, bool quick)
{
    Velmora control;
    control.setEmployeeID(QString::number(LoadEmployee));
    control.show();
    settle();
    const ListAdapter left(child<CenterListView>(control, "lstCenters"));
    ControlOptions options;
    options.quick = quick;
    for (const auto &link : Links) {
        ShapingProxy proxy(serverPort, {link.megabitsPerSecond, link.roundTripMs});
        const QString url = QStringLiteral("http://127.0.0.1:%1").arg(proxy.port());
        Checks check(QStringLiteral("load at %1 through %2").arg(size).arg(QLatin1String(link.key)));
        const auto times = repeat(runsFor(size, options), nullptr, [&] {
            const double t = timeMs([&] {
                control.setServerName(url);
                settle();
            });
            check(left.count() == size, "the list filled after the load");
            return t;
        });
        record(report, QLatin1String(link.key), size, times, check.failed());
    }

    // What a load receives: the document as the control asks for it.
    httplib::Client client("127.0.0.1", serverPort);
    client.set_decompress(false);
    const auto result = client.Get(QStringLiteral("/Velmora.asp?EmployeeID=%1").arg(LoadEmployee).toStdString(),
                                   {{"Accept-Encoding", "gzip"}});
    Figure bytes;
    bytes.value = result ? double(result->body.size()) / 1e6 : 0.0;
    bytes.runs = 1;
    bytes.failed = !result || result->status != 200;
    report.set(QStringLiteral("docsize.wire"), size, bytes);
}

} // namespace Bench
