// Every input kept in the fuzzers' seed corpora (fuzz/corpus/<fuzzer>/) and
// every input that once broke a property (fuzz/regressions/<fuzzer>/) goes
// through its harness again, one row per file.
#include "fuzzcheck.h"

#include <QDir>
#include <QTest>

#include <stdexcept>

void VelmoraFuzz::failure(const std::string &what)
{
    throw std::runtime_error(what);
}

using Harness = int (*)(const std::uint8_t *, std::size_t);
Q_DECLARE_METATYPE(Harness)

class TestFuzzRegressions : public QObject
{
    Q_OBJECT

private slots:
    void keptInput_data()
    {
        QTest::addColumn<Harness>("harness");
        QTest::addColumn<QString>("path");
        const std::pair<const char *, Harness> fuzzers[] = {{"fuzz_form", VelmoraFuzz::formBody}, {"fuzz_statement", VelmoraFuzz::statementText},
                                                            {"fuzz_document", VelmoraFuzz::centerDocument}, {"fuzz_roundtrip", VelmoraFuzz::roundTrip}};
        for (const auto &[name, harness] : fuzzers) {
            for (const char *kind : {"corpus", "regressions"}) {
                const QDir dir(QStringLiteral(VELMORA_FUZZ_DIR "/%1/%2").arg(QLatin1String(kind), QLatin1String(name)));
                for (const QString &file : dir.entryList(QDir::Files, QDir::Name))
                    QTest::addRow("%s/%s/%s", kind, name, qPrintable(file)) << harness << dir.filePath(file);
            }
        }
    }

    void keptInput()
    {
        QFETCH(Harness, harness);
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray input = file.readAll();
        try {
            harness(reinterpret_cast<const std::uint8_t *>(input.constData()), std::size_t(input.size()));
        } catch (const std::runtime_error &broken) {
            QFAIL(broken.what());
        }
    }
};

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
