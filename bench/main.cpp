// velmora-bench: every operation of the control and the server at 1,000,
// 8,000 and 32,767 centers, against Qt's own QTreeWidget used the plainest
// way and against the parse floor, printed as one Markdown table.
//
//   velmora-bench [--sizes 1000,8000,32767] [--pg URL | --no-pg] [--quick]
//                 [--reference-cap SECONDS] [--parts ours,reference,floor,memory,link,server]
//   velmora-bench --shape PORT [--rate MBIT] [--rtt MS]
//
// --shape runs the shaping proxy alone in front of a server on
// 127.0.0.1:PORT, for loads by hand (velmora-demo --server URL), until it
// is stopped.
//
// Everything runs on 127.0.0.1: velmora-server in this process on a free
// port, on SQLite files in a temporary directory and, given a PostgreSQL
// URL (or VELMORA_BENCH_PG), on schemas of their own that are dropped again.
// Progress goes to stderr, the table to stdout. The figures are reported,
// never judged by the exit code.

#include "benchdata.h"
#include "controlbench.h"
#include "measure.h"
#include "report.h"
#include "serverbench.h"
#include "shapingproxy.h"

#include "velmoraserver.h"

#include "protocol/limits.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QTemporaryDir>

#include <cstdio>

using namespace Bench;

namespace {

void defineRows(Report &report, bool withPostgres)
{
    auto atMost = [](double limit, const QString &text) {
        return Budget{text, [limit](double v) { return v <= limit; }};
    };
    auto atLeast = [](double limit, const QString &text) {
        return Budget{text, [limit](double v) { return v >= limit; }};
    };

    report.heading(QStringLiteral("Control"));
    report.define("load", "load: setServerName to filled lists (velmora-server)", Unit::Ms, true,
                  atMost(100, "≤ 100 ms"));
    report.define("ratio.floor", "load ÷ floor (velmora-server)", Unit::Times, false, atMost(4, "≤ 4×"));
    for (const auto &link : Links) {
        const bool vpn = link.roundTripMs > 10.0;
        report.define(QLatin1String(link.key),
                      QStringLiteral("load through the shaping proxy, %1 (velmora-server)")
                          .arg(Link{link.megabitsPerSecond, link.roundTripMs}.name()),
                      Unit::Ms, true, vpn ? atMost(250, "≤ 250 ms") : atMost(120, "≤ 120 ms"));
    }
    report.define("load.static", "load of the same bytes from a plain loopback server", Unit::Ms, true,
                  atMost(100, "≤ 100 ms"));
    report.define("ratio.floor.static", "load ÷ floor (plain loopback server)", Unit::Times, false,
                  atMost(4, "≤ 4×"));
    report.define("selectall", "select all (Ctrl+A, click rule included)", Unit::Ms, true);
    report.define("click", "click rule on a fully selected list", Unit::Ms, true, atMost(10, "≤ 10 ms"));
    report.define("addone", "\">\" of one center", Unit::Ms, true, atMost(2, "≤ 2 ms"));
    report.define("addall", "\">>\" of all centers", Unit::Ms, true, atMost(6, "≤ 6 ms"));
    report.define("undo.addall", "Ctrl+Z of \">>\" of all centers", Unit::Ms, true, atMost(6, "≤ 6 ms"));
    report.define("removeall", "\"<<\" of all centers", Unit::Ms, true, atMost(6, "≤ 6 ms"));
    report.define("sort.name", "header sort: Name", Unit::Ms, true, atMost(15, "≤ 15 ms"));
    report.define("sort.namerev", "header sort: Name again (reversed)", Unit::Ms, true, atMost(15, "≤ 15 ms"));
    report.define("sort.id", "header sort: ID", Unit::Ms, true, atMost(50, "≤ 50 ms"));
    report.define("sort.name.selected", "header sort: Name, every row selected", Unit::Ms, true,
                  atMost(50, "≤ 50 ms"));
    report.define("find.name", "find by name, miss", Unit::Ms, true, atMost(10, "≤ 10 ms"));
    report.define("find.id", "find by ID, miss", Unit::Ms, true, atMost(10, "≤ 10 ms"));
    report.define("commitbody", "commit body, every center marked", Unit::Ms, true, atMost(50, "≤ 50 ms"));
    report.define("urlencode", "Velmora::urlEncode", Unit::MBps, false, atLeast(200, "≥ 200 MB/s"));
    report.define("urlencode.append", "appendUrlEncoded (the commit body's)", Unit::MBps, false,
                  atLeast(200, "≥ 200 MB/s"));
    report.define("memory", "resident memory above an empty control", Unit::MB, true, atMost(40, "≤ 40 MB"));
    report.define("memory.peak", "peak resident memory above an empty control", Unit::MB, true);
    report.define("memory.network", "of which the network stack's first use", Unit::MB, false);
    report.define("memory.moves", "resident memory after 100 moves of every center, above that after the load",
                  Unit::MB, true, atMost(2, "≤ 2 MB"));
    report.define("memory.latermoves", "of which from the 3rd to the 100th move (the history's share)", Unit::MB, true);

    report.heading(QStringLiteral("Reference: QTreeWidget, the plainest way"));
    report.define("ref.load", "load (velmora-server): QNetworkAccessManager, QDomDocument, items added one by one, "
                  "sorting on", Unit::Ms, true);
    report.define("ref.load.static", "load (plain loopback server), the same way", Unit::Ms, true);
    report.define("ref.selectall", "select all", Unit::Ms, true);
    report.define("ref.addall", "\">>\" of all: take/add each selected item", Unit::Ms, true);
    report.define("ref.sort.name", "sort: Name", Unit::Ms, true);
    report.define("ref.sort.namerev", "sort: Name reversed", Unit::Ms, true);
    report.define("ref.sort.id", "sort: ID", Unit::Ms, true);
    report.define("ratio.load", "load: QTreeWidget ÷ ours (velmora-server)", Unit::Times, false,
                  atLeast(5, "≥ 5×"));
    report.define("ratio.load.static", "load: QTreeWidget ÷ ours (plain loopback server)", Unit::Times, false,
                  atLeast(5, "≥ 5×"));
    report.define("ratio.addall", "\">>\": QTreeWidget ÷ ours", Unit::Times, false, atLeast(12, "≥ 12×"));
    report.define("ratio.sort", "sort by name: QTreeWidget ÷ ours", Unit::Times, false);

    report.heading(QStringLiteral("Floor: the same bytes over loopback, parsed with pugixml alone"));
    report.define("floor", "fetch (cpp-httplib client) and pugixml parse (velmora-server)", Unit::Ms, true);
    report.define("floor.static", "the same from the plain loopback server", Unit::Ms, true);
    report.define("docsize", "document size", Unit::MB, true);
    report.define("docsize.wire", "bytes a load receives (gzip where the server sends it)", Unit::MB, true);

    report.heading(QStringLiteral("Server: velmora-server on loopback, 8 worker threads"));
    QList<QPair<QString, QString>> backends{{QStringLiteral("sqlite"), QStringLiteral("SQLite")}};
    if (withPostgres)
        backends.append({QStringLiteral("pg"), QStringLiteral("PostgreSQL")});
    for (const auto &[key, name] : backends) {
        const bool sqlite = key == u"sqlite";
        // PostgreSQL serves the sites with many operators: its budgets are tighter.
        report.define("srv.doc." + key, QStringLiteral("document, every center (%1)").arg(name), Unit::Ms, true,
                      sqlite ? atMost(100, "≤ 100 ms") : atMost(50, "≤ 50 ms"));
        report.define("srv.doc.gz." + key, QStringLiteral("document, every center, gzip asked for (%1)").arg(name),
                      Unit::Ms, true, atMost(30, "≤ 30 ms"));
        report.define("srv.doc.changed.gz." + key,
                      QStringLiteral("document, gzip, just after a center changed (%1)").arg(name), Unit::Ms, true);
        report.define("srv.cpu." + key, QStringLiteral("server CPU per document (%1)").arg(name), Unit::Ms, true);
        report.define("srv.cpu.gz." + key, QStringLiteral("server CPU per document, gzip asked for (%1)").arg(name),
                      Unit::Ms, true);
        report.define("srv.commit." + key, QStringLiteral("commit of n inserts (%1)").arg(name), Unit::Ms, true,
                      sqlite ? atMost(2000, "≤ 2 s") : atMost(300, "≤ 300 ms"));
        report.define("srv.delete." + key, QStringLiteral("commit of one DELETE of n centers (%1)").arg(name),
                      Unit::Ms, true, sqlite ? std::optional<Budget>() : std::optional<Budget>(atMost(300, "≤ 300 ms")));
        report.define("srv.small." + key, QStringLiteral("small commits, 8 clients (%1)").arg(name), Unit::PerSecond,
                      false, sqlite ? std::optional<Budget>(atLeast(1000, "≥ 1,000 /s")) : std::nullopt);
        if (sqlite)
            report.define("srv.small.sqlite.normal", "small commits, 8 clients (SQLite, --sqlite-sync-normal)",
                          Unit::PerSecond, false);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velmora-bench"));

    const QStringList arguments = QApplication::arguments();
    if (arguments.size() == 4 && arguments[1] == u"--memory-child")
        return memoryChildMain(arguments[2], arguments[3].toInt());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Velmora benchmarks: prints one table of figures."));
    parser.addHelpOption();
    QCommandLineOption sizesOption(QStringLiteral("sizes"), QStringLiteral("Comma-separated numbers of centers."),
                                   QStringLiteral("list"), QStringLiteral("1000,8000,32767"));
    QCommandLineOption pgOption(QStringLiteral("pg"), QStringLiteral("PostgreSQL URL (default: $VELMORA_BENCH_PG)."),
                                QStringLiteral("url"), qEnvironmentVariable("VELMORA_BENCH_PG"));
    QCommandLineOption noPgOption(QStringLiteral("no-pg"), QStringLiteral("Skip PostgreSQL."));
    QCommandLineOption quickOption(QStringLiteral("quick"), QStringLiteral("Few runs, short bounds (a smoke test)."));
    QCommandLineOption capOption(QStringLiteral("reference-cap"),
                                 QStringLiteral("Seconds after which a QTreeWidget move-all run is extrapolated."),
                                 QStringLiteral("seconds"), QStringLiteral("30"));
    QCommandLineOption partsOption(QStringLiteral("parts"), QStringLiteral("Which parts to run."),
                                   QStringLiteral("list"), QStringLiteral("ours,reference,floor,memory,link,server"));
    QCommandLineOption shapeOption(QStringLiteral("shape"), QStringLiteral("Only run the shaping proxy in front of 127.0.0.1:PORT."),
                                   QStringLiteral("port"));
    QCommandLineOption rateOption(QStringLiteral("rate"), QStringLiteral("The proxy's rate, each way."), QStringLiteral("Mbit/s"),
                                  QStringLiteral("20"));
    QCommandLineOption rttOption(QStringLiteral("rtt"), QStringLiteral("The proxy's round trip."), QStringLiteral("ms"),
                                 QStringLiteral("20"));
    parser.addOptions({sizesOption, pgOption, noPgOption, quickOption, capOption, partsOption, shapeOption, rateOption,
                       rttOption});
    parser.process(app);
    if (parser.isSet(shapeOption)) {
        const Link link{parser.value(rateOption).toDouble(), parser.value(rttOption).toDouble()};
        if (!(link.megabitsPerSecond > 0.0 && link.roundTripMs >= 0.0)) {
            std::fprintf(stderr, "velmora-bench: --rate must be above 0 and --rtt at least 0\n");
            return 2;
        }
        ShapingProxy proxy(parser.value(shapeOption).toInt(), link);
        std::printf("shaping http://127.0.0.1:%d to 127.0.0.1:%s at %s\n", proxy.port(),
                    qPrintable(parser.value(shapeOption)), qPrintable(link.name()));
        std::fflush(stdout);
        return QApplication::exec();
    }

    std::vector<int> sizes;
    for (const QString &text : parser.value(sizesOption).split(u',', Qt::SkipEmptyParts)) {
        const int n = text.trimmed().toInt();
        if (n < 2 || n > VelmoraProtocol::MaxCenters) {
            std::fprintf(stderr, "velmora-bench: size %s is not between 2 and 32,767\n", qPrintable(text));
            return 2;
        }
        sizes.push_back(n);
    }
    const QStringList parts = parser.value(partsOption).split(u',');
    const bool quick = parser.isSet(quickOption);
    const QString pgUrl = parser.isSet(noPgOption) ? QString() : parser.value(pgOption);

    ControlOptions controlOptions;
    controlOptions.quick = quick;
    controlOptions.referenceCapSeconds = std::max(1.0, parser.value(capOption).toDouble());
    controlOptions.ours = parts.contains(u"ours");
    controlOptions.reference = parts.contains(u"reference");
    controlOptions.floor = parts.contains(u"floor");
    const bool anyControl = controlOptions.ours || controlOptions.reference || controlOptions.floor;
    ServerOptions serverOptions;
    serverOptions.quick = quick;
    serverOptions.smallCommitSeconds = quick ? 1.0 : 2.0;

    Report report(sizes);
    defineRows(report, !pgUrl.isEmpty());

    QTemporaryDir directory;
    if (!directory.isValid()) {
        std::fprintf(stderr, "velmora-bench: no temporary directory\n");
        return 1;
    }

    const QString loadBefore = loadAverage();
    const Clock::time_point started = Clock::now();
    for (int size : sizes) {
        const QList<VelmoraServerCore::Center> centers = generateCenters(size);
        const QString sqlite = directory.filePath(QStringLiteral("centers-%1.sqlite").arg(size));
        QString error;
        if (!fillDatabase(sqlite, centers, &error)) {
            report.note(QStringLiteral("SQLite at %1 centers could not be filled: %2").arg(size).arg(error));
            continue;
        }

        if (anyControl || parts.contains(u"memory") || parts.contains(u"link")) {
            VelmoraServerCore::VelmoraServer::Options options;
            options.port = 0;
            options.database = sqlite;
            VelmoraServerCore::VelmoraServer server(options);
            if (!server.start(&error)) {
                report.note(QStringLiteral("The server at %1 centers did not start: %2").arg(size).arg(error));
                continue;
            }
            const QString baseUrl = QStringLiteral("http://127.0.0.1:%1").arg(server.port());
            if (anyControl)
                benchControl(report, baseUrl, server.port(), size, controlOptions);
            if (parts.contains(u"memory"))
                benchMemory(report, baseUrl, size, quick);
            if (parts.contains(u"link"))
                benchLinks(report, server.port(), size, quick);
            server.stop();
        }

        if (parts.contains(u"server")) {
            benchServer(report, QStringLiteral("sqlite"), sqlite, centers, serverOptions);
            if (!pgUrl.isEmpty()) {
                const QString pg = withSchema(pgUrl, QStringLiteral("velmora_bench_%1").arg(size));
                if (fillDatabase(pg, centers, &error))
                    benchServer(report, QStringLiteral("pg"), pg, centers, serverOptions);
                else
                    report.note(QStringLiteral("PostgreSQL at %1 centers could not be filled: %2").arg(size).arg(error));
                dropSchema(pg, &error);
            }
        }
    }

    report.setRatio(QStringLiteral("ratio.floor"), QStringLiteral("load"), QStringLiteral("floor"));
    report.setRatio(QStringLiteral("ratio.floor.static"), QStringLiteral("load.static"), QStringLiteral("floor.static"));
    report.setRatio(QStringLiteral("ratio.load"), QStringLiteral("ref.load"), QStringLiteral("load"));
    report.setRatio(QStringLiteral("ratio.load.static"), QStringLiteral("ref.load.static"),
                    QStringLiteral("load.static"));
    report.setRatio(QStringLiteral("ratio.addall"), QStringLiteral("ref.addall"), QStringLiteral("addall"));
    report.setRatio(QStringLiteral("ratio.sort"), QStringLiteral("ref.sort.name"), QStringLiteral("sort.name"));

#ifdef NDEBUG
    const QString build = QStringLiteral("Release");
#else
    const QString build = QStringLiteral("a build without NDEBUG (not Release: figures are not comparable)");
#endif
    report.note(QStringLiteral("Medians over repeated runs (up to 15–31 per figure, each part bounded in time). "
                               "Growth: the figure at the largest size ÷ the smallest; linear is ×%1, "
                               "n log n about ×%2.")
                    .arg(double(sizes.back()) / sizes.front(), 0, 'f', 0)
                    .arg(double(sizes.back()) * std::log2(double(sizes.back()))
                             / (double(sizes.front()) * std::log2(double(sizes.front()))),
                         0, 'f', 0));
    report.note(QStringLiteral("Times of the control include the layout and paint they trigger (offscreen). "
                               "Loads fetch the document of an employee with no assignment (every center in one "
                               "list): \"velmora-server\" rows from velmora-server on SQLite, so they include its "
                               "work; \"plain loopback server\" rows the same bytes from a server that only sends "
                               "them."));
    report.note(QStringLiteral("† a single run; ≈…* extrapolated linearly from the items moved before the cap "
                               "of %1 s.").arg(controlOptions.referenceCapSeconds));
    const Report::Verdicts verdicts = report.verdicts();
    if (!verdicts.missed.isEmpty())
        report.note(QStringLiteral("Budgets missed: %1.").arg(verdicts.missed.join(QStringLiteral("; "))));
    if (!verdicts.unmeasured.isEmpty())
        report.note(QStringLiteral("Budgets not measured: %1.").arg(verdicts.unmeasured.join(QStringLiteral("; "))));

    const QString title = QStringLiteral("Velmora benchmarks, %1 (%2 s)\n\nMachine: %3; Qt %4; %5 build; "
                                         "QT_QPA_PLATFORM=%6; load average %7 before, %8 after.")
                              .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                              .arg(msSince(started) / 1000.0, 0, 'f', 0)
                              .arg(machineDescription(), QString::fromLatin1(qVersion()), build,
                                   qEnvironmentVariable("QT_QPA_PLATFORM"), loadBefore, loadAverage());
    const QByteArray text = report.render(title).toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    return 0;
}
