#include "page/documentanswer.h"

#include "page/centercatalogue.h"
#include "page/gzipwriter.h"
#include "page/pageanswers.h"
#include "page/statementparser.h"

#include "protocol/formencoding.h"
#include "protocol/page.h"

#include <QStringList>

namespace VelmoraServerCore {

namespace {

using VelmoraProtocol::EmployeeQuery;

// The employee the query names, written as the control writes a number;
// or the refusal.
bool employeeOf(const std::string &query, qint32 *employee, HttpAnswer *refusal)
{
    QStringList values;
    for (const QByteArrayView piece : QByteArray::fromRawData(query.data(), qsizetype(query.size())).split('&')) {
        const qsizetype eq = piece.indexOf('=');
        QString name;
        QString value;
        if (!VelmoraProtocol::urlDecode(eq < 0 ? piece : piece.first(eq), &name)
            || (eq >= 0 && !VelmoraProtocol::urlDecode(piece.sliced(eq + 1), &value))) {
            *refusal = HttpAnswer::text(400, QStringLiteral("malformed percent escape in the query"));
            return false;
        }
        if (name == EmployeeQuery)
            values << value;
    }
    if (values.size() != 1) {
        *refusal = HttpAnswer::text(
            400, values.isEmpty() ? QStringLiteral("%1 is missing (%2?%1=N)")
                                        .arg(EmployeeQuery, VelmoraProtocol::PagePath.sliced(1))
                                  : QStringLiteral("%1 is given more than once").arg(EmployeeQuery));
        return false;
    }
    if (!StatementParser::parseInteger(values.first(), employee)) {
        *refusal = HttpAnswer::text(400, QStringLiteral("%1 \"%2\" is not a whole number as the control writes one: "
                                                        "expected -2147483648 to 2147483647 in plain decimal digits, "
                                                        "with an optional '-' and no leading zeros")
                                             .arg(EmployeeQuery, values.first().left(32)));
        return false;
    }
    return true;
}

} // namespace

HttpAnswer DocumentAnswer::forRequest(const HttpRequest &request, CenterStore &store, CatalogueCache &catalogue)
{
    qint32 employee = 0;
    HttpAnswer answer;
    if (!employeeOf(request.query, &employee, &answer))
        return answer;
    CatalogueLookup lookup(catalogue);
    QList<qint32> assigned;
    CenterStore::Error error;
    if (!store.document(employee, lookup, &assigned, &error))
        return PageAnswers::storeError(error);
    answer.contentType = "text/xml; charset=utf-8";
    answer.headers.emplace_back("Cache-Control", "no-store");
    // One address, plain or compressed bytes by what the client accepts.
    answer.headers.emplace_back("Vary", "Accept-Encoding");
    if (acceptsGzip(request.acceptEncoding)) {
        answer.headers.emplace_back("Content-Encoding", "gzip");
        answer.body = lookup.catalogue()->gzipDocument(assigned);
    } else {
        answer.body = lookup.catalogue()->document(assigned);
    }
    return answer;
}

} // namespace VelmoraServerCore
