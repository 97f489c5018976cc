// The server's log of requests: one line per request, written once its
// answer has gone out (or its connection was refused at the framing), e.g.
//
//   2024-05-01T10:00:00.123Z 10.0.0.7 alice "POST /Velmora.asp" 200 48 12ms
//   2024-05-01T10:00:01.456Z 10.0.0.9 - "GET /Velmora.asp?EmployeeID=x" 400 94 0ms "EmployeeID ..."
//
// the time (UTC), the client's address, the user who signed in ("-" for
// none), the method and target with every password masked, the status,
// the bytes of the body sent, the time since the head was complete, and
// for a refusal its reason.
#pragma once

#include "http/httpmessage.h"

#include <QString>

#include <functional>

namespace VelmoraServerCore::RequestLog {

QString line(const HttpRequest &request, const HttpAnswer &answer, qint64 bytes);

// A sink that writes each line to stderr, whole, whichever thread logs.
std::function<void(const QString &line)> toStderr();

} // namespace VelmoraServerCore::RequestLog
