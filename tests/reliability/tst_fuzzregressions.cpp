// Every input kept in the fuzzers' seed corpora (fuzz/corpus/<fuzzer>/) and
// every input that once broke a fuzz property (fuzz/regressions/<fuzzer>/)
// goes through the same harness again, in the normal build and under the
// sanitizers, one row per file.
#include "fuzzcheck.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <stdexcept>

namespace {

struct PropertyBroken : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

using Harness = int (*)(const std::uint8_t *, std::size_t);

struct Fuzzer
{
    const char *name;
    Harness harness;
};

constexpr Fuzzer Fuzzers[] = {
    {"fuzz_form", VelmoraFuzz::formBody},
    {"fuzz_statement", VelmoraFuzz::statementText},
    {"fuzz_document", VelmoraFuzz::centerDocument},
    {"fuzz_roundtrip", VelmoraFuzz::roundTrip},
};

} // namespace

namespace VelmoraFuzz {

void failure(const std::string &what, const char *file, int line)
{
    throw PropertyBroken(what + " (" + file + ":" + std::to_string(line) + ")");
}

} // namespace VelmoraFuzz

class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everyKeptInputHolds_data();
    void everyKeptInputHolds();
};

void TestFuzzRegressions::everyKeptInputHolds_data()
{
    QTest::addColumn<int>("fuzzer");
    QTest::addColumn<QString>("path");
    const QDir root(QStringLiteral(VELMORA_FUZZ_DIR));
    int rows = 0;
    for (int f = 0; f < int(std::size(Fuzzers)); ++f) {
        for (const char *kind : {"corpus", "regressions"}) {
            const QDir dir(root.filePath(QStringLiteral("%1/%2").arg(QLatin1String(kind), QLatin1String(Fuzzers[f].name))));
            for (const QString &file : dir.entryList(QDir::Files, QDir::Name)) {
                if (file.startsWith(u'.') || file == u"README.md")
                    continue;
                QTest::addRow("%s/%s/%s", kind, Fuzzers[f].name, qPrintable(file)) << f << dir.filePath(file);
                ++rows;
            }
        }
    }
    if (rows == 0)
        qFatal("no corpus files under %s", VELMORA_FUZZ_DIR);
}

void TestFuzzRegressions::everyKeptInputHolds()
{
    QFETCH(int, fuzzer);
    QFETCH(QString, path);
    QFile file(path);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QByteArray input = file.readAll();
    QElapsedTimer timer;
    timer.start();
    try {
        Fuzzers[fuzzer].harness(reinterpret_cast<const std::uint8_t *>(input.constData()), std::size_t(input.size()));
    } catch (const PropertyBroken &broken) {
        QFAIL(broken.what());
    }
    // The fuzzers run with -timeout=10; a kept input is far quicker.
    QVERIFY2(timer.elapsed() < 10000, qPrintable(QStringLiteral("took %1 ms").arg(timer.elapsed())));
}

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
