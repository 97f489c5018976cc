#include "page/statementparser.h"

#include "protocol/limits.h"
#include "protocol/statements.h"

#include <limits>

namespace VelmoraServerCore {

namespace {

// The texts are the protocol's, so both ends accept and build the same
// statements.
using VelmoraProtocol::DeleteEnd;
using VelmoraProtocol::DeleteHead;
using VelmoraProtocol::DeleteIn;
using VelmoraProtocol::InsertHead;
using VelmoraProtocol::InsertTail;
using VelmoraProtocol::MaxCenters;
using VelmoraProtocol::Separator;

// A piece of the statement as a refusal names it: "',' after ...".
QString quotedPiece(QChar piece)
{
    return u'\'' + QString(piece) + u'\'';
}

QString quotedPiece(QStringView piece)
{
    return u'"' + piece.toString() + u'"';
}

// A reading position over the statement text with the few steps the two
// shapes need; every step moves forward only, so parsing stays linear.
class Cursor
{
public:
    explicit Cursor(QStringView text) : m_text(text) {}

    bool atEnd() const { return m_pos == m_text.size(); }
    qsizetype pos() const { return m_pos; }

    bool literal(QStringView expected)
    {
        if (!m_text.sliced(m_pos).startsWith(expected))
            return false;
        m_pos += expected.size();
        return true;
    }

    bool character(QChar c)
    {
        if (atEnd() || m_text[m_pos] != c)
            return false;
        ++m_pos;
        return true;
    }

    // Takes an optional '-' and the digits after it (at most a few more
    // than a 32-bit number needs, so that an overlong run is reported as
    // such without reading all of it) and converts them.
    enum class Number { Ok, Missing, Malformed, OutOfRange };
    Number integer(qint32 *value)
    {
        constexpr qsizetype MaxScan = 12;
        qsizetype end = m_pos;
        if (end < m_text.size() && m_text[end] == u'-')
            ++end;
        const qsizetype digitsStart = end;
        while (end < m_text.size() && end - digitsStart < MaxScan && m_text[end] >= u'0' && m_text[end] <= u'9')
            ++end;
        if (end == digitsStart)
            return Number::Missing;
        // "0x3EC", "12e3", "34abc": a number that goes on in letters or
        // other digits is not a decimal one, whatever its first digits say.
        if (end < m_text.size() && end - digitsStart < MaxScan && m_text[end].isLetterOrNumber())
            return Number::Malformed;
        const QStringView run = m_text.sliced(m_pos, end - m_pos);
        if (!StatementParser::parseInteger(run, value)) {
            const bool leadingZero = m_text[digitsStart] == u'0';
            return leadingZero ? Number::Malformed : Number::OutOfRange;
        }
        m_pos = end;
        return Number::Ok;
    }

    // A short, printable excerpt of the text at the current position.
    QString excerpt() const
    {
        if (atEnd())
            return QStringLiteral("the end of the statement");
        constexpr qsizetype MaxShown = 24;
        QString shown;
        for (QChar c : m_text.sliced(m_pos).left(MaxShown))
            shown += (c.isPrint() ? c : QChar(u'?'));
        if (m_text.size() - m_pos > MaxShown)
            shown += u"...";
        return u'"' + shown + u'"';
    }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

QString expectedAt(const Cursor &cursor, QStringView what)
{
    return QStringLiteral("expected %1 at character %2, found %3")
        .arg(what).arg(cursor.pos() + 1).arg(cursor.excerpt());
}

// What a number at this place must look like, for the refusal texts.
QString expectedNumber(bool center)
{
    return center ? QStringLiteral("expected a center ID from 1 to 2147483647 in plain decimal digits")
                  : QStringLiteral("expected an employee number from -2147483648 to 2147483647 in plain decimal "
                                   "digits");
}

QString numberProblem(const Cursor &cursor, Cursor::Number problem, QStringView what, bool center)
{
    switch (problem) {
    case Cursor::Number::Ok:
        break;
    case Cursor::Number::Missing:
        return expectedAt(cursor, what);
    case Cursor::Number::Malformed:
        return QStringLiteral("%1 at character %2 is not a plain decimal number (no leading zeros, no other "
                              "characters): %3; %4")
            .arg(what).arg(cursor.pos() + 1).arg(cursor.excerpt(), expectedNumber(center));
    case Cursor::Number::OutOfRange:
        return QStringLiteral("%1 at character %2 is outside the 32-bit range: %3; %4")
            .arg(what).arg(cursor.pos() + 1).arg(cursor.excerpt(), expectedNumber(center));
    }
    return {};
}

bool readCenter(Cursor &cursor, qint32 *center, QString *reason)
{
    const qsizetype at = cursor.pos();
    const auto result = cursor.integer(center);
    if (result != Cursor::Number::Ok) {
        *reason = numberProblem(cursor, result, u"a center ID", true);
        return false;
    }
    if (*center <= 0) {
        *reason = QStringLiteral("center ID %1 at character %2 is not positive; %3")
                      .arg(*center).arg(at + 1).arg(expectedNumber(true));
        return false;
    }
    return true;
}

bool readEmployee(Cursor &cursor, qint32 *employee, QString *reason)
{
    const auto result = cursor.integer(employee);
    if (result != Cursor::Number::Ok) {
        *reason = numberProblem(cursor, result, u"the employee number", false);
        return false;
    }
    return true;
}

bool parseInsert(Cursor &cursor, InsertStatement *insert, QString *reason)
{
    if (!readEmployee(cursor, &insert->employee, reason))
        return false;
    if (!cursor.character(Separator)) {
        *reason = expectedAt(cursor, QStringLiteral("%1 after the employee number").arg(quotedPiece(Separator)));
        return false;
    }
    if (!readCenter(cursor, &insert->center, reason))
        return false;
    if (!cursor.literal(InsertTail)) {
        *reason = expectedAt(cursor, QStringLiteral("%1 (with the final blank) after the center ID")
                                         .arg(quotedPiece(InsertTail)));
        return false;
    }
    if (!cursor.atEnd()) {
        *reason = expectedAt(cursor, u"the end of the statement");
        return false;
    }
    return true;
}

bool parseDelete(Cursor &cursor, DeleteStatement *del, QString *reason)
{
    if (!readEmployee(cursor, &del->employee, reason))
        return false;
    if (!cursor.literal(DeleteIn)) {
        *reason = expectedAt(cursor, QStringLiteral("%1 after the employee number").arg(quotedPiece(DeleteIn)));
        return false;
    }
    for (;;) {
        if (del->centers.size() == MaxCenters) {
            *reason = QStringLiteral("more than %1 center IDs in one DELETE").arg(MaxCenters);
            return false;
        }
        qint32 center = 0;
        if (!readCenter(cursor, &center, reason))
            return false;
        del->centers.append(center);
        if (cursor.character(Separator))
            continue;
        if (cursor.character(DeleteEnd))
            break;
        *reason = expectedAt(cursor, QStringLiteral("%1 or %2 after a center ID")
                                         .arg(quotedPiece(Separator), quotedPiece(DeleteEnd)));
        return false;
    }
    if (!cursor.atEnd()) {
        *reason = expectedAt(cursor, QStringLiteral("the end of the statement after %1").arg(quotedPiece(DeleteEnd)));
        return false;
    }
    return true;
}

} // namespace

bool StatementParser::parseInteger(QStringView text, qint32 *value)
{
    const bool negative = text.startsWith(u'-');
    const QStringView digits = text.sliced(negative ? 1 : 0);
    // "0" is the only number that starts with 0; "-0" is not written.
    if (digits.isEmpty() || digits.size() > 10 || (digits.front() == u'0' && (digits.size() > 1 || negative)))
        return false;
    qint64 magnitude = 0;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return false;
        magnitude = magnitude * 10 + (c.unicode() - u'0');
    }
    const qint64 signedValue = negative ? -magnitude : magnitude;
    if (signedValue < std::numeric_limits<qint32>::min() || signedValue > std::numeric_limits<qint32>::max())
        return false;
    *value = static_cast<qint32>(signedValue);
    return true;
}

bool StatementParser::parse(QStringView text, Statement *statement, QString *reason)
{
    Cursor cursor(text);
    if (cursor.literal(InsertHead)) {
        InsertStatement insert;
        if (!parseInsert(cursor, &insert, reason))
            return false;
        *statement = insert;
        return true;
    }
    if (cursor.literal(DeleteHead)) {
        DeleteStatement del;
        if (!parseDelete(cursor, &del, reason))
            return false;
        *statement = std::move(del);
        return true;
    }
    *reason = QStringLiteral("not one of the two accepted statements (the control's INSERT of one center "
                             "or DELETE of listed centers on CenterEmployeeCrossReference)");
    return false;
}

qint32 StatementParser::employeeOf(const Statement &statement)
{
    return std::visit([](const auto &s) { return s.employee; }, statement);
}

} // namespace VelmoraServerCore
