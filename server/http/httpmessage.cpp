#include "http/httpmessage.h"

namespace VelmoraServerCore {

Q_LOGGING_CATEGORY(lcHttp, "velmora.server.http", QtWarningMsg)

HttpAnswer HttpAnswer::text(int status, const QString &text)
{
    HttpAnswer answer;
    answer.status = status;
    answer.body = text.toUtf8();
    if (status >= 400)
        answer.reason = text;
    return answer;
}

HttpAnswer HttpAnswer::busy()
{
    HttpAnswer answer = text(503, QStringLiteral("the server is busy; nothing was changed, please try again shortly"));
    answer.headers.emplace_back("Retry-After", "1");
    return answer;
}

HttpAnswer HttpAnswer::shortOfMemory()
{
    return text(503, QStringLiteral("the server is short of memory; nothing was changed, please try again shortly"));
}

} // namespace VelmoraServerCore
