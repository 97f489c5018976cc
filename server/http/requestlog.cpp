#include "http/requestlog.h"

#include "protocol/maskedaddress.h"

#include <QDateTime>
#include <QMutex>

#include <cstdio>

namespace VelmoraServerCore::RequestLog {

// The target with its passwords masked (in the user information of an
// absolute one, and in query items such as ?token=); masked whole before it
// is cut to its first 200 characters. A reason is one line.
QString line(const HttpRequest &request, const HttpAnswer &answer, qint64 bytes)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                          - request.start);
    QString line = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) + u' ' + request.remote + u' '
        + (request.user.isEmpty() ? QStringLiteral("-") : request.user)
        + QStringLiteral(" \"%1 %2\" %3 %4 %5ms")
              .arg(QString::fromStdString(request.method).left(20),
                   VelmoraProtocol::maskedAddress(QString::fromStdString(request.target)).left(200))
              .arg(answer.status)
              .arg(bytes)
              .arg(ms.count());
    if (!answer.reason.isEmpty()) {
        QString reason = answer.reason.left(300);
        for (QChar &c : reason) {
            if (c.unicode() < 0x20)
                c = u' ';
        }
        line += QStringLiteral(" \"%1\"").arg(reason);
    }
    return line;
}

std::function<void(const QString &)> toStderr()
{
    return [](const QString &line) {
        static QMutex mutex;
        const QByteArray bytes = line.toUtf8() + '\n';
        QMutexLocker lock(&mutex);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    };
}

} // namespace VelmoraServerCore::RequestLog
