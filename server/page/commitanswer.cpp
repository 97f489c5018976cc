#include "page/commitanswer.h"

#include "page/commitrequest.h"
#include "page/formdecoder.h"
#include "page/pageanswers.h"
#include "store/centerstore.h"

#include "protocol/limits.h"
#include "protocol/page.h"

namespace VelmoraServerCore {

namespace {

using VelmoraProtocol::MaxCenters;

// The media type of a Content-Type value, without parameters, lower case.
QLatin1StringView mediaType(const std::string &value, std::string *type)
{
    *type = value.substr(0, value.find(';'));
    const auto first = type->find_first_not_of(" \t");
    const auto last = type->find_last_not_of(" \t");
    *type = first == std::string::npos ? std::string() : type->substr(first, last - first + 1);
    for (char &c : *type)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return QLatin1StringView(type->data(), qsizetype(type->size()));
}

QString count(int n, QStringView noun)
{
    return QStringLiteral("%1 %2%3").arg(n).arg(noun).arg(n == 1 ? "" : "s");
}

// The changes the body asks for, or the refusal.
bool changesOf(const HttpRequest &request, ChangeList *changes, HttpAnswer *refusal)
{
    if (std::string type; mediaType(request.contentType, &type) != VelmoraProtocol::FormContentType) {
        *refusal = HttpAnswer::text(415, QStringLiteral("the body must be %1, not \"%2\"")
                                             .arg(VelmoraProtocol::FormContentType,
                                                  QString::fromStdString(request.contentType).left(80)));
        return false;
    }
    QList<FormField> fields;
    FormDecoder::Error formError;
    if (!FormDecoder::decode(QByteArrayView(request.body), MaxCenters, &fields, &formError)) {
        *refusal = HttpAnswer::text(formError.field > MaxCenters ? 413 : 400, formError.reason);
        return false;
    }
    CommitRequest::Refusal commitRefusal;
    if (!CommitRequest::fromFields(fields, changes, &commitRefusal)) {
        *refusal = HttpAnswer::text(commitRefusal.httpStatus, commitRefusal.reason);
        return false;
    }
    return true;
}

} // namespace

HttpAnswer CommitAnswer::forRequest(const HttpRequest &request, CenterStore &store)
{
    ChangeList changes;
    HttpAnswer refusal;
    if (!changesOf(request, &changes, &refusal))
        return refusal;
    CenterStore::Outcome outcome;
    CenterStore::Error error;
    if (!store.apply(changes, &outcome, &error))
        return PageAnswers::storeError(error);
    return HttpAnswer::text(200, QStringLiteral("Saved for employee %1: %2 added, %3 removed.")
                                     .arg(changes.employee)
                                     .arg(count(outcome.added, u"center"))
                                     .arg(outcome.removed));
}

} // namespace VelmoraServerCore
