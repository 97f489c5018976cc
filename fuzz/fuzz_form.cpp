// A commit body as the server receives it: form decoding, then the check of
// the fields as one commit. Properties:
//   - the decoder agrees with a reference decoder, field for field, also on
//     where it refuses (with the server's field limit and a small one);
//   - a commit is accepted exactly when every field is named "SQL" and holds
//     one of the two statement shapes with plain integers in range, all for
//     one employee from 1 up;
//   - what is accepted is the statement the control would have written for
//     the same numbers, character for character.
#include "fuzzcheck.h"
#include "reference.h"

#include <commitrequest.h>
#include <httpserver.h>

#include "core/changeset.h"

#include <variant>

namespace VelmoraFuzz {

namespace {

QString rendered(const VelmoraServerCore::Statement &statement)
{
    using namespace VelmoraServerCore;
    if (const auto *insert = std::get_if<InsertStatement>(&statement))
        return VelmoraInternal::ChangeSet::insertStatement(insert->employee, QString::number(insert->center));
    const auto &remove = std::get<DeleteStatement>(statement);
    QStringList ids;
    for (qint32 c : remove.centers)
        ids << QString::number(c);
    return VelmoraInternal::ChangeSet::deleteStatement(remove.employee, ids);
}

void checkDecoding(QByteArrayView body, int maxFields, QList<VelmoraServerCore::FormField> *fields, bool *decoded)
{
    using VelmoraServerCore::FormDecoder;
    FormDecoder::Error error;
    *decoded = FormDecoder::decode(body, maxFields, fields, &error);
    int referenceField = 0;
    const auto reference = referenceForm(body, maxFields, &referenceField);
    VELMORA_FUZZ_CHECK(*decoded == reference.has_value(), "the decoder and the reference disagree on refusing");
    if (!*decoded) {
        VELMORA_FUZZ_CHECK(error.field == referenceField, "the decoder blames another field than the reference");
        VELMORA_FUZZ_CHECK(!error.reason.isEmpty(), "a refusal without a reason");
        return;
    }
    VELMORA_FUZZ_CHECK(fields->size() == reference->size(), "the decoder found another number of fields");
    VELMORA_FUZZ_CHECK(fields->size() <= maxFields, "more fields than the limit");
    for (qsizetype i = 0; i < fields->size(); ++i) {
        VELMORA_FUZZ_CHECK(fields->at(i).name == reference->at(i).name, "a field name decodes differently");
        VELMORA_FUZZ_CHECK(fields->at(i).value == reference->at(i).value, "a field value decodes differently");
    }
}

} // namespace

int formBody(const std::uint8_t *data, std::size_t size)
{
    using namespace VelmoraServerCore;
    const QByteArrayView body(reinterpret_cast<const char *>(data), qsizetype(size));

    // A small limit (1 to 8 fields) reaches the "too many fields" path with
    // short inputs; the server's own limit is what a request meets.
    QList<FormField> small;
    bool smallDecoded = false;
    checkDecoding(body, 1 + (size > 0 ? data[0] % 8 : 0), &small, &smallDecoded);

    QList<FormField> fields;
    bool decoded = false;
    checkDecoding(body, VelmoraServer::MaxFields, &fields, &decoded);
    if (!decoded)
        return 0;

    CommitRequest request;
    CommitRequest::Refusal refusal;
    const bool accepted = CommitRequest::fromFields(fields, &request, &refusal);

    // The reference verdict on the same fields.
    bool referenceAccepts = !fields.isEmpty();
    std::optional<qint64> employee;
    QList<ReferenceStatement> statements;
    for (const FormField &field : std::as_const(fields)) {
        const auto statement = field.name == u"SQL" ? referenceStatement(field.value) : std::nullopt;
        if (!statement || (employee && *employee != statement->employee)) {
            referenceAccepts = false;
            break;
        }
        employee = statement->employee;
        statements << *statement;
    }
    if (referenceAccepts && *employee < CommitRequest::FirstChangeableEmployee)
        referenceAccepts = false;
    VELMORA_FUZZ_CHECK(accepted == referenceAccepts,
                       accepted ? "a commit was accepted that the reference refuses"
                                : "a commit was refused that the reference accepts");

    if (!accepted) {
        VELMORA_FUZZ_CHECK(refusal.httpStatus == 400 || refusal.httpStatus == 403, "a refusal with an odd status");
        VELMORA_FUZZ_CHECK(!refusal.reason.isEmpty(), "a refusal without a reason");
        return 0;
    }
    VELMORA_FUZZ_CHECK(request.employee() == *employee, "the commit names another employee");
    VELMORA_FUZZ_CHECK(request.entries().size() == fields.size(), "an accepted commit lost or gained a field");
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const CommitRequest::Entry &entry = request.entries()[i];
        VELMORA_FUZZ_CHECK(entry.field == i + 1, "an entry points at the wrong field");
        VELMORA_FUZZ_CHECK(StatementParser::employeeOf(entry.statement) == request.employee(),
                           "an accepted statement names another employee");
        VELMORA_FUZZ_CHECK(rendered(entry.statement) == fields[i].value,
                           "an accepted statement is not what the control writes for its numbers");
        const ReferenceStatement &expected = statements[i];
        if (const auto *insert = std::get_if<InsertStatement>(&entry.statement)) {
            VELMORA_FUZZ_CHECK(expected.isInsert && expected.centers == QList<qint64>{insert->center},
                               "an insert with other numbers than the reference");
        } else {
            const auto &remove = std::get<DeleteStatement>(entry.statement);
            QList<qint64> centers;
            for (qint32 c : remove.centers)
                centers << c;
            VELMORA_FUZZ_CHECK(!expected.isInsert && expected.centers == centers,
                               "a delete with other numbers than the reference");
        }
    }
    return 0;
}

} // namespace VelmoraFuzz

VELMORA_FUZZ_ENTRY(formBody)
