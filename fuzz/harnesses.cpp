// The fuzz harnesses and the plain references they compare against, one per
// libFuzzer target (VELMORA_FUZZ_TARGET names it), and, built as the suite
// tst_fuzzregressions (VELMORA_FUZZ_REPLAY), the replay of every kept input.
// A broken property is a finding: under libFuzzer it aborts, so that the
// input is saved as a crash; in the suite it fails the input's row. The
// references are written apart from the product code (regular expressions,
// splitting by the book), so a finding is a disagreement between two
// independent readings. Besides the properties below, libFuzzer watches for
// crashes, hangs and memory (-timeout, -rss_limit_mb, -malloc_limit_mb).
#include "page/commitrequest.h"
#include "page/documentwriter.h"
#include "page/formdecoder.h"
#include "page/statementparser.h"
#include "servertexts.h"

#include "core/centerdocument.h"
#include "protocol/limits.h"
#include "protocol/windows1252.h"

#include <QRegularExpression>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <stdexcept>

namespace VelmoraFuzz {

void check(bool holds, const std::string &what)
{
    if (holds)
        return;
#ifdef VELMORA_FUZZ_REPLAY
    throw std::runtime_error(what);
#else
    std::fprintf(stderr, "\n*** property broken: %s\n", what.c_str());
    std::abort();
#endif
}

namespace {

using namespace VelmoraServerCore;

// Form decoding by the book; *failedField is the 1-based non-empty piece
// that is refused.
std::optional<QList<FormField>> referenceForm(QByteArrayView body, int maxFields, int *failedField)
{
    auto decode = [](const QByteArray &part) -> std::optional<QString> {
        static const QRegularExpression badEscape(QStringLiteral("%(?![0-9A-Fa-f]{2})"));
        if (QString::fromLatin1(part).contains(badEscape))
            return std::nullopt;
        QString text;
        for (const char byte : QByteArray::fromPercentEncoding(QByteArray(part).replace('+', ' ')))
            text += QChar(VelmoraProtocol::Windows1252::toUnicode(std::uint8_t(byte)));
        return text;
    };
    QList<FormField> fields;
    *failedField = 0;
    for (const QByteArray &piece : QByteArray(body.data(), body.size()).split('&')) {
        if (piece.isEmpty())
            continue;
        const auto name = decode(piece.left(piece.indexOf('=')));
        const auto value = decode(piece.mid(piece.indexOf('=') + 1));
        if (++*failedField > maxFields || !piece.contains('=') || !name || !value)
            return std::nullopt;
        fields.append({*name, *value});
    }
    *failedField = 0;
    return fields;
}

// The statement as the control writes it: the numbers read by regular
// expression, then the text rebuilt by the control's own change set.
std::optional<Statement> referenceStatement(const QString &text)
{
    static const QString N = QStringLiteral("(0|-?[1-9][0-9]{0,9})");
    static const QRegularExpression insert(QStringLiteral(R"(\AINSERT INTO CenterEmployeeCrossReference \(EmployeeID,CenterID,RecordLastUpdated\) VALUES \()") + N + u',' + N + QStringLiteral(R"(,GETDATE\(\) \) \z)"));
    static const QRegularExpression del(QStringLiteral(R"(\ADELETE FROM CenterEmployeeCrossReference WHERE EmployeeID=)") + N + QStringLiteral(R"( AND CenterID IN\(([0-9,-]+)\)\z)"));
    auto number = [](QStringView digits, qint64 low, std::optional<qint32> *out) {
        static const QRegularExpression plain(QStringLiteral("\\A(0|-?[1-9][0-9]{0,9})\\z"));
        const qint64 value = digits.toLongLong();
        if (plain.match(digits).hasMatch() && value >= low && value <= 2147483647)
            *out = qint32(value);
    };
    std::optional<qint32> employee;
    QList<qint32> centers;
    auto m = insert.match(text);
    const bool isInsert = m.hasMatch();
    if (!isInsert && !(m = del.match(text)).hasMatch())
        return std::nullopt;
    number(m.capturedView(1), -2147483648LL, &employee);
    const QStringList ids = isInsert ? QStringList{m.captured(2)} : m.captured(2).split(u',');
    for (const QString &id : ids) {
        std::optional<qint32> center;
        number(id, 1, &center);
        if (!center)
            return std::nullopt;
        centers << *center;
    }
    if (!employee || centers.size() > VelmoraProtocol::MaxCenters)
        return std::nullopt;
    if (isInsert)
        return InsertStatement{*employee, centers.first()};
    return DeleteStatement{*employee, centers};
}

QString rendered(const Statement &statement)
{
    if (const auto *insert = std::get_if<InsertStatement>(&statement))
        return ServerTexts::insert(insert->employee, insert->center);
    return ServerTexts::remove(StatementParser::employeeOf(statement), std::get<DeleteStatement>(statement).centers);
}

QString rendered(qint32 employee, const ChangeList::Change &change)
{
    if (const auto *assign = std::get_if<ChangeList::Assign>(&change))
        return ServerTexts::insert(employee, assign->center);
    return ServerTexts::remove(employee, std::get<ChangeList::Remove>(change).centers);
}

} // namespace

int formBody(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView body(reinterpret_cast<const char *>(data), qsizetype(size));
    // A small limit (1 to 8 fields) reaches "too many fields" with short
    // inputs; the server's own limit is what a request meets.
    QList<FormField> fields;
    for (const int maxFields : {1 + (size > 0 ? data[0] % 8 : 0), VelmoraProtocol::MaxCenters}) {
        FormDecoder::Error error;
        int referenceField = 0;
        const bool decoded = FormDecoder::decode(body, maxFields, &fields, &error);
        const auto reference = referenceForm(body, maxFields, &referenceField);
        check(decoded == reference.has_value(), "the decoder and the reference disagree on refusing");
        check(decoded || (error.field == referenceField && !error.reason.isEmpty()), "the decoder blames another field than the reference");
        for (qsizetype i = 0; decoded && i < fields.size(); ++i)
            check(reference->size() == fields.size() && fields[i].name == reference->at(i).name && fields[i].value == reference->at(i).value, "a field decodes differently");
        if (!decoded)
            return 0;
    }
    // A commit is accepted exactly when every field is an accepted SQL
    // statement, all for one employee from 1 up.
    bool referenceAccepts = !fields.isEmpty();
    for (const FormField &field : std::as_const(fields)) {
        const auto statement = field.name == u"SQL" ? referenceStatement(field.value) : std::nullopt;
        referenceAccepts = referenceAccepts && statement
            && StatementParser::employeeOf(*statement) == StatementParser::employeeOf(*referenceStatement(fields.first().value))
            && StatementParser::employeeOf(*statement) >= CommitRequest::FirstChangeableEmployee;
    }
    ChangeList changes;
    CommitRequest::Refusal refusal;
    const bool accepted = CommitRequest::fromFields(fields, &changes, &refusal);
    check(accepted == referenceAccepts, accepted ? "a commit was accepted that the reference refuses" : "a commit was refused that the reference accepts");
    check(accepted || ((refusal.httpStatus == 400 || refusal.httpStatus == 403) && !refusal.reason.isEmpty()), "a refusal with an odd status or no reason");
    for (qsizetype i = 0; accepted && i < fields.size(); ++i)
        check(changes.changes.size() == fields.size() && rendered(changes.employee, changes.changes[i]) == fields[i].value, "an accepted field is not the statement it holds");
    return 0;
}

int statementText(const std::uint8_t *data, std::size_t size)
{
    // The bytes read as UTF-16 units (fuzz_form reads them as Windows-1252).
    QString units;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        units += QChar(char16_t(data[i] | data[i + 1] << 8));
    Statement statement;
    QString reason;
    const bool accepted = StatementParser::parse(units, &statement, &reason);
    const auto reference = referenceStatement(units);
    check(accepted == reference.has_value(), accepted ? "the parser accepts a text the reference refuses" : "the parser refuses a text the reference accepts");
    check(accepted || !reason.isEmpty(), "a refusal without a reason");
    check(!accepted || (rendered(statement) == units && rendered(*reference) == units), "an accepted text is not what the control writes for its numbers");
    return 0;
}

int centerDocument(const std::uint8_t *data, std::size_t size)
{
    // The reader's rules are the tables of tst_centerdocument; here only: no
    // crash, no hang, bounded memory, and a failure always says why.
    VelmoraInternal::CenterDocument document;
    QString error;
    const bool read = VelmoraInternal::CenterDocumentReader::read(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)), &document, &error);
    check(read == error.isEmpty(), "a read that succeeds with a reason, or fails without one");
    return 0;
}

int roundTrip(const std::uint8_t *data, std::size_t size)
{
    // Centers with any names through the server's document writer and the
    // control's reader: every name arrives, characters XML cannot hold as
    // U+FFFD.
    CenterLists lists;
    // (The first byte chose between two checks once; it is kept so that the
    // kept inputs still mean what they meant.)
    qint32 id = size >= 5 ? 1 + qint32((data[1] | data[2] << 8 | data[3] << 16) & 0x3FFFFFFF) : 1;
    for (std::size_t at = size >= 5 ? 4 : 1; at < size;) {
        const bool assigned = data[at] & 0x80;
        const std::size_t units = data[at++] & 0x7F;
        QString name;
        for (std::size_t u = 0; u < units && at + 1 < size; ++u, at += 2)
            name += QChar(char16_t(data[at] | data[at + 1] << 8));
        if (!name.isEmpty()) // the database refuses an empty name
            (assigned ? lists.selected : lists.nonSelected).append(Center{id++, name, true});
    }
    VelmoraInternal::CenterDocument document;
    QString error;
    check(VelmoraInternal::CenterDocumentReader::read(DocumentWriter::write(lists), &document, &error), "the control cannot read the server's document: " + error.toStdString());
    auto same = [](const QList<Center> &sent, const std::vector<VelmoraInternal::CenterRecord> &read, quint16 count) {
        check(qsizetype(read.size()) == sent.size() && count == sent.size(), "a list arrives with another number of centers");
        for (qsizetype i = 0; i < sent.size(); ++i) {
            QString safe;
            const QString &name = sent[i].name;
            for (qsizetype k = 0; k < name.size(); ++k) {
                const char16_t c = name[k].unicode();
                const bool pair = QChar::isHighSurrogate(c) && k + 1 < name.size() && QChar::isLowSurrogate(name[k + 1].unicode());
                const bool forbidden = (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c >= 0xFFFE || (QChar::isSurrogate(c) && !pair);
                safe += pair ? name.mid(k++, 2) : QString(forbidden ? QChar(QChar::ReplacementCharacter) : QChar(c));
            }
            check(read[size_t(i)].id.text() == QString::number(sent[i].id) && read[size_t(i)].name == safe, "a center arrives with another ID or name");
        }
    };
    same(lists.nonSelected, document.nonSelected, document.nonSelectedCount);
    same(lists.selected, document.selected, document.selectedCount);
    return 0;
}

} // namespace VelmoraFuzz

#ifdef VELMORA_FUZZ_TARGET
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    return VelmoraFuzz::VELMORA_FUZZ_TARGET(data, size);
}
#endif

#ifdef VELMORA_FUZZ_REPLAY
#include <QDir>
#include <QTest>

using Harness = int (*)(const std::uint8_t *, std::size_t);
Q_DECLARE_METATYPE(Harness)

// Every input kept in the seed corpora (fuzz/corpus/<fuzzer>/) and every
// input that once broke a property (fuzz/regressions/<fuzzer>/), one row each.
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
#include "harnesses.moc"
#endif
