// The statement parser on any text, read two ways from the input: as
// Windows-1252 bytes (what a form field decodes to) and as UTF-16 units (any
// character at all). Properties:
//   - it accepts exactly what the reference accepts, with the same numbers;
//   - an accepted text is what the control writes for those numbers;
//   - the integer reader agrees with the reference;
//   - every statement the control writes for numbers in range is accepted
//     (the input also read as 32-bit numbers: an employee and centers).
#include "fuzzcheck.h"
#include "reference.h"

#include <statementparser.h>

#include "core/changeset.h"

#include <cstring>
#include <variant>

namespace VelmoraFuzz {

namespace {

using namespace VelmoraServerCore;

QString rendered(const Statement &statement)
{
    if (const auto *insert = std::get_if<InsertStatement>(&statement))
        return VelmoraInternal::ChangeSet::insertStatement(insert->employee, QString::number(insert->center));
    const auto &remove = std::get<DeleteStatement>(statement);
    QStringList ids;
    for (qint32 c : remove.centers)
        ids << QString::number(c);
    return VelmoraInternal::ChangeSet::deleteStatement(remove.employee, ids);
}

QList<qint64> centersOf(const Statement &statement)
{
    QList<qint64> centers;
    if (const auto *insert = std::get_if<InsertStatement>(&statement)) {
        centers << insert->center;
    } else {
        for (qint32 c : std::get<DeleteStatement>(statement).centers)
            centers << c;
    }
    return centers;
}

void checkText(QStringView text)
{
    Statement statement;
    QString reason;
    const bool accepted = StatementParser::parse(text, &statement, &reason);
    const auto reference = referenceStatement(text);
    VELMORA_FUZZ_CHECK(accepted == reference.has_value(),
                       accepted ? "the parser accepts a text the reference refuses"
                                : "the parser refuses a text the reference accepts");
    if (!accepted) {
        VELMORA_FUZZ_CHECK(!reason.isEmpty(), "a refusal without a reason");
    } else {
        VELMORA_FUZZ_CHECK(rendered(statement) == text, "an accepted text is not what the control writes");
        VELMORA_FUZZ_CHECK(StatementParser::employeeOf(statement) == reference->employee,
                           "the parser reads another employee");
        VELMORA_FUZZ_CHECK(std::holds_alternative<InsertStatement>(statement) == reference->isInsert,
                           "the parser reads another kind of statement");
        VELMORA_FUZZ_CHECK(centersOf(statement) == reference->centers, "the parser reads other centers");
    }

    qint32 value = 0;
    const bool isInteger = StatementParser::parseInteger(text, &value);
    const auto referenceValue = referenceInteger(text);
    VELMORA_FUZZ_CHECK(isInteger == referenceValue.has_value(), "the integer reader and the reference disagree");
    VELMORA_FUZZ_CHECK(!isInteger || value == *referenceValue, "the integer reader reads another value");
}

void checkWritten(const std::uint8_t *data, std::size_t size)
{
    if (size < 8)
        return;
    auto numberAt = [&](std::size_t at) {
        qint32 n = 0;
        std::memcpy(&n, data + at, sizeof n);
        return n;
    };
    const qint32 employee = numberAt(0);
    QList<qint32> centers;
    QStringList ids;
    for (std::size_t at = 4; at + 4 <= size && centers.size() < 64; at += 4) {
        centers << numberAt(at);
        ids << QString::number(centers.back());
    }
    bool allPositive = true;
    for (qint32 c : std::as_const(centers))
        allPositive = allPositive && c > 0;

    Statement statement;
    QString reason;
    const QString insert = VelmoraInternal::ChangeSet::insertStatement(employee, ids.first());
    const bool insertAccepted = StatementParser::parse(insert, &statement, &reason);
    VELMORA_FUZZ_CHECK(insertAccepted == (centers.first() > 0), "the control's insert is judged wrongly");
    if (insertAccepted) {
        VELMORA_FUZZ_CHECK(std::get<InsertStatement>(statement).employee == employee
                               && std::get<InsertStatement>(statement).center == centers.first(),
                           "the control's insert is read with other numbers");
    }
    const QString remove = VelmoraInternal::ChangeSet::deleteStatement(employee, ids);
    const bool deleteAccepted = StatementParser::parse(remove, &statement, &reason);
    VELMORA_FUZZ_CHECK(deleteAccepted == allPositive, "the control's delete is judged wrongly");
    if (deleteAccepted) {
        VELMORA_FUZZ_CHECK(std::get<DeleteStatement>(statement).employee == employee
                               && std::get<DeleteStatement>(statement).centers == centers,
                           "the control's delete is read with other numbers");
    }
}

} // namespace

int statementText(const std::uint8_t *data, std::size_t size)
{
    QString bytes(qsizetype(size), Qt::Uninitialized);
    for (std::size_t i = 0; i < size; ++i)
        bytes[qsizetype(i)] = QChar(windows1252Char(data[i]));
    checkText(bytes);

    QString units(qsizetype(size / 2), Qt::Uninitialized);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        units[qsizetype(i / 2)] = QChar(char16_t(data[i] | data[i + 1] << 8));
    checkText(units);

    checkWritten(data, size);
    return 0;
}

} // namespace VelmoraFuzz

VELMORA_FUZZ_ENTRY(statementText)
